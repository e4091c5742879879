// Script coverage, the output audit and the join instruments over a two-hour recording:
// 720,000 level hops, 20,000 words read from a 500-line script, each line delivered about
// four times. Two cuts are measured: one that keeps a single rendition of each line, and a
// silences-only cut that keeps every word.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "kestrane/brain/CutInstruments.hpp"
#include "kestrane/brain/OutputAudit.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/brain/Utterance.hpp"

using namespace kestrane;

namespace {

constexpr double hop = 0.01;
constexpr std::size_t hops = 720'000;
constexpr int wordCount = 20'000;
constexpr int lineCount = 500;

struct Recording {
  std::string script;
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  LevelData levels;
  std::vector<TakeSelector::Utterance> utterances;
  CutList decided;
  CutList everyWord;
};

std::string syllables(std::mt19937& rng) {
  static const char* parts[] = {"ka",  "lo",  "mi",  "ten", "ra", "sho", "vel", "dan", "pri", "go",
                                "stu", "ber", "nor", "fil", "ex", "qua", "tri", "mon", "sa",  "zel"};
  std::uniform_int_distribution<int> count(1, 3), pick(0, 19);
  std::string word;
  for (int k = count(rng); k > 0; --k) word += parts[pick(rng)];
  return word;
}

Recording record() {
  std::mt19937 rng(7);
  // A vocabulary with a few very common words, as speech has.
  std::vector<std::string> vocabulary{"the", "a", "to", "and", "of", "we", "is", "it", "that", "you", "this", "for"};
  while (vocabulary.size() < 3000) vocabulary.push_back(syllables(rng));
  std::vector<double> weights;
  for (std::size_t k = 0; k < vocabulary.size(); ++k) weights.push_back(1.0 / static_cast<double>(k + 3));
  std::discrete_distribution<int> frequency(weights.begin(), weights.end());

  std::vector<std::vector<std::string>> lines;
  std::uniform_int_distribution<int> lineLength(8, 14);
  for (int k = 0; k < lineCount; ++k) {
    std::vector<std::string> line;
    for (int n = lineLength(rng); n > 0; --n) line.push_back(vocabulary[static_cast<std::size_t>(frequency(rng))]);
    lines.push_back(line);
  }
  Recording r;
  for (const auto& line : lines) {
    std::string text;
    for (const auto& w : line) text += (text.empty() ? "" : " ") + w;
    r.script += text + ".\n";
  }

  // Takes: each line three to five times, sometimes broken off; words 0.3 s apart.
  std::vector<float> levels(hops, -62.0f);
  std::uniform_int_distribution<int> takes(4, 5), pause(60, 150), coin(0, 9);
  std::uniform_real_distribution<float> jitter(-4, 4);
  double t = 1.0;
  std::vector<std::pair<TimeRange, int>> renditions;  // range, line
  for (int line = 0; line < lineCount && static_cast<int>(r.transcript.words.size()) < wordCount; ++line) {
    int n = takes(rng);
    for (int take = 0; take < n && static_cast<int>(r.transcript.words.size()) < wordCount; ++take) {
      const auto& words = lines[static_cast<std::size_t>(line)];
      std::size_t said = (take + 1 < n && coin(rng) < 3) ? words.size() / 2 : words.size();
      double start = t;
      for (std::size_t k = 0; k < said; ++k) {
        // A broken-off take trails away without a full stop.
        std::string text = words[k] + (k + 1 == words.size() ? "." : "");
        r.transcript.words.push_back({text, {t, t + 0.26}});
        t += 0.3;
      }
      renditions.push_back({{start, t}, line});
      double gap = pause(rng) / 100.0;
      r.silences.push_back({{t, t + gap}, -62});
      t += gap;
    }
  }
  for (const auto& w : r.transcript.words)
    for (auto k = static_cast<std::size_t>(w.range.start / hop);
         k < static_cast<std::size_t>(w.range.end / hop) && k < hops; ++k)
      levels[k] = -20.0f + jitter(rng);
  r.levels = LevelData::fromLevels(hop, levels);
  r.utterances = TakeSelector::utterances(r.transcript, r.silences);

  // The decided cut keeps the last rendition of each line; the other cut keeps all speech.
  const double padding = 0.15;
  std::vector<bool> last(renditions.size());
  for (std::size_t k = 0; k < renditions.size(); ++k)
    last[k] = k + 1 == renditions.size() || renditions[k + 1].second != renditions[k].second;
  double at = 0;
  for (std::size_t k = 0; k < renditions.size(); ++k) {
    TimeRange keep{renditions[k].first.start - padding, renditions[k].first.end + padding};
    r.everyWord.segments.push_back({{at, keep.start}, SegmentKind::silence});
    r.everyWord.segments.push_back({keep, SegmentKind::keep});
    r.decided.segments.push_back({{at, keep.start}, SegmentKind::silence});
    r.decided.segments.push_back({keep, last[k] ? SegmentKind::keep : SegmentKind::retakeRejected});
    at = keep.end;
  }
  return r;
}

const Recording& recording() {
  static const Recording r = record();
  return r;
}

void checks(benchmark::State& state, const CutList& cut) {
  const auto& r = recording();
  for (auto _ : state) {
    auto coverage = ScriptCoverage::assess(r.script, r.transcript, cut);
    auto defects = OutputAudit::audit(r.utterances, r.transcript, cut, r.script);
    auto findings = CutInstruments::sourceContinuity(r.utterances, cut);
    auto splices = CutInstruments::spliceQuality(cut, r.transcript, r.levels, -45);
    auto pacing = CutInstruments::pacingWhiplash(cut, r.transcript);
    findings.insert(findings.end(), splices.begin(), splices.end());
    findings.insert(findings.end(), pacing.begin(), pacing.end());
    auto evidence = CutInstruments::evidence(CutInstruments::rank(findings));
    benchmark::DoNotOptimize(coverage);
    benchmark::DoNotOptimize(defects);
    benchmark::DoNotOptimize(evidence);
  }
  auto defects = OutputAudit::audit(r.utterances, r.transcript, cut, r.script);
  auto coverage = ScriptCoverage::assess(r.script, r.transcript, cut);
  state.counters["words"] = static_cast<double>(r.transcript.words.size());
  state.counters["utterances"] = static_cast<double>(r.utterances.size());
  state.counters["defects"] = static_cast<double>(defects.size());
  state.counters["covered"] = static_cast<double>(std::count_if(coverage.begin(), coverage.end(), [](const auto& beat) {
    return beat.status == ScriptCoverage::Status::covered;
  }));
}

void BM_ChecksDecidedCut(benchmark::State& state) { checks(state, recording().decided); }
void BM_ChecksSilencesOnlyCut(benchmark::State& state) { checks(state, recording().everyWord); }

void BM_ScriptCoverage(benchmark::State& state) {
  const auto& r = recording();
  const auto& cut = state.range(0) ? r.everyWord : r.decided;
  for (auto _ : state) benchmark::DoNotOptimize(ScriptCoverage::assess(r.script, r.transcript, cut));
}

void BM_OutputAudit(benchmark::State& state) {
  const auto& r = recording();
  const auto& cut = state.range(0) ? r.everyWord : r.decided;
  for (auto _ : state) benchmark::DoNotOptimize(OutputAudit::audit(r.utterances, r.transcript, cut, r.script));
}

void BM_SourceContinuity(benchmark::State& state) {
  const auto& r = recording();
  for (auto _ : state) benchmark::DoNotOptimize(CutInstruments::sourceContinuity(r.utterances, r.decided));
}

void BM_SpliceQualityAndPacing(benchmark::State& state) {
  const auto& r = recording();
  for (auto _ : state) {
    auto splices = CutInstruments::spliceQuality(r.everyWord, r.transcript, r.levels, -45);
    auto pacing = CutInstruments::pacingWhiplash(r.everyWord, r.transcript);
    benchmark::DoNotOptimize(splices);
    benchmark::DoNotOptimize(pacing);
  }
}

}  // namespace

BENCHMARK(BM_ChecksDecidedCut)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ChecksSilencesOnlyCut)->Unit(benchmark::kMillisecond)->Iterations(3);
// Argument 0: the decided cut; 1: the silences-only cut.
BENCHMARK(BM_ScriptCoverage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OutputAudit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SourceContinuity)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpliceQualityAndPacing)->Unit(benchmark::kMillisecond)->Iterations(3);
