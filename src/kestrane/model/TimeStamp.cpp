#include "kestrane/model/TimeStamp.hpp"

#include <cmath>
#include <cstdint>
#include <optional>

#include <fmt/format.h>

namespace kestrane {

namespace {

// About 31 years: no recording lasts this long, so a time past it is a damaged timestamp, not a
// time to print as digits (2^63 ms would read as a date in the age of the dinosaurs).
constexpr double kFarthestSeconds = 1e9;

// The words for a time no recording's clock reads; none for a time that is one.
std::optional<std::string> inWords(double seconds) {
  if (std::isnan(seconds)) return "no time at all";
  if (seconds >= kFarthestSeconds) return "a time beyond any recording";
  if (seconds <= -kFarthestSeconds) return "a time before any recording";
  return std::nullopt;
}

std::string minutesAndSeconds(bool negative, std::int64_t wholeSeconds) {
  return fmt::format("{}{}:{:02d}", negative ? "-" : "", wholeSeconds / 60, wholeSeconds % 60);
}

}  // namespace

std::string timeStamp(double seconds) {
  if (std::optional<std::string> words = inWords(seconds)) return *words;
  const auto whole = static_cast<std::int64_t>(std::trunc(std::abs(seconds)));
  return minutesAndSeconds(seconds < 0 && whole > 0, whole);
}

std::string lengthText(double seconds, int decimals) {
  if (std::optional<std::string> words = inWords(seconds)) return *words;
  const auto ms = static_cast<std::int64_t>(std::llround(std::abs(seconds) * 1000));
  std::int64_t places = 1;
  for (int i = 0; i < decimals; ++i) places *= 10;
  const std::int64_t fraction = (ms % 1000) * places / 1000;
  const std::string minutes = minutesAndSeconds(seconds < 0 && (ms >= 1000 || fraction > 0), ms / 1000);
  if (decimals == 0) return minutes;
  return fmt::format("{}.{:0{}d}", minutes, fraction, decimals);
}

int decimalsToTell(double a, double b) {
  int decimals = 0;
  while (decimals < 3 && lengthText(a, decimals) == lengthText(b, decimals)) ++decimals;
  return decimals;
}

}  // namespace kestrane
