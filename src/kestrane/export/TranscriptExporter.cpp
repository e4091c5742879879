#include "kestrane/export/TranscriptExporter.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CheckedCast.hpp"

namespace kestrane::TranscriptExporter {

namespace {

bool endsWith(std::string_view text, char c) { return !text.empty() && text.back() == c; }

bool endsSentence(std::string_view text) { return endsWith(text, '.') || endsWith(text, '?') || endsWith(text, '!'); }

struct Group {
  double start = 0;
  double end = 0;
  std::vector<std::string> words;
};

// The walk shared by cues and anchor lines; a comma closes a group only when `commaThreshold`
// is given and the group holds at least that many words.
std::vector<Group> group(const std::vector<CutWord>& words, double maxSeconds, int maxWords,
                         std::optional<int> commaThreshold) {
  std::vector<Group> out;
  if (words.empty()) return out;
  Group current;
  current.start = words.front().start;
  current.end = words.front().end;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if ((k + 1) % 4096 == 0) checkpoint();
    const CutWord& word = words[k];
    if (!current.words.empty()) {
      const std::string& last = current.words.back();
      const auto n = static_cast<std::int64_t>(current.words.size());
      const bool close = endsSentence(last) || (commaThreshold && endsWith(last, ',') && n >= *commaThreshold) ||
                         n >= maxWords || word.end - current.start > maxSeconds;
      if (close) {
        out.push_back(current);
        current.words.clear();
        current.start = word.start;
      }
    }
    current.words.push_back(word.text);
    current.end = word.end;
  }
  if (!current.words.empty()) out.push_back(current);
  return out;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

// Whole seconds of a time, with negative and non-finite times taken as 0.
std::int64_t wholeSeconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  return clampedInteger<std::int64_t>(seconds);
}

std::string srtTime(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const std::int64_t whole = wholeSeconds(seconds);
  // Truncated, never rounded: 59.9999 s stays in second 59.
  const auto millis = static_cast<std::int64_t>((seconds - std::floor(seconds)) * 1000.0);
  return fmt::format("{:02d}:{:02d}:{:02d},{:03d}", whole / 3600, (whole % 3600) / 60, whole % 60, millis);
}

std::string srtText(const std::vector<Cue>& cues) {
  std::string out;
  for (std::size_t i = 0; i < cues.size(); ++i) {
    if ((i + 1) % 4096 == 0) checkpoint();
    if (i > 0) out += '\n';
    out += fmt::format("{}\n{} --> {}\n{}\n", i + 1, srtTime(cues[i].start), srtTime(cues[i].end), cues[i].text());
  }
  return out;
}

}  // namespace

std::string Cue::text() const { return joined(words); }

std::vector<CutWord> wordsOnCutTimeline(const Transcript& transcript, const CutList& cutList) {
  std::vector<CutWord> out;
  double offset = 0;
  // Every kept piece looks through every word: on a long recording cut into many pieces this
  // runs for minutes, so the job's stop is looked at as it goes.
  std::size_t steps = 0;
  for (const Segment& segment : cutList.segments) {
    if (++steps % 65536 == 0) checkpoint();
    if (!segment.isKept()) continue;
    const double s = segment.range.start;
    const double e = segment.range.end;
    for (const TranscriptWord& word : transcript.words) {
      if (++steps % 65536 == 0) checkpoint();
      const double mid = (word.range.start + word.range.end) * 0.5;
      if (!(s <= mid && mid < e)) continue;
      CutWord cut;
      cut.text = word.text;
      cut.start = offset + (std::max(word.range.start, s) - s);
      cut.end = std::max(cut.start, offset + (std::min(word.range.end, e) - s));
      out.push_back(std::move(cut));
    }
    // Same length as the layout's span, so the plain timeline and FrameSnapping agree.
    offset += std::max(0.0, e - s);
  }
  return out;
}

std::vector<Cue> cues(const Transcript& transcript, const CutList& cutList, double maxLineDuration,
                      int maxWordsPerCue) {
  const int commaThreshold = maxWordsPerCue < 4 ? 2 : maxWordsPerCue / 2;
  std::vector<Cue> out;
  for (auto& g : group(wordsOnCutTimeline(transcript, cutList), maxLineDuration, maxWordsPerCue, commaThreshold)) {
    out.push_back(Cue{g.start, g.end, std::move(g.words)});
  }
  return out;
}

std::vector<Cue> snappedCues(std::vector<Cue> cues, const SourceMedia& source, const CutList& cutList) {
  const FrameSnapping::Layout layout = FrameSnapping::layout(source, cutList);
  for (std::size_t i = 0; i < cues.size(); ++i) {
    if ((i + 1) % 4096 == 0) checkpoint();
    Cue& cue = cues[i];
    cue.start = layout.cutSeconds(cue.start);
    cue.end = std::max(cue.start, layout.cutSeconds(cue.end));
  }
  return cues;
}

std::string srt(const Transcript& transcript, const CutList& cutList, double maxLineDuration, int maxWordsPerCue) {
  return srtText(cues(transcript, cutList, maxLineDuration, maxWordsPerCue));
}

std::string srt(const SourceMedia& source, const Transcript& transcript, const CutList& cutList, double maxLineDuration,
                int maxWordsPerCue) {
  return srtText(snappedCues(cues(transcript, cutList, maxLineDuration, maxWordsPerCue), source, cutList));
}

std::vector<AnchorLine> anchorLines(const Transcript& transcript, const CutList& cutList, double maxLineSeconds,
                                    int maxWordsPerLine) {
  std::vector<AnchorLine> out;
  for (const auto& g : group(wordsOnCutTimeline(transcript, cutList), maxLineSeconds, maxWordsPerLine, std::nullopt)) {
    out.push_back(AnchorLine{g.start, g.end, joined(g.words)});
  }
  return out;
}

std::string anchorMarkdown(const Transcript& transcript, const CutList& cutList, double maxLineSeconds,
                           int maxWordsPerLine) {
  std::string out;
  std::size_t written = 0;
  for (const AnchorLine& line : anchorLines(transcript, cutList, maxLineSeconds, maxWordsPerLine)) {
    if (++written % 4096 == 0) checkpoint();
    if (!out.empty()) out += '\n';
    const std::int64_t t = wholeSeconds(line.start);
    out += fmt::format("[{:02d}:{:02d}] {}", t / 60, t % 60, line.text);
  }
  return out;
}

int beatCount(const Transcript& transcript, const CutList& cutList) {
  return static_cast<int>(anchorLines(transcript, cutList, anchorMaxLineSeconds, anchorMaxWordsPerLine).size());
}

}  // namespace kestrane::TranscriptExporter
