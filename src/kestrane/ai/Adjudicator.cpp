#include "kestrane/ai/Adjudicator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "kestrane/ai/ModelText.hpp"

namespace kestrane::Adjudicator {

std::string CoherenceFinding::label() const {
  static const std::pair<std::string_view, std::string_view> labels[] = {{"redundant", "repeated content"},
                                                                         {"crewTalk", "off-camera/self-talk"},
                                                                         {"offTopic", "off-topic"},
                                                                         {"order", "out of order"},
                                                                         {"runMix", "mixed takes"},
                                                                         {"scriptGap", "script deviation"},
                                                                         {"editorNote", "note to your editor"}};
  for (const auto& [k, text] : labels) {
    if (kind == k) return std::string(text);
  }
  return kind;
}

std::string timestamp(double seconds) {
  // Rounded to hundredths before the minutes are split off: 59.999 s reads 1:00.00, not 0:60.00.
  const long long hundredths = std::llrint(seconds * 100);  // halves to even, as printing did
  return fmt::format("{}:{:02}.{:02}", hundredths / 6000, hundredths % 6000 / 100, hundredths % 100);
}

std::string promptLine(const Utterance& u) {
  return fmt::format("[{}] {}\u2013{} | {}\n", u.index, timestamp(u.range.start), timestamp(u.range.end),
                     TakeSelector::joinedText(u.words));
}

std::string cleanReason(std::string_view text) {
  const std::string clean = ModelText::withoutControls(text);
  std::string out = ModelText::prefix(ModelText::trim(clean), 200);
  return out.empty() ? "adjudicated cut" : out;
}

std::optional<std::string> remedyCategory(std::string_view kind, std::optional<int> survivor) {
  const std::string k(ModelText::trim(kind));
  if (k == "order" || k == "scriptGap") return std::nullopt;
  if (survivor) return "paraphraseDuplicate";
  if (k == "crewTalk" || k == "offTopic" || k == "editorNote") return "offCameraSpeaker";
  return std::nullopt;
}

std::optional<std::pair<int, double>> bestBeat(const Utterance& utterance, const TakeSelector::ScriptBeats& beats) {
  std::optional<std::pair<int, double>> best;
  for (std::size_t i = 0; i < beats.size(); ++i) {
    const double score = TextAlign::localAlign(utterance.tokens, beats[i], -1.0).score;
    if (score >= 0.55 && (!best || score > best->second)) best = {static_cast<int>(i), score};
  }
  return best;
}

std::vector<Utterance> keptUtterances(std::span<const Utterance> utterances, std::span<const Segment> removals) {
  // The cutting removals by start, with the furthest end reached so far: a midpoint is removed
  // when some removal starting at or before it ends after it.
  std::vector<TimeRange> cutting;
  for (const Segment& s : removals) {
    if (s.kind != SegmentKind::keep && s.kind != SegmentKind::filler) cutting.push_back(s.range);
  }
  std::ranges::sort(cutting, {}, &TimeRange::start);
  std::vector<double> reach(cutting.size());
  double furthest = -std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < cutting.size(); ++i) reach[i] = furthest = std::max(furthest, cutting[i].end);

  std::vector<Utterance> kept;
  for (const Utterance& u : utterances) {
    const double mid = (u.range.start + u.range.end) / 2;
    const auto after = std::ranges::upper_bound(cutting, mid, {}, &TimeRange::start) - cutting.begin();
    const bool removed = after > 0 && reach[static_cast<std::size_t>(after - 1)] > mid;
    if (!removed) kept.push_back(u);
  }
  return kept;
}

Outcome adjudicate(const Transcript& transcript, std::span<const SilenceSpan> silences,
                   const TakeSelector::Decision& decision, const std::optional<std::string>& script,
                   double sourceDuration, const std::optional<std::string>& notes, const AdjudicationBackend& backend,
                   std::stop_token stop) {
  const std::vector<Utterance> all = TakeSelector::utterances(transcript, silences);
  const std::vector<Utterance> kept = keptUtterances(all, decision.removals);
  if (kept.empty()) return {};
  const std::string prompt = buildPrompt(kept, transcript, decision, script, sourceDuration, notes);
  const Verdict verdict = parse(backend.complete(prompt, stop));
  return apply(verdict, kept, all, decision, script);
}

Outcome correct(std::span<const OutputAudit::Defect> defects, const Transcript& transcript,
                std::span<const SilenceSpan> silences, const TakeSelector::Decision& decision,
                const std::optional<std::string>& script, const std::optional<std::string>& notes,
                const std::optional<std::string>& coherence, std::optional<std::vector<Utterance>> utterances,
                const AdjudicationBackend& backend, std::stop_token stop) {
  const std::vector<Utterance> all =
      utterances ? std::move(*utterances) : TakeSelector::utterances(transcript, silences);
  const std::vector<Utterance> kept = keptUtterances(all, decision.removals);
  if (kept.empty() || (defects.empty() && !coherence)) return {};
  const std::string prompt = correctionPrompt(defects, kept, script, notes, coherence);
  const Verdict verdict = parse(backend.complete(prompt, stop));
  return apply(verdict, kept, all, decision, script);
}

}  // namespace kestrane::Adjudicator
