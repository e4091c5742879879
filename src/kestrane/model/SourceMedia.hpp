#pragma once
// The probed facts of the source footage.
#include <cstdint>
#include <optional>
#include <string>

#include "kestrane/model/RationalTime.hpp"

namespace kestrane {

struct SourceMedia {
  std::string path;
  double durationSeconds = 0;
  // Where the picture ends, as the first cut measured it, when that is before the length (sound
  // recorded apart and joined may run on past it). Sessions of earlier builds have none.
  std::optional<double> pictureEndSeconds;
  RationalTime frameDuration{1001, 30000};
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool hasVideo = false;
  double audioSampleRate = 0;
  std::optional<std::int64_t> audioChannelCount;
  std::optional<RationalTime> startTimecode;
  std::optional<bool> timecodeIsDropFrame;
};

}  // namespace kestrane
