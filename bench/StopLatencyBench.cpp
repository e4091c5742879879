// How long a stop takes to end work built to keep it busy: the take decision on a session of a
// million words whose lines are said again and again and on a 16 MB script, the reading of a
// session file of about 80 MB, and a re-cut whose package holds a million hand edits. The stop
// is asked from another thread a while into the work; the time it then takes to end (the
// "latency" counter, in seconds) should stay under one second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace {

using namespace kestrane;
using Clock = std::chrono::steady_clock;

struct Recording {
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::string script;
};

// Lines of 6 to 14 common words, each said one to three times, between pauses that split them;
// the script holds every line `scriptCopies` times over. A word starts every `wordStep` seconds.
Recording recordingOf(std::size_t wordCount, std::size_t scriptCopies, double wordStep = 0.32) {
  std::mt19937 random(5);
  const auto words = bench::madeUpVocabulary(random, {"the", "a", "to", "we", "is", "and", "of", "it", "that", "our"},
                                             {"ba", "ko", "ri", "sen", "tu", "vel", "mar", "do", "lin", "pra"}, 800);
  Recording r;
  std::vector<std::string> lines;
  double t = 1;
  while (r.transcript.words.size() < wordCount) {
    std::vector<std::string> line(6 + random() % 9);
    for (auto& w : line) w = bench::pickWord(random, words, 10);
    std::string text;
    for (const auto& w : line) text += (text.empty() ? "" : " ") + w;
    lines.push_back(text + ".");
    for (std::size_t take = 1 + random() % 3; take > 0; --take) {
      for (std::size_t k = 0; k < line.size(); ++k) {
        r.transcript.words.push_back({k + 1 == line.size() ? line[k] + "." : line[k], {t, t + wordStep * 0.8}});
        t += wordStep;
      }
      r.silences.push_back({{t, t + 0.9}, -60});
      t += 0.9;
    }
  }
  for (std::size_t copy = 0; copy < scriptCopies; ++copy)
    for (const auto& line : lines) r.script += line + "\n";
  return r;
}

// Runs `work` under a stop, waits until `started` says it has reached the part measured, asks it
// to stop `delay` later, and reports the seconds it then took to end (0 when it ended first).
template <class Work>
double stopLatency(Work work, std::chrono::milliseconds delay, const std::atomic<bool>* started = nullptr) {
  std::stop_source stop;
  auto job = std::async(std::launch::async, [&] {
    const StopScope scope(stop.get_token());
    try {
      work(stop.get_token());
    } catch (const Cancelled&) {
    }
  });
  while (started && !*started) {
    if (job.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready) return 0;
  }
  if (job.wait_for(delay) == std::future_status::ready) return 0;
  const auto asked = Clock::now();
  stop.request_stop();
  job.get();
  return std::chrono::duration<double>(Clock::now() - asked).count();
}

// The slowest stop of the decision over the runs, with the stop asked for state.range(0) ms
// into each.
void reportWorstStop(benchmark::State& state, const Recording& r, bool withScript) {
  const auto settings = bench::appSettings();
  const auto decide = [&](std::stop_token) {
    TakeSelector::decide(r.transcript, withScript ? std::optional(r.script) : std::nullopt, r.silences, std::nullopt,
                         settings);
  };
  double worst = 0;
  for (auto _ : state) worst = std::max(worst, stopLatency(decide, std::chrono::milliseconds(state.range(0))));
  state.counters["latency"] = worst;
}

