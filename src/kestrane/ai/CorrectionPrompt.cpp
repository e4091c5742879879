// The self-review prompt: resolve the audit's defects and, with the cut read back, judge
// whether it holds together.
#include <fmt/format.h>

#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/ai/ModelText.hpp"

namespace kestrane::Adjudicator {

namespace {

constexpr std::string_view kFirstJob =
    "FIRST JOB — resolve the concrete defects the deterministic audit found below. Do not "
    "re-edit anything else for this job. For each defect, either cut the offending kept line — "
    "category \"paraphraseDuplicate\" with the surviving twin's index as survivor for a "
    "duplicate, \"offCameraSpeaker\" for chatter or coaching";

constexpr std::string_view kFirstJobScript = ", \"offScript\" for content the script does not have";

constexpr std::string_view kFirstJobNoScript = " (offScript is unavailable: no script was provided)";

constexpr std::string_view kFirstJobEnd =
    " — or leave it with confidence below 0.5, which makes it a review marker, when cutting "
    "would lose real content (a short but legitimate script line, the only rendition of a "
    "beat).\n\n"
    "RULES (same contract as the main adjudication pass):\n"
    "- Only indices from KEPT UTTERANCES may be cut.\n"
    "- A paraphraseDuplicate cut must name its surviving twin; never cut both renditions of a "
    "line.\n"
    "- Never cut the only rendition of a script line.\n"
    "- An unfinished trail-off beside a complete delivery of the same beat is always the one to "
    "cut.\n"
    "- reason is shown to the editor: one short, specific sentence.\n\n";

constexpr std::string_view kSecondJob =
    "SECOND JOB — COHERENCE. Read the FINAL CUT below back in order, as the finished video, and "
    "answer: does this hold together? Report every problem as one finding, with the offending "
    "index when one line is to blame.\n\n"
    "Every finding must carry a remedy — the fix, as data, not as prose:\n"
    "- \"cut\": index is the kept line to remove; survivor is the kept rendition that stays, "
    "required whenever the line is a duplicate or a mixed-run rendition.\n"
    "- \"restore\": index is a \"cut #\" index from the run evidence, replaces is the kept line it "
    "stands in for.\n"
    "- \"none\": reason says why no safe fix exists. This is the right answer for order "
    "problems, missing content, or a judgment left to the editor; the finding reaches the "
    "editor as a review note.\n"
    "Each remedy is validated before it is applied, by the same checks as a cut row: a duplicate "
    "needs a living survivor, the last rendition of a script line is never removed, and a "
    "restore must be a complete rendition of the line it replaces. A remedy that fails is "
    "dropped and its finding becomes a review note. You may also list a cut under cuts, but the "
    "remedy is what gets applied.\n\n"
    "What to look for:\n"
    "- redundant — the same beat twice in meaning, which the lexical tiers miss.\n"
    "- crewTalk — a line spoken to the room rather than the audience; watch short blurbs right "
    "before a main thought. Check it against editorNote first.\n"
    "- editorNote — a note the presenter leaves for the editor (which take to use, something to "
    "fix or verify, material to add). Remedy \"none\", index required, detail a short paraphrase "
    "of the instruction. Kestrane then removes the line from the cut AND drops a marker at that "
    "spot in the source footage. crewTalk is deleted and forgotten; an editor note is deleted "
    "and marked.\n"
    "- offTopic — a tangent that does not belong.\n"
    "- order — a narrative order problem; report it, because nothing can be reordered.\n"
    "- runMix — THE RUN-PATTERN VIOLATION, and the most important one. Presenters restart a "
    "whole run after a flub, and a cut must never stitch a line of an earlier run onto lines of "
    "a later one. THE LAST COMPLETE RUN-THROUGH IS ALMOST ALWAYS THE KEEPER. The sign: a kept "
    "line shot well before the lines that follow it, while the run evidence shows it delivered "
    "again later. Put the later rendition's source time in the detail. If the later rendition is "
    "kept, the remedy cuts the earlier one with the later one as survivor; if it was cut, the "
    "remedy restores it. A runMix finding with action \"none\" is almost always wrong.\n\n"
    "Restores only repair a run mix: the restored take comes back and the line it replaces "
    "leaves the cut in the same move. The two must be renditions of the same line, the restored "
    "take a complete delivery, and no other kept line a duplicate of it. Restore at most one "
    "rendition per line, and only when it makes the run whole — never to re-litigate a take "
    "choice you merely disagree with.\n\n";

constexpr std::string_view kNoScriptMode =
    "NO SCRIPT — there is no script for this footage, so judge the cut purely on meaning, "
    "clarity and run integrity: the checks above, nothing about script beats. Do not invent an "
    "intended script.\n\n";

constexpr std::string_view kScriptMode =
    "SCRIPT MODE — a script is provided, so judge the cut COMPARATIVELY as well, using the "
    "SCRIPT COVERAGE evidence rather than recomputing it:\n"
    "- A beat out of order or absent is reported as scriptGap and not cut: missing content is "
    "reshoot territory.\n"
    "- Judge each deviation as better or worse than the script. An improvised line that works "
    "is a keeper, and the detail says so.\n"
    "- A garbled or wandering rendition is cut when a cleaner rendition of the same beat is also "
    "kept.\n\n";

constexpr std::string_view kFindingRules =
    "FINDINGS RULES:\n"
    "- detail is one sentence an editor can act on, naming the timestamps involved.\n"
    "- Report each problem once. A finding is still worth reporting when its line is also cut.\n"
    "- A clean cut gets an empty findings list. Do not manufacture problems.\n\n";

constexpr std::string_view kFormat = "Respond with ONLY a JSON object matching exactly:\n";

constexpr std::string_view kCutsShape =
    "{\"cuts\":[{\"index\":<int>,\"category\":\"offCameraSpeaker|paraphraseDuplicate|offScript\","
    "\"reason\":\"...\",\"confidence\":<0..1>,\"survivor\":<int, required for "
    "paraphraseDuplicate>}],\"swaps\":[]";

constexpr std::string_view kCoherenceShape =
    ",\"restores\":[{\"index\":<cut # to bring back>,\"replaces\":<kept index it replaces>,"
    "\"reason\":\"...\",\"confidence\":<0..1>}],\"findings\":[{\"kind\":"
    "\"redundant|crewTalk|offTopic|order|runMix|scriptGap|editorNote\",\"detail\":\"...\","
    "\"index\":<int, optional>,\"remedy\":{\"action\":\"cut|restore|none\",\"index\":<int>,"
    "\"replaces\":<int>,\"survivor\":<int>,\"reason\":\"...\",\"confidence\":<0..1>}}]";

std::string_view defectKindName(OutputAudit::Defect::Kind kind) {
  using Kind = OutputAudit::Defect::Kind;
  switch (kind) {
    case Kind::missingBeat: return "missingBeat";
    case Kind::doubledBeat: return "doubledBeat";
    case Kind::doubledLine: return "doubledLine";
    case Kind::choppyRegion: return "choppyRegion";
    case Kind::unfinishedLine: return "unfinishedLine";
    case Kind::suspectFragment: return "suspectFragment";
  }
  return "defect";
}

}  // namespace

std::string correctionPrompt(std::span<const OutputAudit::Defect> defects, std::span<const Utterance> kept,
                             const std::optional<std::string>& script, const std::optional<std::string>& notes,
                             const std::optional<std::string>& coherence) {
  const std::string_view scriptText = script ? ModelText::trim(*script) : std::string_view();
  const std::string_view notesText = notes ? ModelText::trim(*notes) : std::string_view();
  const bool withScript = !scriptText.empty();
  const bool withCoherence = coherence.has_value();

  std::string out;
  out +=
      "You are the self-review tier of Kestrane, an automated first-cut editor for "
      "talking-head footage. The engine assembled a cut, then reviewed its own output. You "
      "have ";
  out += withCoherence ? "two jobs" : "one job";
  out += " in this single pass.\n\n";
  out += kFirstJob;
  out += withScript ? kFirstJobScript : kFirstJobNoScript;
  out += kFirstJobEnd;
  if (withCoherence) {
    out += kSecondJob;
    out += withScript ? kScriptMode : kNoScriptMode;
    out += kFindingRules;
  }
  out += kFormat;
  out += kCutsShape;
  if (withCoherence) out += kCoherenceShape;
  out += "}\n";

  if (!notesText.empty()) {
    out += "\nOWNER NOTES (editorial directives — they outrank every default):\n";
    out += notesText;
    out += "\n";
  }
  out += "\nDEFECTS FOUND BY THE AUDIT:\n";
  if (defects.empty()) out += "- (none — the structural audit came back clean)\n";
  for (const OutputAudit::Defect& d : defects) {
    out += fmt::format("- [{}] {}", defectKindName(d.kind), d.detail);
    if (!d.utteranceIndices.empty()) {
      out += " (utterances:";
      for (int i : d.utteranceIndices) out += fmt::format(" [{}]", i);
      out += ")";
    }
    out += "\n";
  }
  if (withScript) {
    out += "\nSCRIPT (ground truth for what belongs in the video):\n";
    out += scriptText;
    out += "\n";
  }
  if (withCoherence) {
    out += "\n";
    out += *coherence;
  } else {
    out += "\nKEPT UTTERANCES (index | source time | text) — the current cut:\n";
    for (const Utterance& u : kept) {
      out += promptLine(u);
    }
  }
  return out;
}

}  // namespace kestrane::Adjudicator
