#include "RunSummary.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <string_view>

#include <fmt/format.h>

#include "kestrane/model/CutFigures.hpp"
#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::cli {

std::string figuresLine(const KestraneSession& session) {
  const CutFigures f = cutFigures(session);
  const auto counts = removedCounts(f);
  std::string removed = fmt::format("{}, {}, {}, {}", counts[0], counts[1], counts[2], counts[3]);
  if (f.manual > 0) removed += fmt::format(", {} by your hand", f.manual);
  const std::string share =
      f.source > 0 ? fmt::format("{}% removed", std::lround(100 * (1 - f.kept / f.source))) : std::string("removed");
  return fmt::format("{} of footage → {} ({}: {})", timeStamp(f.source), timeStamp(f.kept), share, removed);
}

std::optional<std::string> keepsAlmostNothing(const KestraneSession& session) {
  const CutFigures f = cutFigures(session);
  if (f.source <= 0 || f.kept >= 0.02 * f.source) return std::nullopt;
  return fmt::format(
      "The cut keeps only {} of {} — almost everything was taken for silence or retakes. Try a "
      "lower --sensitivity or a lower --threshold (such as -50), or --silences-only.",
      timeStamp(f.kept), timeStamp(f.source));
}

std::vector<std::string> worthAListen(const KestraneSession& session, std::size_t limit) {
  std::vector<std::string> lines;
  if (!session.advisories || session.advisories->empty()) return lines;
  std::vector<const Advisory*> notes;
  for (const Advisory& advisory : *session.advisories) notes.push_back(&advisory);
  std::stable_sort(notes.begin(), notes.end(),
                   [](const Advisory* a, const Advisory* b) { return a->range.start < b->range.start; });
  std::set<std::string> seen;
  std::vector<std::string> listed;
  for (const Advisory* advisory : notes) {
    std::string line = fmt::format("  {}  {}", timeStamp(advisory->range.start), advisory->note);
    if (seen.insert(line).second) listed.push_back(std::move(line));
  }
  lines.emplace_back("Worth a listen:");
  const std::size_t shown = std::min(limit, listed.size());
  lines.insert(lines.end(), listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(shown));
  if (listed.size() > shown) {
    lines.push_back(fmt::format("  … and {} more in the session file", listed.size() - shown));
  }
  return lines;
}

namespace {

// "Check — kind: detail" and "Coherence — label: detail" summarise the notes
// "Check (kind): detail" and "Coherence (label): detail".
std::optional<std::string> noteOfSummary(const std::string& warning) {
  for (std::string_view kind : {"Check", "Coherence"}) {
    const std::string lead = std::string(kind) + " — ";
    if (!warning.starts_with(lead)) continue;
    const std::size_t colon = warning.find(": ", lead.size());
    if (colon == std::string::npos) return std::nullopt;
    return std::string(kind) + " (" + warning.substr(lead.size(), colon - lead.size()) + ")" + warning.substr(colon);
  }
  return std::nullopt;
}

// "Checks: 4 more notes in the session file": the list of notes counts its own rest.
bool countsMoreNotes(const std::string& warning) {
  return (warning.starts_with("Checks: ") || warning.starts_with("Coherence: ")) &&
         warning.ends_with(" in the session file");
}

}  // namespace

std::string withCommands(std::string text) {
  // The application's button has a command of its own here.
  for (const std::string_view button : {"use Retry AI Pass or re-cut", "Retry AI Pass"}) {
    if (const std::size_t at = text.find(button); at != std::string::npos) {
      text.replace(at, button.size(), "run kestrane retry-ai");
      break;
    }
  }
  return text;
}

std::vector<std::string> closingWarnings(const std::vector<std::string>& warnings, const KestraneSession& session) {
  std::set<std::string> notes;
  if (session.advisories) {
    for (const Advisory& advisory : *session.advisories) notes.insert(advisory.note);
  }
  const std::optional<std::string> spoken = spokenNotesLine(session);
  std::set<std::string> seen;
  std::vector<std::string> out;
  for (std::string warning : warnings) {
    if (spoken && warning == *spoken) continue;
    if (countsMoreNotes(warning)) continue;
    if (const auto note = noteOfSummary(warning); note && notes.contains(*note)) continue;
    if (warning.starts_with("Self-review: ") && notes.contains(warning)) continue;
    warning = withCommands(std::move(warning));
    if (seen.insert(warning).second) out.push_back(std::move(warning));
  }
  return out;
}

std::optional<std::string> spokenNotesLine(const KestraneSession& session) {
  if (!session.editorNotes) return std::nullopt;
  return Pipeline::spokenNotesSentence(*session.editorNotes, session.cutList.value_or(CutList{}));
}

std::string nextStep(const Pipeline::Output& output) {
  switch (output.session.settings.resolvedExportTarget()) {
    case ExportTarget::resolve:
      return "In Resolve: File → Import → Timeline… and pick the .fcpxml from the package. "
             "Subtitles: import captions.srt alongside it.";
    case ExportTarget::premiere:
      return "Drag “" + Pipeline::sourceStem(output.session.source.path) +
             " (Premiere).xml” from the package into Premiere’s Project panel (or File → "
             "Import). The cut arrives with your full raw nested inside — double-click any "
             "piece to fall into it.";
    case ExportTarget::finalCut: break;
  }
  return "Open in Final Cut Pro: " + output.fcpxmlURL.string();
}

}  // namespace kestrane::cli
