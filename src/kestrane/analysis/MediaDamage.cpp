#include "kestrane/analysis/MediaDamage.hpp"

#include <fmt/format.h>

#include <string_view>

#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::MediaDamage {

namespace {

constexpr double kShortfallSeconds = 2.0;
constexpr double kShortfallShare = 0.02;
constexpr std::string_view kEndsEarlyOpening = "The footage's sound ends at ";
constexpr std::string_view kEndsEarlyMiddle = ", before its stated length of ";

}  // namespace

bool endsEarly(double statedSeconds, double readableSeconds) {
  const double shortfall = statedSeconds - readableSeconds;
  return shortfall > kShortfallSeconds && shortfall > kShortfallShare * statedSeconds;
}

std::string endsEarlyWarning(double statedSeconds, double readableSeconds) {
  return fmt::format("{}{}{}{} — the file may be cut off, so only its readable part is used", kEndsEarlyOpening,
                     timeStamp(readableSeconds), kEndsEarlyMiddle, timeStamp(statedSeconds));
}

bool isEndsEarlyWarning(const std::string& warning) {
  return warning.starts_with(kEndsEarlyOpening) && warning.find(kEndsEarlyMiddle) != std::string::npos;
}

std::optional<std::string> skippedWarning(std::size_t stretches) {
  if (stretches == 0) return std::nullopt;
  if (stretches == 1) return "1 damaged stretch was skipped";
  return fmt::format("{} damaged stretches were skipped", stretches);
}

}  // namespace kestrane::MediaDamage
