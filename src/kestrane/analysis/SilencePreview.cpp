#include "kestrane/analysis/SilencePreview.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrane::SilencePreview {
namespace {

constexpr double spreadTestDB = 12.0;
constexpr double floorPercentile = 0.1;
constexpr double speechPercentile = 0.9;
constexpr double emptyFloorDBFS = -60;
constexpr double emptySpeechDBFS = -30;
constexpr float levelFloorDBFS = -80;

// A copy that orders safely: a level that is not a number reads as the measuring floor.
std::vector<float> orderableCopy(std::span<const float> levels) {
  std::vector<float> copy(levels.begin(), levels.end());
  for (float& v : copy) {
    if (std::isnan(v)) v = levelFloorDBFS;
  }
  return copy;
}

std::size_t percentileIndex(std::size_t n, double fraction) {
  const auto index = static_cast<std::size_t>(static_cast<double>(n) * fraction);
  return std::min(n - 1, index);
}

// The level that would sit at the percentile's index once the levels were sorted ascending.
double percentile(std::vector<float>& copy, double fraction) {
  const auto nth = copy.begin() + static_cast<std::ptrdiff_t>(percentileIndex(copy.size(), fraction));
  std::nth_element(copy.begin(), nth, copy.end());
  return static_cast<double>(*nth);
}

// The suggestion before any range: valley between floor and speech, or headroom over the floor.
double unclampedSuggestion(std::span<const float> levels) {
  double floor = emptyFloorDBFS;
  double speech = emptySpeechDBFS;
  if (!levels.empty()) {
    auto copy = orderableCopy(levels);
    floor = percentile(copy, floorPercentile);
    speech = percentile(copy, speechPercentile);
  }
  const double spread = speech - floor;
  return spread > spreadTestDB ? floor + valleyPosition * spread : floor + headroomDB;
}

double clampTo(double t, ThresholdRange range) {
  if (t <= range.lower) t = range.lower;
  if (range.upper < t) t = range.upper;
  return t;
}

// Hops a run needs to count in the preview: the minimum in hops, rounded, at least one.
// Returns nothing when the hop cannot measure time.
std::optional<std::int64_t> minimumHops(double hopDuration, double minDuration) {
  if (!(hopDuration > 0) || !std::isfinite(hopDuration)) return std::nullopt;
  double ratio = std::round(minDuration / hopDuration);
  if (std::isnan(ratio)) ratio = 1;
  ratio = std::clamp(ratio, 1.0, 1e15);
  return static_cast<std::int64_t>(ratio);
}

// Walks the preview's silent runs (levels at or below the threshold), calling
// onRun(runStart, runEnd, runMax, reachesEnd) for every run, counted or not.
template <class OnRun>
void walkRuns(std::span<const float> levels, double thresholdDBFS, OnRun onRun) {
  const auto threshold = static_cast<float>(thresholdDBFS);
  bool inSpeech = true;
  std::size_t runStart = 0;
  float runMax = -std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const float level = levels[i];
    if (level <= threshold) {
      if (inSpeech) {
        runStart = i;
        runMax = -std::numeric_limits<float>::infinity();
      }
      inSpeech = false;
      if (level > runMax) runMax = level;
    } else if (!inSpeech) {
      onRun(runStart, i, runMax, false);
      inSpeech = true;
    }
  }
  if (!inSpeech) onRun(runStart, levels.size(), runMax, true);
}

}  // namespace

double noiseFloorDBFS(std::span<const float> levels) {
  if (levels.empty()) return emptyFloorDBFS;
  auto copy = orderableCopy(levels);
  return percentile(copy, floorPercentile);
}

double speechLevelDBFS(std::span<const float> levels) {
  if (levels.empty()) return emptySpeechDBFS;
  auto copy = orderableCopy(levels);
  return percentile(copy, speechPercentile);
}

double suggestedThresholdDBFS(std::span<const float> levels, ThresholdRange range) {
  return std::round(clampTo(unclampedSuggestion(levels), range));
}

