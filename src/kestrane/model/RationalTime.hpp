#pragma once
// Exact media time: a whole number of ticks at a whole number of ticks per second.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kestrane {

// Raised when an operation would leave the 64-bit range or needs a timescale below 1.
class RationalTimeError : public std::domain_error {
 public:
  using std::domain_error::domain_error;
};

struct RationalTime {
  enum class FrameRounding { down, up, nearest };

  std::int64_t value = 0;
  std::int32_t timescale = 1;

  constexpr RationalTime() = default;
  constexpr RationalTime(std::int64_t v, std::int32_t ts) : value(v), timescale(ts) {}

  static constexpr RationalTime zero() { return {0, 1}; }

  double seconds() const { return static_cast<double>(value) / static_cast<double>(timescale); }

  // A whole number of frames of `frameDuration`, at the frame duration's own timescale.
  static RationalTime snapped(double seconds, RationalTime frameDuration, FrameRounding rounding);

  // FCPXML rational-seconds text: "0s", "6s", "1001/30000s", "-1/2s".
  std::string fcpxmlString() const;

  // Nearest of the standard rates 23.976 … 60; ties keep the slower rate.
  static RationalTime standardFrameDuration(double nearestFPS);

  friend bool operator==(const RationalTime&, const RationalTime&) = default;
};

// Exact sum and difference; mixed timescales meet at their least common multiple.
RationalTime operator+(RationalTime a, RationalTime b);
RationalTime operator-(RationalTime a, RationalTime b);

}  // namespace kestrane

template <>
struct std::hash<kestrane::RationalTime> {
  std::size_t operator()(const kestrane::RationalTime& t) const noexcept {
    return std::hash<std::int64_t>{}(t.value) * 31u + std::hash<std::int32_t>{}(t.timescale);
  }
};
