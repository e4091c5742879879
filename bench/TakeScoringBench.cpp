// Utterance building and take scoring over a synthetic two-hour recording:
// about 20,000 words in 3,000 utterances, with repeated takes sprinkled in.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/RunSelector.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/brain/Utterance.hpp"

namespace {

using namespace kestrane;

struct Recording {
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::string script;
};

std::vector<std::string> vocabulary(std::mt19937& random) {
  return bench::madeUpVocabulary(random, {"the", "a",   "to",   "we", "is",  "and",  "of", "it", "that", "you",
                                          "in",  "for", "this", "so", "our", "with", "on", "be", "are",  "can"},
                                 {"ka", "lo",  "mi",  "ren", "sto", "va",  "pri", "del", "ton", "sha",
                                  "bu", "fer", "gol", "nix", "ro",  "tal", "ume", "zen", "qua", "dis"},
                                 3000);
}

// Lines of 5 to 10 words; a quarter are read two or three times (the repeats
// sometimes cut short or with a filler), and one passage in forty is read
// again whole.
Recording makeRecording() {
  std::mt19937 random(2024);
  auto words = vocabulary(random);
  auto pick = [&] { return bench::pickWord(random, words); };
  Recording r;
  double t = 0.5;
  auto say = [&](const std::vector<std::string>& line, bool finish) {
    for (std::size_t k = 0; k < line.size(); ++k) {
      std::string text = line[k];
      if (finish && k + 1 == line.size()) text += ".";
      r.transcript.words.push_back({text, {t, t + 0.28}});
      t += 0.34;
    }
    // A pause after every utterance, found by the silence detector.
    r.silences.push_back({{t, t + 0.9}, -55});
    t += 1.0;
  };
  std::vector<std::vector<std::string>> recent;
  int utterances = 0;
  while (utterances < 3000) {
    std::vector<std::string> line(5 + random() % 6);
    for (auto& w : line) w = pick();
    r.script += [&] {
      std::string s;
      for (const auto& w : line) s += w + " ";
      return s + ".\n";
    }();
    int takes = random() % 4 == 0 ? 2 + static_cast<int>(random() % 2) : 1;
    for (int k = 0; k < takes; ++k) {
      auto take = line;
      if (k + 1 < takes && random() % 2 == 0) take.resize(std::max<std::size_t>(2, take.size() / 2));
      if (random() % 5 == 0) take.insert(take.begin() + 1, "um");
      say(take, take.size() == line.size() || take.size() > line.size());
      ++utterances;
    }
    recent.push_back(line);
    if (recent.size() > 3) recent.erase(recent.begin());
    if (random() % 40 == 0 && recent.size() == 3) {
      for (const auto& again : recent) say(again, true);
      utterances += 3;
    }
  }
  return r;
}

const Recording& recording() {
  static const Recording r = makeRecording();
  return r;
}

// Groups of repeated takes as the take decision forms them: neighbours
// within 15 utterances whose retake similarity reaches 0.58.
std::vector<std::vector<TakeSelector::Utterance>> groupTakes(const std::vector<TakeSelector::Utterance>& utts) {
  std::vector<int> parent(utts.size());
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int k) {
    while (parent[static_cast<std::size_t>(k)] != k) k = parent[static_cast<std::size_t>(k)];
    return k;
  };
  for (std::size_t i = 0; i < utts.size(); ++i)
    for (std::size_t j = i + 1; j < std::min(utts.size(), i + 16); ++j) {
      if (utts[j].range.start - utts[i].range.end > 180) break;
      if (utts[i].tokens.size() < 3 || utts[j].tokens.size() < 3) continue;
      if (TakeSelector::retakeSimilarity(utts[i], utts[j]) < 0.58) continue;
      int ri = find(static_cast<int>(i)), rj = find(static_cast<int>(j));
      parent[static_cast<std::size_t>(std::max(ri, rj))] = std::min(ri, rj);
    }
  std::vector<std::vector<TakeSelector::Utterance>> byRoot(utts.size());
  for (std::size_t k = 0; k < utts.size(); ++k)
    byRoot[static_cast<std::size_t>(find(static_cast<int>(k)))].push_back(utts[k]);
  std::vector<std::vector<TakeSelector::Utterance>> groups;
  for (auto& g : byRoot)
    if (g.size() >= 2) groups.push_back(std::move(g));
  return groups;
}

