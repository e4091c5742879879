#include "kestrane/model/RationalTime.hpp"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace kestrane {

namespace {

std::int64_t checkedMul(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (__builtin_mul_overflow(a, b, &out)) throw RationalTimeError("time value out of range");
  return out;
}

std::int64_t checkedAdd(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (__builtin_add_overflow(a, b, &out)) throw RationalTimeError("time value out of range");
  return out;
}

double roundFrames(double frames, RationalTime::FrameRounding rounding) {
  switch (rounding) {
    case RationalTime::FrameRounding::down: return std::floor(frames);
    case RationalTime::FrameRounding::up: return std::ceil(frames);
    case RationalTime::FrameRounding::nearest: return std::round(frames);
  }
  return frames;
}

// Exact a ± b at the least common multiple of the two timescales.
RationalTime combine(RationalTime a, RationalTime b, bool subtract) {
  if (a.timescale < 1 || b.timescale < 1) throw RationalTimeError("timescale below 1");
  if (a.timescale == b.timescale) {
    return {subtract ? checkedAdd(a.value, -checkedMul(b.value, 1)) : checkedAdd(a.value, b.value), a.timescale};
  }
  const std::int64_t lcm = std::lcm<std::int64_t>(a.timescale, b.timescale);
  if (lcm > std::numeric_limits<std::int32_t>::max()) {
    throw RationalTimeError("timescales have no common 32-bit multiple");
  }
  const std::int64_t av = checkedMul(a.value, lcm / a.timescale);
  std::int64_t bv = checkedMul(b.value, lcm / b.timescale);
  if (subtract) bv = checkedMul(bv, -1);
  return {checkedAdd(av, bv), static_cast<std::int32_t>(lcm)};
}

}  // namespace

RationalTime RationalTime::snapped(double seconds, RationalTime frameDuration, FrameRounding rounding) {
  if (frameDuration.value == 0 || frameDuration.timescale < 1) {
    throw RationalTimeError("frame duration must be positive");
  }
  const double frames = roundFrames(
      seconds * static_cast<double>(frameDuration.timescale) / static_cast<double>(frameDuration.value), rounding);
  // 2^63 as a double; anything at or beyond it has no 64-bit form.
  constexpr double limit = 9223372036854775808.0;
  if (!std::isfinite(frames) || frames >= limit || frames < -limit) {
    throw RationalTimeError("frame count out of range");
  }
  return {checkedMul(static_cast<std::int64_t>(frames), frameDuration.value), frameDuration.timescale};
}

std::string RationalTime::fcpxmlString() const {
  if (value == 0) return "0s";
  const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::uint64_t g = timescale == 0 ? magnitude : std::gcd(magnitude, static_cast<std::uint64_t>(std::llabs(timescale)));
  if (g < 1) g = 1;
  const std::int64_t numerator = value / static_cast<std::int64_t>(g);
  const std::int64_t denominator = timescale / static_cast<std::int64_t>(g);
  if (denominator == 1) return fmt::format("{}s", numerator);
  return fmt::format("{}/{}s", numerator, denominator);
}

RationalTime RationalTime::standardFrameDuration(double nearestFPS) {
  struct Candidate {
    double fps;
    RationalTime duration;
  };
  static constexpr std::array<Candidate, 8> candidates{{
      {23.976, {1001, 24000}},
      {24, {1, 24}},
      {25, {1, 25}},
      {29.97, {1001, 30000}},
      {30, {1, 30}},
      {50, {1, 50}},
      {59.94, {1001, 60000}},
      {60, {1, 60}},
  }};
  const Candidate* best = &candidates[0];
  for (const auto& c : candidates) {
    if (std::abs(c.fps - nearestFPS) < std::abs(best->fps - nearestFPS)) best = &c;
  }
  return best->duration;
}

RationalTime operator+(RationalTime a, RationalTime b) { return combine(a, b, false); }
RationalTime operator-(RationalTime a, RationalTime b) { return combine(a, b, true); }

}  // namespace kestrane
