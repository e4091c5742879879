#pragma once
// Whole numbers from doubles that may come from a file: a value outside the target's range is
// clamped to it and NaN becomes 0, instead of the undefined conversion that would otherwise put
// whatever the machine makes of it into a document.
#include <cmath>
#include <concepts>
#include <limits>

namespace kestrane {

// `value` truncated toward zero, as a T, clamped to T's range.
template <std::integral T>
T clampedInteger(double value) {
  using Limits = std::numeric_limits<T>;
  if (std::isnan(value)) return 0;
  // The smallest double above T's range: 2^bits, or 2^(bits-1) when signed. Exact in a double.
  constexpr double beyond = static_cast<double>(Limits::max() / 2 + 1) * 2.0;
  const double whole = std::trunc(value);
  if (whole < static_cast<double>(Limits::min())) return Limits::min();
  if (whole >= beyond) return Limits::max();
  return static_cast<T>(whole);
}

}  // namespace kestrane
