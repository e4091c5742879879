#pragma once

#include <cstddef>
#include <vector>

namespace kestrane::AudioAnalyzer {

// The measured loudness envelope: one level in dBFS per hop, in time order.
// Level i belongs to the time i * hopDuration; every track we measure uses 10 ms hops.
struct LevelTrack {
    std::vector<float> levelsDBFS;
    double hopDuration = 0.01;

    double time(std::size_t hop) const { return static_cast<double>(hop) * hopDuration; }

    bool operator==(const LevelTrack&) const = default;
};

} // namespace kestrane::AudioAnalyzer