Summary summary(std::span<const float> levels, double hopDuration, double thresholdDBFS, double minDuration) {
  Summary result;
  const auto minHops = minimumHops(hopDuration, minDuration);
  if (levels.empty() || !minHops) return result;
  std::int64_t removedHops = 0;
  float loudest = -std::numeric_limits<float>::infinity();
  walkRuns(levels, thresholdDBFS, [&](std::size_t start, std::size_t end, float runMax, bool) {
    const auto length = static_cast<std::int64_t>(end - start);
    if (length < *minHops) return;
    result.gapCount += 1;
    removedHops += length;
    if (runMax > loudest) loudest = runMax;
  });
  result.removedSeconds = hopDuration * static_cast<double>(removedHops);
  result.totalSeconds = hopDuration * static_cast<double>(levels.size());
  if (result.gapCount > 0) result.loudestCutDBFS = loudest;
  return result;
}

std::vector<TimeRange> silenceBands(std::span<const float> levels, double hopDuration, double thresholdDBFS,
                                    double minDuration, double speechPadding) {
  std::vector<TimeRange> bands;
  const auto minHops = minimumHops(hopDuration, minDuration);
  if (levels.empty() || !minHops) return bands;
  const double total = hopDuration * static_cast<double>(levels.size());
  walkRuns(levels, thresholdDBFS, [&](std::size_t runStart, std::size_t runEnd, float, bool last) {
    if (static_cast<std::int64_t>(runEnd - runStart) < *minHops) return;
    const double s = hopDuration * static_cast<double>(runStart);
    const double e = last ? total : hopDuration * static_cast<double>(runEnd);
    // No padding where the run meets the start or the end of the audio.
    const double start = s > 0.001 ? s + speechPadding : s;
    const double end = (!last && e < total - 0.001) ? e - speechPadding : e;
    if (end - start > 0.01) bands.push_back(TimeRange{start, end});
  });
  return bands;
}

std::vector<float> envelope(std::span<const float> levels, int columns) {
  std::vector<float> values;
  if (columns < 1 || levels.empty()) return values;
  const auto n = static_cast<std::uint64_t>(levels.size());
  const auto cols = static_cast<std::uint64_t>(columns);
  values.reserve(cols);
  for (std::uint64_t c = 0; c < cols; ++c) {
    const std::uint64_t lo = n * c / cols;
    const std::uint64_t hi = std::min(std::max(lo + 1, n * (c + 1) / cols), n);
    values.push_back(*std::max_element(levels.begin() + static_cast<std::ptrdiff_t>(lo),
                                       levels.begin() + static_cast<std::ptrdiff_t>(hi)));
  }
  return values;
}

std::vector<TimeRange> unionOf(std::span<const TimeRange> ranges, double glue) {
  std::vector<TimeRange> sorted(ranges.begin(), ranges.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const TimeRange& a, const TimeRange& b) { return a.start < b.start; });
  std::vector<TimeRange> merged;
  for (const auto& r : sorted) {
    if (!merged.empty() && r.start <= merged.back().end + glue) {
      merged.back().end = std::max(merged.back().end, r.end);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

double totalDuration(std::span<const TimeRange> ranges) {
  double total = 0;
  for (const auto& r : ranges) total += r.end - r.start;
  return total;
}

std::vector<TimeRange> keepRanges(double totalSeconds, std::span<const TimeRange> removed) {
  std::vector<TimeRange> kept;
  double cursor = 0;
  for (const auto& r : unionOf(removed, 0)) {
    if (cursor + 0.01 < r.start) kept.push_back(TimeRange{cursor, r.start});
    cursor = std::max(cursor, r.end);
  }
  if (cursor + 0.01 < totalSeconds) kept.push_back(TimeRange{cursor, totalSeconds});
  return kept;
}

std::vector<TimeRange> subtracting(std::span<const TimeRange> ranges, std::span<const TimeRange> taken) {
  const auto a = unionOf(ranges, 0);
  const auto b = unionOf(taken, 0);
  std::vector<TimeRange> result;
  // Both lists are sorted and disjoint, so the first range of b that can still overlap only
  // moves forward.
  std::size_t first = 0;
  for (const auto& r : a) {
    while (first < b.size() && b[first].end <= r.start) ++first;
    double cursor = r.start;
    for (std::size_t j = first; j < b.size() && b[j].start < r.end; ++j) {
      if (!(r.start < b[j].end)) continue;
      if (cursor + 0.001 < b[j].start) result.push_back(TimeRange{cursor, b[j].start});
      cursor = std::max(cursor, b[j].end);
    }
    if (cursor + 0.001 < r.end) result.push_back(TimeRange{cursor, r.end});
  }
  return result;
}

}  // namespace kestrane::SilencePreview
