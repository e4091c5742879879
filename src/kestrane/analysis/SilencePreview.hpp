#pragma once
// Live arithmetic behind the silence preview and hand edits: threshold suggestion, bands drawn
// over the waveform, the waveform envelope and time-range algebra. Pure functions; none fails.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane::SilencePreview {

// Where between the noise floor and the speech level the suggestion sits.
inline constexpr double valleyPosition = 0.55;
// How far above the floor the suggestion sits when floor and speech are close together. On a
// recording that is mostly room tone the speech percentile still lies in the room tone, so this
// can lie above it and yet under the speech itself.
inline constexpr double headroomDB = 14.0;

// A closed range of thresholds, lower <= upper.
struct ThresholdRange {
  double lower = -55;
  double upper = -25;
};
// The range the options offer; also the one the nearest sensitivity is judged in.
inline constexpr ThresholdRange standardThresholdRange{-55, -25};

// What a threshold would remove.
struct Summary {
  int gapCount = 0;
  double removedSeconds = 0;
  double totalSeconds = 0;
  std::optional<float> loudestCutDBFS;

  double keptSeconds() const {
    const double kept = totalSeconds - removedSeconds;
    return kept >= 0 ? kept : 0;
  }
  friend bool operator==(const Summary&, const Summary&) = default;
};

// The 10th percentile of the levels (−60 with none).
double noiseFloorDBFS(std::span<const float> levels);
// The 90th percentile of the levels (−30 with none).
double speechLevelDBFS(std::span<const float> levels);

// A whole-number threshold between the floor and the speech level, clamped to the range.
double suggestedThresholdDBFS(std::span<const float> levels, ThresholdRange range = standardThresholdRange);

// In the preview a hop at or below the threshold is silent and runs are counted in whole hops.
Summary summary(std::span<const float> levels, double hopDuration, double thresholdDBFS, double minDuration);

// The silent runs shrunk by the padding on every side that borders speech; bands of 10 ms or
// less disappear.
std::vector<TimeRange> silenceBands(std::span<const float> levels, double hopDuration, double thresholdDBFS,
                                    double minDuration, double speechPadding);

// One value per column, the loudest level of the stretch the column covers.
std::vector<float> envelope(std::span<const float> levels, int columns);

// Ranges sorted by start and merged when they overlap or lie within glue of each other.
std::vector<TimeRange> unionOf(std::span<const TimeRange> ranges, double glue);
// The sum of the durations.
double totalDuration(std::span<const TimeRange> ranges);
// What stays of 0…totalSeconds once the removed ranges are taken out; gaps of 10 ms or less
// are not kept.
std::vector<TimeRange> keepRanges(double totalSeconds, std::span<const TimeRange> removed);
// The first ranges minus the second, disjoint and in time order; pieces of 1 ms or less drop.
std::vector<TimeRange> subtracting(std::span<const TimeRange> ranges, std::span<const TimeRange> taken);

}  // namespace kestrane::SilencePreview