void BM_BuildUtterances(benchmark::State& state) {
  const auto& r = recording();
  for (auto _ : state) benchmark::DoNotOptimize(TakeSelector::utterances(r.transcript, r.silences));
  state.counters["words"] = static_cast<double>(r.transcript.words.size());
  state.counters["utterances"] = static_cast<double>(TakeSelector::utterances(r.transcript, r.silences).size());
}
BENCHMARK(BM_BuildUtterances)->Unit(benchmark::kMillisecond);

// Utterances, take groups and a winner for every group: 0 without a script
// (the live draft cut), 1 with the recording's script scanned beat by beat,
// 2 with it prepared once (preparing included).
void BM_UtterancesAndGroupWinners(benchmark::State& state) {
  const auto& r = recording();
  const auto mode = state.range(0);
  auto beats = mode != 0 ? TakeSelector::scriptBeats(r.script) : std::vector<TextAlign::TokenList>{};
  std::size_t groupCount = 0;
  for (auto _ : state) {
    auto utts = TakeSelector::utterances(r.transcript, r.silences);
    auto groups = groupTakes(utts);
    groupCount = groups.size();
    if (mode == 2) {
      const TakeSelector::PreparedScript script(beats);
      for (const auto& g : groups) benchmark::DoNotOptimize(TakeSelector::pickWinner(g, script, r.silences));
    } else {
      for (const auto& g : groups) benchmark::DoNotOptimize(TakeSelector::pickWinner(g, beats, r.silences));
    }
  }
  state.counters["groups"] = static_cast<double>(groupCount);
  state.counters["beats"] = static_cast<double>(beats.size());
}
BENCHMARK(BM_UtterancesAndGroupWinners)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Preparing the recording's script (about 2,300 beats).
void BM_PrepareScript(benchmark::State& state) {
  auto beats = TakeSelector::scriptBeats(recording().script);
  for (auto _ : state) benchmark::DoNotOptimize(TakeSelector::PreparedScript(beats));
}
BENCHMARK(BM_PrepareScript)->Unit(benchmark::kMillisecond);

