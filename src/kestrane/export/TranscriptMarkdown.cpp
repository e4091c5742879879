// The package's Markdown transcript.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CutFigures.hpp"
#include "kestrane/model/Utf8Text.hpp"
#include "kestrane/model/CheckedCast.hpp"

namespace kestrane::TranscriptExporter {

namespace {

// "mm:ss" of a time truncated to whole seconds; minutes are not capped at 59.
std::string stamp(double seconds) {
  const std::int64_t t = (!std::isfinite(seconds) || seconds <= 0) ? 0 : clampedInteger<std::int64_t>(seconds);
  return fmt::format("{:02d}:{:02d}", t / 60, t % 60);
}

std::string fileName(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.has_filename()) p = p.parent_path();
  return Utf8Text::lossy(p.filename().string());
}

// Paragraph stamps are read against the timeline and the rough cut, which play whole frames.
std::optional<FrameSnapping::Layout> frameLayout(const SourceMedia& source, const CutList& cutList) {
  try {
    return FrameSnapping::layout(source, cutList);
  } catch (const RationalTimeError&) {
    return std::nullopt;
  }
}

}  // namespace

std::string markdown(const SourceMedia& source, const Transcript& transcript, const CutList& cutList,
                     const std::vector<Advisory>& editorNotes) {
  std::vector<std::string> lines;
  lines.push_back("# Transcript \u2014 " + fileName(source.path) + " (first cut)");
  lines.emplace_back();

  double removed = 0;
  for (const Segment& segment : cutList.segments) {
    if (segment.kind != SegmentKind::keep) removed += segment.range.end - segment.range.start;
  }
  // Counted as the run's summary counts them, so a filler the cut only clips is not reported
  // as removed while the paragraphs below still hold it.
  const CutFigures figures = cutFigures(source.durationSeconds, cutList, transcript.words);
  const auto counts = removedCounts(figures);
  const std::string byHand = figures.manual == 0 ? std::string() : fmt::format(", {} by hand", figures.manual);
  lines.push_back(fmt::format("Source {:.1f}s \u2192 cut {:.1f}s (removed {:.1f}s: {}, {}, {}, {}{})",
                              source.durationSeconds, figures.kept, removed, counts[0], counts[1], counts[2], counts[3],
                              byHand));
  lines.emplace_back();

  const auto layout = frameLayout(source, cutList);
  std::vector<std::string> paragraph;
  double paragraphStart = 0;
  double previousEnd = 0;
  const auto flush = [&] {
    if (paragraph.empty()) return;
    std::string text;
    for (const auto& word : paragraph) {
      if (!text.empty()) text += ' ';
      text += word;
    }
    const double at = layout ? layout->cutSeconds(paragraphStart) : paragraphStart;
    lines.push_back("**[" + stamp(at) + "]** " + text);
    lines.emplace_back();
    paragraph.clear();
  };
  std::size_t placed = 0;
  for (const CutWord& word : wordsOnCutTimeline(transcript, cutList)) {
    if (++placed % 4096 == 0) checkpoint();
    // A pause starts a paragraph only when it is still in the cut.
    if (!paragraph.empty() && word.start - previousEnd > 0.75) flush();
    if (paragraph.empty()) paragraphStart = word.start;
    paragraph.push_back(word.text);
    previousEnd = word.end;
  }
  flush();

  if (!editorNotes.empty()) {
    std::vector<Advisory> notes = editorNotes;
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Advisory& a, const Advisory& b) { return a.range.start < b.range.start; });
    lines.push_back("## Notes to your editor");
    lines.emplace_back();
    lines.push_back(
        "Spoken on camera, removed from the cut \u2014 each is a marker inside the source compound "
        "clip in Final Cut.");
    lines.emplace_back();
    for (const Advisory& note : notes) lines.push_back("- **[" + stamp(note.range.start) + "]** " + note.note);
    lines.emplace_back();
  }

  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if ((i + 1) % 4096 == 0) checkpoint();
    if (i > 0) out += '\n';
    out += lines[i];
  }
  return out;
}

}  // namespace kestrane::TranscriptExporter
