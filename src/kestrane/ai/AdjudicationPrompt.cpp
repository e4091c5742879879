// The adjudication prompt: what the model may judge, how to answer, and the evidence.
#include <algorithm>

#include <fmt/format.h>

#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/ai/ModelText.hpp"

namespace kestrane::Adjudicator {

namespace {

constexpr std::string_view kRole =
    "You are the adjudication tier of Kestrane, an automated first-cut editor for talking-head "
    "footage. A deterministic engine has already removed silences, false starts and lexically "
    "obvious retakes. You review only what it KEPT, and you catch only the failures that need "
    "judgment, not string similarity. The deliverable is one clean pass through the content — "
    "the presenter, on message, every beat exactly once.\n\n"
    "Judge ONLY these failure classes:\n\n";

constexpr std::string_view kClasses =
    "1. offCameraSpeaker — a line spoken by someone other than the on-camera presenter. The "
    "transcript has no speaker labels, so recognise it by register: directions or prompts to the "
    "presenter, questions the presenter then answers, crew chatter, meta-comments about the "
    "recording. Cut them. The presenter's own deliveries are never this class, but the presenter "
    "talking ABOUT the recording is (wanting to redo a line, judging a take, debating wording). "
    "Chatter continuity: a short kept line that matches nothing in the script and sits between "
    "lines already cut as chatter or take talk is chatter too — cut it. One exception is never "
    "cut: a meta-comment a human editor would act on in post (naming which take to use, flagging "
    "something to fix or verify, calling for material). Leave it for the self-review pass, which "
    "removes it and leaves a marker at that spot. Take-management chatter that the cut itself "
    "resolves is still a cut.\n\n"
    "2. paraphraseDuplicate — two KEPT lines that deliver the same content beat in different "
    "words. Keep the single best rendition (ties go to the later take) and cut the other; "
    "survivor, the index of the kept twin, is mandatory. Always a cut: a line that trails off "
    "unfinished while a nearby line delivers the same beat completely, even when the unfinished "
    "one came first. Prefer as survivor the contiguous, fluent delivery over one split into "
    "pieces by pauses or carrying inline self-coaching. Cluster unification: a beat delivered "
    "many times may survive in several kept places, and exactly one rendition must survive "
    "globally. Do NOT cut deliberate rhetorical repetition: bookends, parallel step lists, "
    "callbacks. Only true re-takes of a beat count.\n\n";

constexpr std::string_view kNoScriptClass =
    "3. offScript — no script was provided for this footage, so this category is UNAVAILABLE. "
    "Do not use it.\n\n";

constexpr std::string_view kScriptClass =
    "3. offScript — the SCRIPT below is the ground truth: the finished video is the script's "
    "lines, in order, best rendition of each, and nothing else. Cut kept lines that render no "
    "script line (warm-ups, abandoned tangents, improvised beats). NEVER cut the only kept "
    "rendition of a script line — every script line keeps exactly one best rendition. Two kept "
    "renditions of one script line are a paraphraseDuplicate with a survivor. Be thorough: walk "
    "the script line by line, count garbled transcriptions of a line as renditions of it, keep "
    "only the best, then cut every kept line that maps to no script line.\n\n";

constexpr std::string_view kRest =
    "4. Wrong winner (the swaps list) — a take group under TAKE GROUPS where a listed alternate "
    "is clearly better than the kept winner. A swap names the group id and the alternate number. "
    "Only when clearly better.\n\n"
    "RULES:\n"
    "- Only indices from KEPT UTTERANCES may appear in cuts. You cannot reorder anything — you "
    "only choose what stays.\n"
    "- Be conservative with offCameraSpeaker, paraphraseDuplicate and swaps: a wrong cut loses "
    "content forever. When unsure, leave the line in with confidence below 0.5; that makes it a "
    "review marker for the editor.\n"
    "- reason is shown to the editor on the timeline marker: one short, specific sentence.\n"
    "- confidence is 0 to 1. Cuts under 0.5 are applied as advisory markers only.\n"
    "- If nothing needs cutting, return {\"cuts\":[]}.\n"
    "- Final self-check: read the surviving kept lines in order as the finished video. Any beat "
    "heard twice in a row — above all a trail-off followed by its complete delivery — is a "
    "missed paraphraseDuplicate: go back and cut it.\n\n"
    "Respond with ONLY a JSON object matching exactly:\n"
    "{\"cuts\":[{\"index\":<int>,\"category\":\"offCameraSpeaker|paraphraseDuplicate|offScript\","
    "\"reason\":\"...\",\"confidence\":<0..1>,\"survivor\":<int, required for "
    "paraphraseDuplicate>}],\"swaps\":[{\"group\":<int>,\"alternate\":<int>,\"reason\":\"...\","
    "\"confidence\":<0..1>}]}\n"
    "\nEVIDENCE PACK:\n";

std::string_view trimmed(const std::optional<std::string>& text) {
  return text ? ModelText::trim(*text) : std::string_view();
}

// The words of the transcript that lie within a range, give or take 10 ms.
std::string wordsWithin(const std::vector<TranscriptWord>& words, const TimeRange& range) {
  const auto first =
      std::ranges::lower_bound(words, range.start - 0.01, {}, [](const TranscriptWord& w) { return w.range.start; });
  std::string text;
  for (auto w = first; w != words.end() && w->range.start <= range.end + 0.01; ++w) {
    if (w->range.end > range.end + 0.01) continue;
    if (!text.empty()) text += ' ';
    text += w->text;
  }
  return text;
}

void appendEvidence(std::string& out, std::span<const Utterance> kept, const Transcript& transcript,
                    const TakeSelector::Decision& decision, std::string_view script, double sourceDuration,
                    std::string_view notes) {
  if (!notes.empty()) {
    out += "OWNER NOTES (editorial directives from the project owner — ";
    out += "they outrank every default rule below):\n";
    out += notes;
    out += "\n\n";
  }
  double speech = 0;
  for (const Utterance& u : kept) speech += u.range.duration();
  out += fmt::format(
      "SOURCE: {:.1f}s of raw footage; the deterministic engine currently keeps {} utterances "
      "({:.1f}s of speech).\n\n",
      sourceDuration, kept.size(), speech);
  if (!script.empty()) {
    out += "SCRIPT (the presenter's planned lines, in delivery order):\n";
    out += script;
    out += "\n\n";
  }
  out += "KEPT UTTERANCES (index | source time | text) — these are in the cut today:\n";
  for (const Utterance& u : kept) {
    out += promptLine(u);
  }
  out += "\n";

  const bool anyAlternates = std::ranges::any_of(
      decision.takeGroups, [](const TakeGroupInfo& g) { return g.alternateRanges && !g.alternateRanges->empty(); });
  if (anyAlternates) {
    out += "TAKE GROUPS ALREADY ADJUDICATED (winner kept; listed alternates are ";
    out += "complete, swap-quality renditions that were cut):\n";
    for (const TakeGroupInfo& g : decision.takeGroups) {
      if (!g.alternateRanges || g.alternateRanges->empty()) continue;
      const auto winner =
          std::ranges::find_if(kept, [&g](const Utterance& u) { return u.range.overlaps(g.winnerRange); });
      const std::string label =
          winner != kept.end() ? fmt::format("[{}]", winner->index) : timestamp(g.winnerRange.start);
      out += fmt::format("- group {}: winner {}\n", g.id, label);
      int number = 0;
      for (const TimeRange& alt : *g.alternateRanges) {
        out += fmt::format("    alternate {} @ {}: {}\n", ++number, timestamp(alt.start),
                           wordsWithin(transcript.words, alt));
      }
    }
    out += "\n";
  }
  if (!decision.advisories.empty()) {
    out += "ENGINE ADVISORIES (already flagged for the editor):\n";
    for (const Advisory& a : decision.advisories) {
      out += "- " + timestamp(a.range.start) + ": " + a.note + "\n";
    }
    out += "\n";
  }
}

}  // namespace

std::string buildPrompt(std::span<const Utterance> kept, const Transcript& transcript,
                        const TakeSelector::Decision& decision, const std::optional<std::string>& script,
                        double sourceDuration, const std::optional<std::string>& notes) {
  const std::string_view scriptText = trimmed(script);
  std::string out;
  out.reserve(4096 + kept.size() * 120);
  out += kRole;
  out += kClasses;
  out += scriptText.empty() ? kNoScriptClass : kScriptClass;
  out += kRest;
  appendEvidence(out, kept, transcript, decision, scriptText, sourceDuration, trimmed(notes));
  return out;
}

}  // namespace kestrane::Adjudicator