// Both script measures for every utterance, as the take decision asks them:
// 0 scanning every beat, 1 against the prepared script.
void BM_ScriptMeasuresPerUtterance(benchmark::State& state) {
  const auto& r = recording();
  auto utts = TakeSelector::utterances(r.transcript, r.silences);
  auto beats = TakeSelector::scriptBeats(r.script);
  const TakeSelector::PreparedScript script(beats);
  const bool prepared = state.range(0) != 0;
  for (auto _ : state)
    for (const auto& u : utts) {
      if (prepared) {
        benchmark::DoNotOptimize(TakeSelector::scriptMatchCoverage(u.tokens, script));
        benchmark::DoNotOptimize(TakeSelector::scriptRenditionScore(u.tokens, script));
      } else {
        benchmark::DoNotOptimize(TakeSelector::scriptMatchCoverage(u.tokens, beats));
        benchmark::DoNotOptimize(TakeSelector::scriptRenditionScore(u.tokens, beats));
      }
    }
  state.counters["utterances"] = static_cast<double>(utts.size());
}
BENCHMARK(BM_ScriptMeasuresPerUtterance)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Off-script talk: utterances of words the script never uses (and a few of
// its function words), so no beat settles the search early.
void BM_ScriptMeasuresOffScript(benchmark::State& state) {
  auto beats = TakeSelector::scriptBeats(recording().script);
  const TakeSelector::PreparedScript script(beats);
  std::mt19937 random(9);
  const std::vector<std::string> own{"the",   "to",    "we",    "okay",  "wait",  "coffee", "camera", "rolling",
                                     "sorry", "again", "light", "tired", "lunch", "minute", "ready"};
  std::vector<TextAlign::TokenList> talk(500);
  for (auto& line : talk) {
    line.resize(3 + random() % 8);
    for (auto& w : line) w = own[random() % own.size()];
  }
  for (auto _ : state)
    for (const auto& line : talk) {
      benchmark::DoNotOptimize(TakeSelector::scriptMatchCoverage(line, script));
      benchmark::DoNotOptimize(TakeSelector::scriptRenditionScore(line, script));
    }
}
BENCHMARK(BM_ScriptMeasuresOffScript)->Unit(benchmark::kMillisecond);

void BM_RunSelector(benchmark::State& state) {
  const auto& r = recording();
  auto utts = TakeSelector::utterances(r.transcript, r.silences);
  std::set<int> available;
  for (const auto& u : utts) available.insert(u.index);
  std::size_t choices = 0;
  for (auto _ : state) {
    auto found = RunSelector::choose(utts, available, {}, r.silences);
    choices = found.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["choices"] = static_cast<double>(choices);
}
BENCHMARK(BM_RunSelector)->Unit(benchmark::kMillisecond);

// The run selector with the recording's script, prepared once.
void BM_RunSelectorWithScript(benchmark::State& state) {
  const auto& r = recording();
  auto utts = TakeSelector::utterances(r.transcript, r.silences);
  std::set<int> available;
  for (const auto& u : utts) available.insert(u.index);
  for (auto _ : state) {
    const TakeSelector::PreparedScript script(TakeSelector::scriptBeats(r.script));
    benchmark::DoNotOptimize(RunSelector::choose(utts, available, script, r.silences));
  }
}
BENCHMARK(BM_RunSelectorWithScript)->Unit(benchmark::kMillisecond);

// A recording with no pauses at all: the whole transcript is one chunk.
void BM_OneLongChunk(benchmark::State& state) {
  Transcript t = recording().transcript;
  for (auto _ : state) benchmark::DoNotOptimize(TakeSelector::utterances(t, {}));
}
BENCHMARK(BM_OneLongChunk)->Unit(benchmark::kMillisecond);

// Aligning two 20,000-token lists: time and memory stay bounded.
void BM_LocalAlignLong(benchmark::State& state) {
  const auto& words = recording().transcript.words;
  TextAlign::TokenList a, b;
  for (std::size_t k = 0; k < 20000 && k < words.size(); ++k) a.push_back(TextAlign::tokens(words[k].text).front());
  // The same text shifted: a 13,000-token stretch matches, so the
  // traceback walks far back through the recomputed rows.
  b = a;
  std::rotate(b.begin(), b.begin() + 7000, b.end());
  for (auto _ : state) benchmark::DoNotOptimize(TextAlign::localAlign(a, b, -1.0));
}
BENCHMARK(BM_LocalAlignLong)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

// A presenter saying one line over and over: every neighbour is an anchor.
void BM_RunSelectorOneLineRepeated(benchmark::State& state) {
  std::vector<TakeSelector::Utterance> utts;
  std::set<int> available;
  for (int k = 0; k < 3000; ++k) {
    TakeSelector::Utterance u;
    u.index = k;
    u.range = {k * 3.0, k * 3.0 + 2.5};
    for (const char* w : {"welcome", "back", "to", "the", "show."}) u.words.push_back({w, u.range});
    u.tokens = TextAlign::tokens("welcome back to the show.");
    utts.push_back(std::move(u));
    available.insert(k);
  }
  for (auto _ : state) benchmark::DoNotOptimize(RunSelector::choose(utts, available, {}, {}));
}
BENCHMARK(BM_RunSelectorOneLineRepeated)->Unit(benchmark::kMillisecond);
