// The AI second opinion's own work on a two-hour session of 3,000 utterances (a script of
// 1,500 lines, each read twice, the first take cut as a retake): splitting the utterances,
// writing the prompt, reading a verdict of 130 rows and applying it under the guards. The
// model's time is not counted: the backend answers at once with the same verdict.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/ai/Adjudicator.hpp"

namespace {

using namespace kestrane;

constexpr int kLines = 1500;

struct Session {
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::string script;
  TakeSelector::Decision decision;
  std::string verdict;
};

class CannedBackend : public AdjudicationBackend {
 public:
  explicit CannedBackend(const std::string& reply) : reply_(reply) {}
  std::string complete(const std::string& prompt, std::stop_token) const override {
    lastPrompt = prompt;
    return reply_;
  }
  mutable std::string lastPrompt;

 private:
  const std::string& reply_;
};

Session makeSession() {
  std::mt19937 random(11);
  const auto words =
      bench::madeUpVocabulary(random, {"the", "a",   "to",   "we", "is",   "and", "of", "it",  "that", "our",
                                       "in",  "for", "this", "so", "with", "on",  "be", "are", "can",  "i"},
                              {"ba", "ko", "ri", "sen", "tu", "vel", "mar", "do", "lin", "pra"}, 2500);
  Session s;
  double t = 1;
  std::int64_t group = 0;
  for (int line = 0; line < kLines; ++line) {
    std::vector<std::string> text(6 + random() % 5);
    for (auto& w : text) w = bench::pickWord(random, words);
    for (std::size_t k = 0; k < text.size(); ++k) s.script += (k ? " " : "") + text[k];
    s.script += ".\n";
    TimeRange takes[2];
    for (auto& take : takes) {
      take.start = t;
      for (std::size_t k = 0; k < text.size(); ++k) {
        s.transcript.words.push_back({text[k] + (k + 1 == text.size() ? "." : ""), {t, t + 0.26}});
        t += 0.32;
      }
      take.end = t - 0.06;
      s.silences.push_back({{t, t + 1.0}, -58});
      t += 1.0;
    }
    s.decision.removals.push_back({takes[0], SegmentKind::retakeRejected, "retake", group});
    s.decision.takeGroups.push_back({group++, takes[1], std::vector<TimeRange>{takes[0]}});
    if (line % 15 == 0) s.decision.advisories.push_back({takes[1], "Two takes were close; review"});
  }

  // Kept utterances have odd indices (each line's second take).
  std::string cuts, swaps, restores, findings;
  auto add = [](std::string& list, const std::string& row) { list += (list.empty() ? "" : ",") + row; };
  for (int i = 0; i < 20; ++i) {
    const int base = 2 * (i * 70) + 1;
    add(cuts, "{\"index\":" + std::to_string(base) +
                  ",\"category\":\"offScript\",\"reason\":\"Not in the script.\",\"confidence\":0.8}");
    add(cuts, "{\"index\":" + std::to_string(base + 20) +
                  ",\"category\":\"paraphraseDuplicate\",\"reason\":\"Said twice.\",\"confidence\":0.9,\"survivor\":" +
                  std::to_string(base + 22) + "}");
    add(cuts, "{\"index\":" + std::to_string(base + 40) +
                  ",\"category\":\"offCameraSpeaker\",\"reason\":\"Crew.\",\"confidence\":" + (i % 2 ? "0.9" : "0.3") +
                  "}");
    add(findings, "{\"kind\":\"runMix\",\"detail\":\"Earlier run at 1:00.\",\"index\":" + std::to_string(base + 60) +
                      ",\"remedy\":{\"action\":\"restore\",\"index\":" + std::to_string(base + 59) + "}}");
    if (i < 10) {
      add(restores, "{\"index\":" + std::to_string(base + 47) + ",\"replaces\":" + std::to_string(base + 48) +
                        ",\"reason\":\"Keeps the run.\",\"confidence\":0.8}");
      add(swaps,
          "{\"group\":" + std::to_string(i * 70 + 35) + ",\"alternate\":1,\"reason\":\"Cleaner.\",\"confidence\":0.8}");
      add(findings, "{\"kind\":\"editorNote\",\"detail\":\"Use the wide shot.\",\"index\":" +
                        std::to_string(base + 66) + ",\"remedy\":{\"action\":\"none\"}}");
    }
  }
  s.verdict = "{\"cuts\":[" + cuts + "],\"swaps\":[" + swaps + "],\"restores\":[" + restores + "],\"findings\":[" +
              findings + "]}";
  return s;
}

const Session& session() {
  static const Session s = makeSession();
  return s;
}

void BM_AdjudicationPromptAndVerdict(benchmark::State& state) {
  const Session& s = session();
  const CannedBackend backend(s.verdict);
  const std::optional<std::string> script = s.script, notes = std::string("Keep it tight.");
  Adjudicator::Outcome outcome;
  for (auto _ : state) {
    outcome = Adjudicator::adjudicate(s.transcript, s.silences, s.decision, script, 9000, notes, backend);
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["prompt_chars"] = TextAlign::characterCount(backend.lastPrompt);
  state.counters["cuts"] = outcome.appliedCuts;
  state.counters["restores"] = outcome.appliedRestores;
  state.counters["swaps"] = outcome.appliedSwaps;
  state.counters["warnings"] = static_cast<double>(outcome.warnings.size());
}
BENCHMARK(BM_AdjudicationPromptAndVerdict)->Unit(benchmark::kMillisecond);

}  // namespace
