#pragma once
// The probed facts of one rendered graphics file, as its placement on the timeline needs them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kestrane/model/RationalTime.hpp"

namespace kestrane {

struct GraphicMedia {
  std::string path;
  double durationSeconds = 0;
  RationalTime frameDuration{1, 30};
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool hasVideo = false;
  bool hasAudio = false;
  std::optional<std::int64_t> audioChannelCount;
  std::optional<double> audioSampleRate;
  bool hasAlpha = false;
  std::optional<RationalTime> startTimecode;

  // Whole frames in the file; 0 without a usable frame duration. A length within a millionth of
  // a frame of a whole number of frames counts as that number (binary rounding would lose one).
  std::int64_t frameCount() const {
    const double frame = frameDuration.seconds();
    if (!(frame > 0) || !std::isfinite(durationSeconds) || durationSeconds <= 0) return 0;
    double frames = durationSeconds / frame;
    if (std::abs(frames - std::round(frames)) <= 1e-6) frames = std::round(frames);
    return static_cast<std::int64_t>(std::floor(frames));
  }

  friend bool operator==(const GraphicMedia&, const GraphicMedia&) = default;
};

}  // namespace kestrane

template <>
struct std::hash<kestrane::GraphicMedia> {
  std::size_t operator()(const kestrane::GraphicMedia& m) const noexcept {
    std::size_t h = std::hash<std::string>{}(m.path);
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<double>{}(m.durationSeconds));
    mix(std::hash<kestrane::RationalTime>{}(m.frameDuration));
    mix(std::hash<std::int64_t>{}(m.width));
    mix(std::hash<std::int64_t>{}(m.height));
    mix((m.hasVideo ? 1u : 0u) | (m.hasAudio ? 2u : 0u) | (m.hasAlpha ? 4u : 0u));
    mix(m.audioChannelCount ? std::hash<std::int64_t>{}(*m.audioChannelCount) : 17u);
    mix(m.audioSampleRate ? std::hash<double>{}(*m.audioSampleRate) : 19u);
    mix(m.startTimecode ? std::hash<kestrane::RationalTime>{}(*m.startTimecode) : 23u);
    return h;
  }
};
