#include "kestrane/model/CutFigures.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/format.h>

namespace kestrane {

namespace {

// The recognised words by start, to find the ones a span cuts into without reading them all.
class WordSpans {
 public:
  explicit WordSpans(std::span<const TranscriptWord> words) {
    spans_.reserve(words.size());
    for (const TranscriptWord& word : words) {
      if (!std::isfinite(word.range.start) || !std::isfinite(word.range.end)) continue;
      spans_.push_back(word.range);
      longest_ = std::max(longest_, word.range.duration());
    }
    std::sort(spans_.begin(), spans_.end(), [](const TimeRange& a, const TimeRange& b) { return a.start < b.start; });
  }

  // True when the span cuts into words but removes the middle of none of them: what it takes
  // out is no word, only the edge of one that stays.
  bool onlyClips(const TimeRange& span) const {
    auto it = std::lower_bound(spans_.begin(), spans_.end(), span.start - longest_,
                               [](const TimeRange& w, double t) { return w.start < t; });
    bool clips = false;
    for (; it != spans_.end() && it->start < span.end; ++it) {
      if (!it->overlaps(span)) continue;
      const double mid = (it->start + it->end) * 0.5;
      if (span.start <= mid && mid < span.end) return false;
      clips = true;
    }
    return clips;
  }

 private:
  std::vector<TimeRange> spans_;
  double longest_ = 0;
};

std::string counted(int n, const char* one, const char* many) { return fmt::format("{} {}", n, n == 1 ? one : many); }

}  // namespace

CutFigures cutFigures(double sourceSeconds, const CutList& cutList, std::span<const TranscriptWord> words) {
  CutFigures f;
  f.source = sourceSeconds;
  f.kept = cutList.keptDuration();
  const WordSpans spans(words);
  for (const Segment& segment : cutList.segments) {
    switch (segment.kind) {
      case SegmentKind::keep: break;
      case SegmentKind::silence: ++f.silences; break;
      case SegmentKind::flub:
        if (!spans.onlyClips(segment.range)) ++f.flubs;
        break;
      case SegmentKind::retakeRejected:
        if (!spans.onlyClips(segment.range)) ++f.retakes;
        break;
      case SegmentKind::filler:
        if (!spans.onlyClips(segment.range)) ++f.fillers;
        break;
      case SegmentKind::manual: ++f.manual; break;
    }
  }
  return f;
}

CutFigures cutFigures(const KestraneSession& session) {
  if (!session.cutList) {
    CutFigures f;
    f.source = session.source.durationSeconds;
    return f;
  }
  std::span<const TranscriptWord> words;
  if (session.transcript) words = session.transcript->words;
  return cutFigures(session.source.durationSeconds, *session.cutList, words);
}

std::array<std::string, 4> removedCounts(const CutFigures& f) {
  return {counted(f.silences, "silence", "silences"), counted(f.flubs, "flub", "flubs"),
          counted(f.retakes, "alternate take", "alternate takes"), counted(f.fillers, "filler", "fillers")};
}

}  // namespace kestrane
