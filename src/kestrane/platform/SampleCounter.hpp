#pragma once
// Counts the samples of a sound track from its first one, as earlier builds placed sound, and
// notes where that count parts from the file's clock (SoundClock): the counted clock of the
// sessions they stored. Internal to the platform folder.
#include <cstdint>

#include "kestrane/model/CountedClock.hpp"
#include "kestrane/platform/SoundClock.hpp"

namespace kestrane::platform {

class SampleCounter {
 public:
  explicit SampleCounter(int rate) : rate_(rate) {}

  // A block of `count` samples, placed on the file's clock as `placed` says.
  void add(const SoundClock::Placement& placed, std::int64_t count);

  // Earlier builds filled the time a damaged stretch skipped with silence, counted from the
  // track's start: their count moved on to the first block after it, whose timestamp lies
  // `secondsIntoTrack` after the track's start time.
  void catchUp(double secondsIntoTrack);

  const CountedClock& clock() const { return clock_; }

 private:
  int rate_;
  CountedClock clock_;
  std::int64_t counted_ = 0;  // samples so far, as earlier builds counted them
  std::int64_t lastOffset_ = 0;
};

}  // namespace kestrane::platform
