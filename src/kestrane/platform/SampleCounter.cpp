#include "kestrane/platform/SampleCounter.hpp"

#include <cmath>

namespace kestrane::platform {

void SampleCounter::add(const SoundClock::Placement& placed, std::int64_t count) {
  // Where a counted sample lies on the file's clock, for the samples this block keeps.
  const std::int64_t offset = placed.position - (counted_ + placed.skipped);
  if (clock_.steps.empty() ? offset != 0 : offset != lastOffset_)
    clock_.steps.push_back({static_cast<double>(counted_) / rate_, static_cast<double>(offset) / rate_});
  lastOffset_ = offset;
  counted_ += count;
}

void SampleCounter::catchUp(double secondsIntoTrack) {
  if (!(std::abs(secondsIntoTrack) < 1e9)) return;
  const auto at = static_cast<std::int64_t>(std::llround(secondsIntoTrack * rate_));
  if (at - counted_ > static_cast<std::int64_t>(0.005 * rate_)) counted_ = at;
}

}  // namespace kestrane::platform
