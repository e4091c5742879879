#pragma once
// The transcript carried onto the cut timeline: cut words, caption cues, SRT text, anchor lines
// for the visual-ideas pass, and the Markdown transcript of the package.
//
// "The cut timeline" here is the plain one: the kept segments laid back to back from 0 in
// cut-list order, in seconds. Writers that place things on frames carry these times over
// with FrameSnapping::Layout::cutSeconds.
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/SubtitleLength.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::TranscriptExporter {

// A word re-timed onto the cut timeline; its end is never before its start.
struct CutWord {
  std::string text;
  double start = 0;
  double end = 0;

  friend bool operator==(const CutWord&, const CutWord&) = default;
};

// One caption on the cut timeline, from its first word's start to its last word's end.
struct Cue {
  double start = 0;
  double end = 0;
  std::vector<std::string> words;  // never empty

  std::string text() const;  // the words joined by single spaces
  friend bool operator==(const Cue&, const Cue&) = default;
};

// One timestamped line of the cut transcript.
struct AnchorLine {
  double start = 0;
  double end = 0;
  std::string text;

  friend bool operator==(const AnchorLine&, const AnchorLine&) = default;
};

// The limits and the texts the options show for each caption length.
int maxWordsPerCue(SubtitleLength length);
double maxLineDuration(SubtitleLength length);
std::string_view label(SubtitleLength length);
std::string_view hint(SubtitleLength length);

// The package's SRT file is always cut at these limits, whatever length the user chose.
inline constexpr int srtMaxWordsPerCue = 12;
inline constexpr double srtMaxLineDuration = 4.0;
// Anchor lines for the visual-ideas pass and its beat count.
inline constexpr int anchorMaxWordsPerLine = 16;
inline constexpr double anchorMaxLineSeconds = 6.0;

// Each kept segment takes the words whose midpoint lies in it (start included, end excluded),
// clipped to the segment; words by kept segment, then in transcript order.
std::vector<CutWord> wordsOnCutTimeline(const Transcript& transcript, const CutList& cutList);

// Caption cues: a cue closes before a word when its last word ends a sentence (. ? !), ends
// with a comma and the cue is long enough, the cue is full, or the word would stretch it past
// `maxLineDuration`.
std::vector<Cue> cues(const Transcript& transcript, const CutList& cutList, double maxLineDuration, int maxWordsPerCue);

// Cues carried over to the frame-snapped cut of `source` (FrameSnapping::layout), where the
// timelines and the rough cut play their words.
std::vector<Cue> snappedCues(std::vector<Cue> cues, const SourceMedia& source, const CutList& cutList);

// SubRip text of the cues, numbered from 1, blocks separated by one empty line; empty when
// there are no cues.
std::string srt(const Transcript& transcript, const CutList& cutList, double maxLineDuration, int maxWordsPerCue);

// The same, with the cues timed on the frame-snapped cut of `source`: what the package's
// captions use, so they stay with their words in the rendered cut and the timelines.
std::string srt(const SourceMedia& source, const Transcript& transcript, const CutList& cutList, double maxLineDuration,
                int maxWordsPerCue);

// Lines for reading the cut: closed at a sentence end, when full, or when a word would stretch
// the line past `maxLineSeconds`.
std::vector<AnchorLine> anchorLines(const Transcript& transcript, const CutList& cutList, double maxLineSeconds,
                                    int maxWordsPerLine);

// "[mm:ss] text" per anchor line, joined by line feeds, no newline after the last.
std::string anchorMarkdown(const Transcript& transcript, const CutList& cutList, double maxLineSeconds,
                           int maxWordsPerLine);

// The number of anchor lines at the visual-ideas limits.
int beatCount(const Transcript& transcript, const CutList& cutList);

// The package's "transcript.md": heading, what the cut removed, the surviving words as
// timestamped paragraphs on the cut (timed on the source's frame-snapped cut), and the notes
// to the editor at their source times.
std::string markdown(const SourceMedia& source, const Transcript& transcript, const CutList& cutList,
                     const std::vector<Advisory>& editorNotes);

}  // namespace kestrane::TranscriptExporter
