#include "kestrane/brain/EditPlanner.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/brain/SilenceTimeline.hpp"
#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane::EditPlanner {
namespace {

Segment keepSegment(double start, double end, std::optional<std::int64_t> takeGroup = std::nullopt) {
  return Segment{TimeRange{start, end}, SegmentKind::keep, std::nullopt, takeGroup};
}

std::vector<SilenceSpan> sortedByStart(std::span<const SilenceSpan> silences) {
  std::vector<SilenceSpan> sorted(silences.begin(), silences.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const SilenceSpan& a, const SilenceSpan& b) { return a.range.start < b.range.start; });
  return sorted;
}

// A filler's cut stays off the recognised words beside it: the recogniser's spans may overlap
// by a frame or two, and the overlap belongs to the real word.
TimeRange betweenNeighbours(TimeRange range, const WordTimeline& timeline) {
  if (auto before = timeline.lastMidpointBefore(range.start))
    range.start = std::max(range.start, timeline.at(*before).range.end);
  const double after = std::numeric_limits<double>::infinity();
  if (auto next = timeline.firstLyingIn(TimeRange{range.end, after}))
    range.end = std::min(range.end, timeline.at(*next).range.start);
  return range;
}

}  // namespace

double wordTailRelease(double speechPadding) {
  return std::clamp(speechPadding + 0.08, minWordTailRelease, maxWordTailRelease);
}

CutList planSilenceCuts(double sourceDuration, std::span<const SilenceSpan> silences, const PipelineSettings& settings,
                        std::span<const TranscriptWord> words) {
  const double padding = settings.resolvedSpeechPadding();
  const double release = wordTailRelease(padding);
  const WordTimeline timeline(words);
  CutList cut;
  double prevEnd = 0;
  for (const auto& silence : sortedByStart(silences)) {
    const double s = silence.range.start;
    const double e = silence.range.end;
    // No padding at the source's own start and end: there is no speech to protect there.
    double cutStart = s > 0.001 ? s + padding : s;
    double cutEnd = e < sourceDuration - 0.001 ? e - padding : e;

    if (!timeline.empty()) {
      // A word running across the cut start keeps its end (the recognizer heard it there).
      if (auto w = timeline.lastStraddling(cutStart)) {
        const double wordEnd = timeline.at(*w).range.end;
        const double reach = wordEnd < e ? 1.0 : 0.25;
        cutStart = std::min(cutStart + reach, wordEnd);
      }
      // The last word spoken before the silence keeps its tail.
      if (auto w = timeline.lastEndingBy(cutStart, s)) {
        const double wordEnd = timeline.at(*w).range.end;
        if (cutStart - wordEnd < release) cutStart = wordEnd + release;
        if (s - wordEnd > 0 && s - wordEnd <= maxASRTailShortfall) {
          cutStart = std::max(cutStart, s + minWordTailRelease);
        }
      }
    }

    // Silences reaching past the source never cut beyond its end.
    cutEnd = std::min(cutEnd, sourceDuration);
    if (cutEnd - cutStart > 0.05) {
      const double from = std::max(cutStart, prevEnd);
      if (!(from < cutEnd)) continue;  // overlapping input: nothing new to cut
      if (prevEnd < cutStart) cut.segments.push_back(keepSegment(prevEnd, cutStart));
      cut.segments.push_back(Segment{TimeRange{from, cutEnd}, SegmentKind::silence,
                                     fmt::format("silence {:.1f}s @ {:.1f} dBFS", e - s, silence.meanLevelDBFS),
                                     std::nullopt});
      prevEnd = cutEnd;
    }
  }
  if (prevEnd < sourceDuration) cut.segments.push_back(keepSegment(prevEnd, sourceDuration));
  return cut;
}

