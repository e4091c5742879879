// How long a stop takes to end the take decision on inputs built to keep it busy: a session of
// a million words whose lines are said again and again, and a 16 MB script. The stop is asked
// from another thread a while into the work; the time it then takes to end (the "latency"
// counter, in seconds) should stay under one second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace {

using namespace kestrane;
using Clock = std::chrono::steady_clock;

struct Recording {
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::string script;
};

// Lines of 6 to 14 common words, each said one to three times, between pauses that split them;
// the script holds every line `scriptCopies` times over.
Recording recordingOf(std::size_t wordCount, std::size_t scriptCopies) {
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
        r.transcript.words.push_back({k + 1 == line.size() ? line[k] + "." : line[k], {t, t + 0.26}});
        t += 0.32;
      }
      r.silences.push_back({{t, t + 0.9}, -60});
      t += 0.9;
    }
  }
  for (std::size_t copy = 0; copy < scriptCopies; ++copy)
    for (const auto& line : lines) r.script += line + "\n";
  return r;
}

// Runs the decision, asks it to stop `delay` in, and reports the seconds it then took to end.
double stopLatency(const Recording& r, bool withScript, std::chrono::milliseconds delay) {
  std::stop_source stop;
  auto settings = bench::appSettings();
  auto job = std::async(std::launch::async, [&] {
    const StopScope scope(stop.get_token());
    try {
      TakeSelector::decide(r.transcript, withScript ? std::optional(r.script) : std::nullopt, r.silences, std::nullopt,
                           settings);
    } catch (const Cancelled&) {
    }
  });
  if (job.wait_for(delay) == std::future_status::ready) return 0;
  const auto asked = Clock::now();
  stop.request_stop();
  job.get();
  return std::chrono::duration<double>(Clock::now() - asked).count();
}

// The slowest stop over the runs, with the stop asked for state.range(0) ms into each.
void reportWorstStop(benchmark::State& state, const Recording& r, bool withScript) {
  double worst = 0;
  for (auto _ : state) worst = std::max(worst, stopLatency(r, withScript, std::chrono::milliseconds(state.range(0))));
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

}  // namespace