void BM_StopAMillionWordDecision(benchmark::State& state) {
  static const Recording r = recordingOf(1'000'000, 0);
  reportWorstStop(state, r, false);
}
BENCHMARK(BM_StopAMillionWordDecision)
    ->Arg(2000)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(600'000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_StopADecisionWithAHugeScript(benchmark::State& state) {
  // About 16 MB of script over ten minutes of talk.
  static const Recording r = recordingOf(2'000, 1);
  static const Recording script = [] {
    Recording s = r;
    while (s.script.size() < 16'000'000) s.script += r.script;
    return s;
  }();
  reportWorstStop(state, script, true);
}
BENCHMARK(BM_StopADecisionWithAHugeScript)
    ->Arg(1000)
    ->Arg(5000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// A package of a long recording in the scratch folder, made once: `words` words (spoken as in
// recordingOf, a word every `wordStep` seconds) and `handEdits` short stretches removed by hand,
// spread over the footage.
std::filesystem::path storedPackage(std::size_t words, std::size_t handEdits, double wordStep = 0.32) {
  const std::filesystem::path root =
      bench::scratchFolder("kestrane-bench-stops-" + std::to_string(words) + "-" + std::to_string(handEdits));
  const std::filesystem::path session = root / "Long Kestrane.kestrane" / "long.kestrane.json";
  if (std::filesystem::exists(session)) return session;
  std::filesystem::create_directories(session.parent_path());
  std::ofstream(root / "long.mov") << "stand-in footage";

  Recording r = recordingOf(words, 0, wordStep);
  const double duration = r.transcript.words.back().range.end + 2;
  constexpr double hop = 0.01;
  std::vector<float> levels(static_cast<std::size_t>(duration / hop), -20.f);
  for (const SilenceSpan& pause : r.silences)
    for (auto i = static_cast<std::size_t>(pause.range.start / hop);
         i < static_cast<std::size_t>(pause.range.end / hop); ++i)
      levels[i] = -60.f;
  const SourceMedia source = bench::standInFootage(root / "long.mov", duration);
  PipelineSettings settings = bench::appSettings();
  settings.manualRemoveRanges = std::vector<TimeRange>{};
  const double step = duration / static_cast<double>(handEdits + 1);
  for (std::size_t k = 1; k <= handEdits; ++k) settings.manualRemoveRanges->push_back({step * k, step * k + step / 3});
  KestraneSession stored = KestraneSession::make(source, settings);
  stored.projectName = "Long";
  stored.transcript = std::move(r.transcript);
  stored.levels = LevelData::fromLevels(hop, levels);
  stored.write(session);
  return session;
}

void BM_StopReadingALargeSession(benchmark::State& state) {
  // About 80 MB: 400,000 words and 47 hours of levels.
  static const std::filesystem::path session = storedPackage(400'000, 0);
  double worst = 0;
  for (auto _ : state) {
    const auto read = [](std::stop_token) { benchmark::DoNotOptimize(KestraneSession::read(session)); };
    worst = std::max(worst, stopLatency(read, std::chrono::milliseconds(state.range(0))));
  }
  state.counters["latency"] = worst;
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(session)) / 1e6;
}
BENCHMARK(BM_StopReadingALargeSession)
    ->Arg(250)
    ->Arg(600)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_StopWritingAPackageWithAMillionHandEdits(benchmark::State& state) {
  // The stop is asked state.range(0) ms after the package's files began.
  static const std::filesystem::path session = storedPackage(100'000, 1'000'000);
  double worst = 0;
  for (auto _ : state) {
    std::atomic<bool> writing = false;
    const auto recut = [&writing](std::stop_token stop) {
      Pipeline::RecutRequest request;
      request.sessionURL = session;
      request.settings = KestraneSession::read(session).settings;
      Pipeline::recut(
          request,
          [&writing](const Pipeline::Stage& stage) { writing = writing || stage == Pipeline::Stage::exporting; }, stop);
    };
    worst = std::max(worst, stopLatency(recut, std::chrono::milliseconds(state.range(0)), &writing));
  }
  state.counters["latency"] = worst;
}
BENCHMARK(BM_StopWritingAPackageWithAMillionHandEdits)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(8000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_StopAMillionWordRecut(benchmark::State& state) {
  // Quicker words than elsewhere, so that a million fit in the hundred hours a session may hold.
  static const std::filesystem::path session = storedPackage(1'000'000, 0, 0.25);
  double worst = 0;
  for (auto _ : state) {
    const auto recut = [](std::stop_token stop) {
      Pipeline::RecutRequest request;
      request.sessionURL = session;
      request.settings = KestraneSession::read(session).settings;
      Pipeline::recut(request, {}, stop);
    };
    worst = std::max(worst, stopLatency(recut, std::chrono::milliseconds(state.range(0))));
  }
  state.counters["latency"] = worst;
}
// Late in a long run: the decision's and the review's comparisons of every line with every other.
BENCHMARK(BM_StopAMillionWordRecut)->Arg(1'440'000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The footage check of a file written through a pipe, which states no length, behind which lie 64 GB
// of zeros (a recorder that preallocated its file and crashed): the check reads on for where its
// sound ends, the demuxer looking through the zeros for a next packet in one long read.
void BM_StopAFootageCheckInALongTail(benchmark::State& state) {
  const std::filesystem::path root = bench::scratchFolder("kestrane-bench-stops-tail");
  const std::filesystem::path footage = root / "tail.mkv";
  if (std::system(("ffmpeg -nostdin -v error -y -i '" + std::string(KESTRANE_SOURCE_DIR) +
                   "/fixtures/sample-presenter.mp4' -c copy -f matroska - > '" + footage.string() + "'")
                      .c_str()) != 0) {
    state.SkipWithError("ffmpeg couldn't make the footage");
    return;
  }
  KestraneSession session;
  session.source = MediaProbe::probe(MediaProbe::held(footage.string()));
  const AudioAnalyzer::LevelTrack levels = AudioAnalyzer::measureLevels(MediaProbe::held(footage.string()));
  session.levels = LevelData::fromLevels(levels.hopDuration, levels.levelsDBFS);
  std::filesystem::resize_file(footage, std::filesystem::file_size(footage) + (std::uintmax_t{64} << 30));
  double worst = 0;
  for (auto _ : state) {
    const auto check = [&](std::stop_token stop) { Pipeline::footageChange(session, stop); };
    worst = std::max(worst, stopLatency(check, std::chrono::milliseconds(state.range(0))));
  }
  state.counters["latency"] = worst;
}
BENCHMARK(BM_StopAFootageCheckInALongTail)->Arg(500)->Arg(3000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
