#pragma once
// The AI second opinion on a take decision, and the self-review round on a finished cut. Both
// show the model the evidence, read its verdict and apply it under guards: low-confidence cuts
// stay as review notes, both renditions of a line are never cut, the only rendition of a script
// line is never cut, and a verdict that would leave less than the floor of speech is refused.
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrane/ai/AdjudicationBackend.hpp"
#include "kestrane/ai/Verdict.hpp"
#include "kestrane/brain/OutputAudit.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TakeGroupInfo.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::Adjudicator {

using TakeSelector::Utterance;

// A problem the model reported that stays a note for the editor.
struct CoherenceFinding {
  std::string kind;
  std::string detail;
  std::optional<TimeRange> range;

  // The editor-facing name of the kind.
  std::string label() const;
  friend bool operator==(const CoherenceFinding&, const CoherenceFinding&) = default;
};

// What a pass hands back for the caller to merge: only new removals, source ranges to bring
// back, and notes.
struct Outcome {
  std::vector<Segment> removals;
  std::vector<TimeRange> restoredRanges;
  std::vector<Advisory> advisories;
  std::optional<std::vector<TakeGroupInfo>> updatedTakeGroups;  // only when a swap applied
  std::vector<std::string> warnings;
  std::vector<Advisory> editorNotes;
  int appliedCuts = 0;  // cut rows applied, plus spoken editor notes removed
  int appliedSwaps = 0;
  int appliedRestores = 0;
  int appliedRemedies = 0;  // findings whose own remedy took effect
  std::vector<CoherenceFinding> coherenceFindings;
};

// "m:ss.ss" with minutes unbounded (75.5 s is "1:15.50"); every time in prompts and notes.
std::string timestamp(double seconds);

// One line as the prompts list it: "[index] start–end | words".
std::string promptLine(const Utterance& utterance);

// A model-written sentence made safe to show: control characters (other than tab and line
// feed) removed, trimmed, cut to 200 characters; "adjudicated cut" when nothing is left.
std::string cleanReason(std::string_view text);

// The cut category a finding's remedy cut stands for; nothing when the remedy cuts nothing.
std::optional<std::string> remedyCategory(std::string_view kind, std::optional<int> survivor);

// The script beat an utterance renders best (beat index, score), when any scores 0.55 or more.
std::optional<std::pair<int, double>> bestBeat(const Utterance& utterance, const TakeSelector::ScriptBeats& beats);

// The utterances whose midpoint no removal other than a filler contains, in input order.
std::vector<Utterance> keptUtterances(std::span<const Utterance> utterances, std::span<const Segment> removals);

// Turns a verdict into an outcome under the guards. Throws AdjudicationError::wholesaleCut.
Outcome apply(const Verdict& verdict, std::span<const Utterance> kept, std::span<const Utterance> allUtterances,
              const TakeSelector::Decision& decision, const std::optional<std::string>& script);

// The adjudication prompt: the fixed instructions, then the evidence pack.
std::string buildPrompt(std::span<const Utterance> kept, const Transcript& transcript,
                        const TakeSelector::Decision& decision, const std::optional<std::string>& script,
                        double sourceDuration, const std::optional<std::string>& notes);

// The second opinion on a decision. Nothing is sent when the decision keeps nothing. The
// backend's errors, unparseableVerdict and wholesaleCut pass through.
Outcome adjudicate(const Transcript& transcript, std::span<const SilenceSpan> silences,
                   const TakeSelector::Decision& decision, const std::optional<std::string>& script,
                   double sourceDuration, const std::optional<std::string>& notes, const AdjudicationBackend& backend,
                   std::stop_token stop = {});

// The self-review prompt. Coherence evidence, when given (even empty), adds the second job
// and stands in place of the kept list.
std::string correctionPrompt(std::span<const OutputAudit::Defect> defects, std::span<const Utterance> kept,
                             const std::optional<std::string>& script, const std::optional<std::string>& notes,
                             const std::optional<std::string>& coherence);

// One self-review round. Nothing is sent when nothing is kept, or when there are neither
// defects nor coherence evidence.
Outcome correct(std::span<const OutputAudit::Defect> defects, const Transcript& transcript,
                std::span<const SilenceSpan> silences, const TakeSelector::Decision& decision,
                const std::optional<std::string>& script, const std::optional<std::string>& notes,
                const std::optional<std::string>& coherence, std::optional<std::vector<Utterance>> utterances,
                const AdjudicationBackend& backend, std::stop_token stop = {});

}  // namespace kestrane::Adjudicator
