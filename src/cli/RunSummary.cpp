#include "RunSummary.hpp"

#include <cmath>

#include <fmt/format.h>

#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::cli {

namespace {

struct Figures {
  double source = 0;
  double kept = 0;
  int silences = 0, flubs = 0, retakes = 0, fillers = 0, manual = 0;
};

Figures figuresOf(const KestraneSession& session) {
  Figures f;
  f.source = session.source.durationSeconds;
  if (!session.cutList) return f;
  f.kept = session.cutList->keptDuration();
  for (const Segment& segment : session.cutList->segments) {
    switch (segment.kind) {
      case SegmentKind::silence: ++f.silences; break;
      case SegmentKind::flub: ++f.flubs; break;
      case SegmentKind::retakeRejected: ++f.retakes; break;
      case SegmentKind::filler: ++f.fillers; break;
      case SegmentKind::manual: ++f.manual; break;
      case SegmentKind::keep: break;
    }
  }
  return f;
}

std::string counted(int n, const char* one, const char* many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

}  // namespace

std::string figuresLine(const KestraneSession& session) {
  const Figures f = figuresOf(session);
  std::string removed = fmt::format(
      "{}, {}, {}, {}", counted(f.silences, "silence", "silences"), counted(f.flubs, "flub", "flubs"),
      counted(f.retakes, "alternate take", "alternate takes"), counted(f.fillers, "filler", "fillers"));
  if (f.manual > 0) removed += fmt::format(", {} by your hand", f.manual);
  const std::string share =
      f.source > 0 ? fmt::format("{}% removed", std::lround(100 * (1 - f.kept / f.source)))
                   : std::string("removed");
  return fmt::format("{} of footage → {} ({}: {})", timeStamp(f.source), timeStamp(f.kept), share,
                     removed);
}

std::optional<std::string> keepsAlmostNothing(const KestraneSession& session) {
  const Figures f = figuresOf(session);
  if (f.source <= 0 || f.kept >= 0.02 * f.source) return std::nullopt;
  return fmt::format(
      "The cut keeps only {} of {} — almost everything was taken for silence or retakes. Try a "
      "lower --sensitivity or a lower --threshold (such as -50), or --silences-only.",
      timeStamp(f.kept), timeStamp(f.source));
}

std::vector<std::string> worthAListen(const KestraneSession& session) {
  std::vector<std::string> lines;
  if (!session.advisories || session.advisories->empty()) return lines;
  lines.emplace_back("Worth a listen:");
  for (const Advisory& advisory : *session.advisories) {
    lines.push_back(fmt::format("  {}  {}", timeStamp(advisory.range.start), advisory.note));
  }
  return lines;
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
    case ExportTarget::finalCut:
      break;
  }
  return "Open in Final Cut Pro: " + output.fcpxmlURL.string();
}

}  // namespace kestrane::cli