CutList applying(std::span<const Segment> removals, const CutList& cut, std::span<const TranscriptWord> words,
                 double speechPadding, std::span<const SilenceSpan> silences) {
  std::vector<Segment> sorted;
  for (const auto& r : removals) {
    if (r.kind != SegmentKind::keep && r.range.end > r.range.start) sorted.push_back(r);
  }
  if (sorted.empty()) return cut;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Segment& a, const Segment& b) { return a.range.start < b.range.start; });

  // Found before any start moves; a start only moves later, so these still bound the overlaps.
  std::vector<TimeRange> original;
  original.reserve(sorted.size());
  for (const auto& r : sorted) original.push_back(r.range);
  const RangeIndex index(original);

  const double release = wordTailRelease(speechPadding);
  const WordTimeline timeline(words);
  if (!timeline.empty()) {
    const SilenceTimeline quiet(silences);
    for (auto& removal : sorted) {
      if (removal.kind == SegmentKind::filler) removal.range = betweenNeighbours(removal.range, timeline);
      const double s = removal.range.start;
      const auto w = timeline.lastMidpointBefore(s);
      if (!w) continue;
      const double wordEnd = timeline.at(*w).range.end;
      double target = wordEnd + release;
      // A silence right after the word's recognised end means the tail may have been clipped.
      if (auto q = quiet.firstStartingAfter(wordEnd, wordEnd + maxASRTailShortfall, s)) {
        target = std::max(target, quiet.range(*q).start + minWordTailRelease);
      }
      if (s < target) {
        const double start = std::min(s + 0.6, target);
        if (start < removal.range.end) removal.range.start = start;
      }
    }
  }

  CutList result;
  result.segments.reserve(cut.segments.size() + 2 * sorted.size());
  for (const auto& segment : cut.segments) {
    if (!segment.isKept()) {
      result.segments.push_back(segment);
      continue;
    }
    const double a = segment.range.start;
    const double b = segment.range.end;
    double cursor = a;
    for (std::size_t p = index.firstReachingPast(a), to = index.startingBefore(b); p < to; ++p) {
      const Segment& removal = sorted[index.item(p)];
      if (!(removal.range.start < removal.range.end)) continue;
      if (!(removal.range.start < b && a < removal.range.end)) continue;
      const double lo = std::max(removal.range.start, cursor);
      const double hi = std::min(b, removal.range.end);
      if (cursor < hi) {
        if (cursor < lo) result.segments.push_back(keepSegment(cursor, lo));
        result.segments.push_back(Segment{TimeRange{lo, hi}, removal.kind, removal.reason, removal.takeGroup});
        cursor = hi;
      }
    }
    if (cursor < b) result.segments.push_back(keepSegment(cursor, b, segment.takeGroup));
  }
  return result;
}

CutList trimDeadEdges(const CutList& cut, std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                      double speechPadding, double frameDuration) {
  if (words.empty()) return cut;
  const double shortest = std::max(2 * frameDuration, 0.08);
  const double tailRelease = std::max(wordTailRelease(speechPadding), speechPadding);
  const WordTimeline timeline(words);
  const SilenceTimeline quiet(silences);

  CutList result;
  result.segments.reserve(cut.segments.size() + 8);
  for (const auto& segment : cut.segments) {
    const auto lying = segment.isKept() ? timeline.lyingIn(segment.range) : std::vector<std::size_t>{};
    if (lying.empty()) {
      result.segments.push_back(segment);
      continue;
    }
    const double a = segment.range.start;
    const double b = segment.range.end;
    const TranscriptWord& first = timeline.at(lying.front());
    const TranscriptWord& last = timeline.at(lying.back());

    // Head: dead air from a leading silence up to just before the first word.
    double headStart = a;
    double deadHead = 0;
    if (auto lead = quiet.lastStartingByEndingAfter(a + 0.02, a)) {
      const double leadEnd = quiet.range(*lead).end;
      const double firstMid = timeline.midpoint(lying.front());
      // A first word the recognizer placed inside a silence is anchored near its end.
      const double anchor = quiet.contains(firstMid) ? first.range.end - 0.05 : firstMid;
      headStart = std::max(a, std::min(std::max(anchor, a), leadEnd - speechPadding));
      deadHead = leadEnd - a;
    }
    const double newStart = (deadHead <= deadEdgeCeiling && headStart - a < deadEdgeFloor) ? a : headStart;

    // Tail: dead air after the last word, keeping its release.
    double tailAnchor = last.range.end;
    std::optional<double> tailFloor;
    if (auto trail = quiet.firstEndingFromStartingBefore(b - 0.02, b)) {
      const double trailStart = quiet.range(*trail).start;
      tailAnchor = std::max(timeline.midpoint(lying.back()), std::min(trailStart, last.range.end));
      const double shortfall = trailStart - last.range.end;
      if (shortfall > 0 && shortfall <= maxASRTailShortfall) tailFloor = trailStart + minWordTailRelease;
    }
    double candidate = std::max(newStart + shortest, tailAnchor + tailRelease);
    if (tailFloor) candidate = std::max(candidate, *tailFloor);
    candidate = std::min(b, candidate);
    const double newEnd = (b - candidate < deadEdgeFloor && b - tailAnchor <= deadEdgeCeiling) ? b : candidate;

    if (newEnd - newStart < shortest) {
      result.segments.push_back(segment);
      continue;
    }
    if (newStart > a) {
      result.segments.push_back(Segment{TimeRange{a, newStart}, SegmentKind::silence,
                                        "dead air trimmed from the head of the take", std::nullopt});
    }
    result.segments.push_back(
        Segment{TimeRange{newStart, newEnd}, SegmentKind::keep, segment.reason, segment.takeGroup});
    if (newEnd < b) {
      result.segments.push_back(Segment{TimeRange{newEnd, b}, SegmentKind::silence,
                                        "dead air trimmed from the tail of the take", std::nullopt});
    }
  }
  return result;
}

}  // namespace kestrane::EditPlanner
