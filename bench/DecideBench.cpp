// The whole take decision on a synthetic two-hour recording: about 20,000
// words in 3,000 utterances, a script of 1,000 lines, repeated takes, false
// starts, unfinished takes, fillers, passages read twice and lines said again
// much later. The live preview re-runs the decision on every settings change.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/brain/TakeSelector.hpp"

namespace {

using namespace kestrane;

struct Recording {
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::string script;
  LevelData levels;
  std::size_t utterances = 0;
};

std::vector<std::string> vocabulary(std::mt19937& random) {
  return bench::madeUpVocabulary(random, {"the", "a",   "to",   "we", "is",   "and", "of", "it",  "that", "our",
                                          "in",  "for", "this", "so", "with", "on",  "be", "are", "can",  "i"},
                                 {"ba", "ko",  "ri", "sen", "tu",  "vel", "mar", "do", "lin", "pra",
                                  "ge", "hol", "nu", "fi",  "zor", "que", "ast", "mo", "ple", "tiv"},
                                 2500);
}

Recording makeRecording() {
  std::mt19937 random(7);
  const auto words = vocabulary(random);
  auto pick = [&] { return bench::pickWord(random, words); };

  std::vector<std::vector<std::string>> lines(1000);
  for (auto& line : lines) {
    line.resize(6 + random() % 5);
    for (auto& w : line) w = pick();
  }

  Recording r;
  for (const auto& line : lines) {
    for (std::size_t k = 0; k < line.size(); ++k) r.script += (k ? " " : "") + line[k];
    r.script += ".\n";
  }

  double t = 1.0;
  std::vector<float> levels;
  auto level = [&](double until, float dbfs) {
    while (static_cast<double>(levels.size()) * 0.01 < until) levels.push_back(dbfs);
  };
  auto say = [&](const std::vector<std::string>& line, std::size_t count, bool finish, bool filler) {
    for (std::size_t k = 0; k < count; ++k) {
      if (filler && k == 1) {
        r.transcript.words.push_back({"um", {t, t + 0.25}});
        t += 0.3;
      }
      std::string text = line[k];
      if (finish && k + 1 == count) text += ".";
      r.transcript.words.push_back({text, {t, t + 0.26}});
      t += 0.32;
    }
    level(t, -20.0f);
    double pause = 0.9 + 0.1 * static_cast<double>(random() % 8);
    r.silences.push_back({{t, t + pause}, -58});
    t += pause;
    level(t, -60.0f);
    ++r.utterances;
  };

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& line = lines[i];
    if (random() % 20 < 9) say(line, 3, false, false);             // false start
    if (random() % 20 < 11) say(line, line.size(), false, false);  // unfinished take
    if (random() % 20 < 13) say(line, line.size(), true, false);   // a clean take, then another
    if (random() % 4 == 0) say(line, line.size(), true, false);    // and another
    say(line, line.size(), true, random() % 8 == 0);
    // Now and then a passage of three lines is read again.
    if (i >= 3 && random() % 60 == 0)
      for (std::size_t k = i - 2; k <= i; ++k) say(lines[k], lines[k].size(), true, false);
    // And a line said again much later.
    if (i >= 200 && random() % 50 == 0) {
      const auto& old = lines[i - 150 - random() % 40];
      say(old, old.size(), true, false);
    }
  }
  r.levels = LevelData::fromLevels(0.01, levels);
  return r;
}

const Recording& recording() {
  static const Recording r = makeRecording();
  return r;
}

void BM_DecideWithScript(benchmark::State& state) {
  const auto& r = recording();
  const auto settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  std::size_t removals = 0;
  for (auto _ : state) {
    auto decision = TakeSelector::decide(r.transcript, r.script, r.silences, r.levels, settings);
    removals = decision.removals.size();
    benchmark::DoNotOptimize(decision);
  }
  state.counters["words"] = static_cast<double>(r.transcript.words.size());
  state.counters["utterances"] = static_cast<double>(r.utterances);
  state.counters["removals"] = static_cast<double>(removals);
}
BENCHMARK(BM_DecideWithScript)->Unit(benchmark::kMillisecond);

// The live preview passes no script.
void BM_DecideDraft(benchmark::State& state) {
  const auto& r = recording();
  const auto settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  for (auto _ : state)
    benchmark::DoNotOptimize(TakeSelector::decide(r.transcript, std::nullopt, r.silences, r.levels, settings));
}
BENCHMARK(BM_DecideDraft)->Unit(benchmark::kMillisecond);

}  // namespace
