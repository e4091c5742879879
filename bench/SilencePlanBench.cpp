// A two-hour recording: 720,000 level hops, about 20,000 words and 8,000 silences. Silence
// detection plus the planner chain should stay well under 200 ms on one core, since the live
// draft cut runs them on every change of the options. Hand edits are laid on a ten-minute one:
// 100,000 hand ranges should be forced in well under a second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/brain/EditPlanner.hpp"

using namespace kestrane;

namespace {

struct Recording {
  AudioAnalyzer::LevelTrack track;
  LevelData levels;
  std::vector<TranscriptWord> words;
  std::vector<Segment> removals;
  double duration = 0;
};

// Alternating speech and pauses over `hops` level hops of 10 ms; every fourth pause long enough
// to split utterances.
Recording recordingOf(std::size_t hops) {
  Recording r;
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  r.track.levelsDBFS.reserve(hops);
  std::size_t cycle = 0;
  std::size_t wordCount = 0;
  while (r.track.levelsDBFS.size() < hops) {
    const std::size_t speechHops = 30 + next() % 16;
    const std::size_t pauseHops = cycle % 4 == 3 ? 80 : 38 + next() % 8;
    const double speechStart = r.track.time(r.track.levelsDBFS.size());
    for (std::size_t k = 0; k < speechHops; ++k) {
      r.track.levelsDBFS.push_back(-22.0f - static_cast<float>(next() % 12));
    }
    const double speechEnd = r.track.time(r.track.levelsDBFS.size());
    const int perStretch = cycle % 2 == 0 ? 2 : 3;
    const double step = (speechEnd - speechStart) / perStretch;
    for (int w = 0; w < perStretch; ++w) {
      const double a = speechStart + w * step + 0.02;
      r.words.push_back(
          TranscriptWord{wordCount % 97 == 0 ? "um" : "word" + std::to_string(wordCount % 500), {a, a + step - 0.04}});
      if (wordCount % 97 == 0) {
        r.removals.push_back(Segment{{a, a + step - 0.04}, SegmentKind::filler, "filler “um”", std::nullopt});
      }
      ++wordCount;
    }
    if (cycle % 40 == 39) {
      r.removals.push_back(Segment{{speechStart, speechEnd}, SegmentKind::retakeRejected, "earlier take", cycle});
    }
    for (std::size_t k = 0; k < pauseHops; ++k) {
      r.track.levelsDBFS.push_back(-62.0f - static_cast<float>(next() % 10));
    }
    ++cycle;
  }
  r.track.levelsDBFS.resize(hops);
  r.duration = r.track.time(hops);
  r.levels = LevelData::fromLevels(0.01, r.track.levelsDBFS);
  return r;
}

const Recording& twoHours() {
  static const Recording recording = recordingOf(720000);
  return recording;
}

CutList silencesAndPlan(const Recording& r, std::span<const TimeRange> handKeeps = {},
                        std::span<const TimeRange> handRemovals = {}) {
  auto settings = PipelineSettings::make(-45, 0.35, 0.05, true);
  const auto silences = AudioAnalyzer::silences(r.track, settings.silenceThresholdDBFS, settings.minSilenceDuration);
  const auto splitters = AudioAnalyzer::silences(r.track, settings.silenceThresholdDBFS, kSplitterMinSilence);
  EditPlanner::CutMaterial material;
  material.sourceDuration = r.duration;
  material.frameDuration = 1.0 / 30;
  material.silences = silences;
  material.splitterSilences = splitters;
  material.removals = r.removals;
  material.words = r.words;
  material.levels = r.levels;
  material.settings = settings;
  material.manualKeeps = handKeeps;
  material.manualRemovals = handRemovals;
  return EditPlanner::planCut(material);
}

void BM_SilencesAndPlan(benchmark::State& state) {
  const auto& r = twoHours();
  const auto silences = AudioAnalyzer::silences(r.track, -45, 0.35);
  state.counters["silences"] = static_cast<double>(silences.size());
  state.counters["words"] = static_cast<double>(r.words.size());
  for (auto _ : state) {
    auto cut = silencesAndPlan(r);
    benchmark::DoNotOptimize(cut.segments.data());
  }
}
BENCHMARK(BM_SilencesAndPlan)->Unit(benchmark::kMillisecond);

// Hand ranges drawn freely across a ten-minute recording, half removals and half keeps, from
// 20 ms to half a second long.
void BM_HandEdits(benchmark::State& state) {
  static const Recording r = recordingOf(60000);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> at(0, r.duration);
  std::uniform_real_distribution<double> length(0.02, 0.5);
  std::vector<TimeRange> keeps, removals;
  for (std::int64_t k = 0; k < state.range(0); ++k) {
    const double a = at(random);
    (k % 2 == 0 ? removals : keeps).push_back(TimeRange{a, std::min(r.duration, a + length(random))});
  }
  for (auto _ : state) {
    auto cut = silencesAndPlan(r, keeps, removals);
    benchmark::DoNotOptimize(cut.segments.data());
  }
}
BENCHMARK(BM_HandEdits)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SilencesOnly(benchmark::State& state) {
  const auto& r = twoHours();
  for (auto _ : state) {
    auto spans = AudioAnalyzer::silences(r.track, -45, 0.35);
    benchmark::DoNotOptimize(spans.data());
  }
}
BENCHMARK(BM_SilencesOnly)->Unit(benchmark::kMillisecond);

void BM_PreviewRefresh(benchmark::State& state) {
  const auto& r = twoHours();
  const auto& levels = r.track.levelsDBFS;
  for (auto _ : state) {
    const double threshold = SilencePreview::suggestedThresholdDBFS(levels);
    auto bands = SilencePreview::silenceBands(levels, 0.01, threshold, 0.35, 0.05);
    auto merged = SilencePreview::unionOf(bands, 0.01);
    auto keeps = SilencePreview::keepRanges(r.duration, merged);
    auto columns = SilencePreview::envelope(levels, 2000);
    benchmark::DoNotOptimize(keeps.data());
    benchmark::DoNotOptimize(columns.data());
  }
}
BENCHMARK(BM_PreviewRefresh)->Unit(benchmark::kMillisecond);

}  // namespace
