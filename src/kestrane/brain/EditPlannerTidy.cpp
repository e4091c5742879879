// The tidy pass: short kept slivers that would only stutter in the cut join their neighbours.
#include <algorithm>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/SilenceTimeline.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane::EditPlanner {
namespace {

constexpr double tidyCeiling = 3.0;   // longer keeps are never tidied
constexpr double shortKeep = 1.6;     // fragments and asides are shorter than this
constexpr double takeCutReach = 2.0;  // silence between a sliver and its take cut
constexpr double fragmentNeighbourGap = 12.0;
constexpr double asideRemovedTotal = 3.5;
constexpr double asideRemovedShorter = 0.4;
constexpr double asideRemovedLonger = 2.5;
constexpr double meaningfulOverlap = 0.05;

bool isTakeCut(SegmentKind kind) {
  return kind == SegmentKind::filler || kind == SegmentKind::retakeRejected || kind == SegmentKind::flub;
}

bool containsRun(const TextAlign::TokenList& haystack, const TextAlign::TokenList& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

bool endsFinished(const std::string& text) {
  return !text.empty() && (text.back() == '.' || text.back() == '?' || text.back() == '!');
}

class Tidier {
 public:
  Tidier(std::vector<Segment>& segments, std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences)
      : segs_(segments), words_(words), quiet_(silences), wordTokens_(words_.size()), segmentTokens_(segments.size()) {
    starts_.reserve(segs_.size());
    for (const auto& s : segs_) starts_.push_back(s.range.start);
  }

  const WordTimeline& words() const { return words_; }

  // Whether walking from i towards dir reaches a take cut (a retake or a flub) before more
  // than 2 s of silence or any other stretch. A filler cut is a removal of its own, not a take
  // cut: counting it let one "um" orphan the pieces of its sentence one after another.
  bool takeCutNearby(std::size_t i, int dir) const {
    double silent = 0;
    for (auto j = static_cast<std::ptrdiff_t>(i) + dir; j >= 0 && j < static_cast<std::ptrdiff_t>(segs_.size());
         j += dir) {
      const Segment& s = segs_[static_cast<std::size_t>(j)];
      if (s.kind == SegmentKind::silence) {
        silent += s.range.duration();
        if (silent > takeCutReach) return false;
        continue;
      }
      return s.kind == SegmentKind::retakeRejected || s.kind == SegmentKind::flub;
    }
    return false;
  }

  const TextAlign::TokenList& tokensOf(std::size_t i) {
    auto& cached = segmentTokens_[i];
    if (!cached) {
      cached.emplace();
      for (std::size_t p : words_.lyingIn(segs_[i].range)) {
        auto& w = wordTokens_[p];
        if (!w) w = TextAlign::tokens(words_.at(p).text);
        cached->insert(cached->end(), w->begin(), w->end());
      }
    }
    return *cached;
  }

  bool duplicatedInNeighbour(std::size_t i) {
    const auto mine = tokensOf(i);
    if (mine.empty() || mine.size() > 4) return false;
    const TimeRange here = segs_[i].range;
    auto repeats = [&](std::size_t j) {
      return segs_[j].isKept() && tokensOf(j).size() > mine.size() && containsRun(tokensOf(j), mine);
    };
    for (std::size_t j = i + 1; j < segs_.size(); ++j) {
      const double gap = segs_[j].range.start - here.end;
      if (gap >= fragmentNeighbourGap) break;
      if (gap >= 0 && repeats(j)) return true;
    }
    for (std::size_t j = i; j-- > 0;) {
      const double gap = here.start - segs_[j].range.end;
      if (gap >= fragmentNeighbourGap) break;
      if (gap >= 0 && repeats(j)) return true;
    }
    return false;
  }

  double removedRun(std::size_t i, int dir) const {
    double total = 0;
    for (auto j = static_cast<std::ptrdiff_t>(i) + dir; j >= 0 && j < static_cast<std::ptrdiff_t>(segs_.size());
         j += dir) {
      const Segment& s = segs_[static_cast<std::size_t>(j)];
      if (s.isKept()) break;
      total += s.range.duration();
    }
    return total;
  }

  bool isolatedAside(std::size_t i) {
    const auto count = tokensOf(i).size();
    if (count < 1 || count > 2) return false;
    const double before = removedRun(i, -1);
    const double after = removedRun(i, +1);
    return before + after >= asideRemovedTotal && std::min(before, after) >= asideRemovedShorter &&
           std::max(before, after) >= asideRemovedLonger;
  }

  bool sameUtterance(const TranscriptWord& earlier, const TranscriptWord& later) const {
    return later.range.start - earlier.range.end < kSplitterMinSilence &&
           !quiet_.anyWithin(earlier.range.end - 0.1, later.range.end + 0.1, kSplitterMinSilence);
  }

  // Whether the first word really spoken in the sliver belongs to an utterance whose
  // neighbouring word is kept elsewhere: the sliver then carries part of a kept line.
  bool continuesKeptLine(std::size_t i) const {
    const TimeRange r = segs_[i].range;
    std::optional<std::size_t> anchor;
    for (std::size_t p : words_.overlapping(r)) {
      const TimeRange w = words_.at(p).range;
      const TimeRange shared{std::max(w.start, r.start), std::min(w.end, r.end)};
      const double overlap = shared.duration();
      if (overlap <= meaningfulOverlap) continue;
      const bool counts = quiet_.empty() ? (w.start >= r.start && w.end <= r.end)
                                         : overlap - quiet_.coverage(shared) > meaningfulOverlap;
      if (counts) {
        anchor = p;
        break;
      }
    }
    if (!anchor) return false;
    const TranscriptWord& word = words_.at(*anchor);
    auto keptElsewhere = [&](std::size_t p) {
      const double mid = words_.midpoint(p);
      const auto k = segmentAt(mid);
      return k && *k != i && segs_[*k].isKept();
    };
    if (*anchor > 0 && sameUtterance(words_.at(*anchor - 1), word) && keptElsewhere(*anchor - 1)) {
      return true;
    }
    return *anchor + 1 < words_.size() && sameUtterance(word, words_.at(*anchor + 1)) && keptElsewhere(*anchor + 1);
  }

  bool carriesFinishedLine(std::size_t i) const {
    const auto lying = words_.lyingIn(segs_[i].range);
    return lying.size() >= 3 && endsFinished(words_.at(lying.back()).text);
  }

 private:
  std::optional<std::size_t> segmentAt(double t) const {
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), t);
    if (it == starts_.begin()) return std::nullopt;
    const auto k = static_cast<std::size_t>(it - starts_.begin()) - 1;
    if (segs_[k].range.start <= t && t < segs_[k].range.end) return k;
    return std::nullopt;
  }

  std::vector<Segment>& segs_;
  WordTimeline words_;
  SilenceTimeline quiet_;
  std::vector<double> starts_;
  std::vector<std::optional<TextAlign::TokenList>> wordTokens_;
  std::vector<std::optional<TextAlign::TokenList>> segmentTokens_;
};

}  // namespace

CutList tidy(const CutList& cut, std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
             double minOrphanKeep, std::span<const TranscriptWord> wordsToKeep) {
  const auto kept =
      std::count_if(cut.segments.begin(), cut.segments.end(), [](const Segment& s) { return s.isKept(); });
  if (kept < 2) return cut;

  CutList result = cut;
  auto& segs = result.segments;
  Tidier tidier(segs, words, silences);
  const WordTimeline guarded(wordsToKeep);

  // One forward pass, in place: later tests see the slivers already absorbed.
  for (std::size_t i = 0; i < segs.size(); ++i) {
    const Segment& seg = segs[i];
    const double d = seg.range.duration();
    if (!seg.isKept() || !(d < tidyCeiling)) continue;

    const bool orphan = d < minOrphanKeep && (tidier.takeCutNearby(i, -1) || tidier.takeCutNearby(i, +1));
    const bool silent = !tidier.words().anyLyingIn(seg.range);
    const bool fragment = d < shortKeep && tidier.duplicatedInNeighbour(i);
    const bool aside = d < shortKeep && tidier.isolatedAside(i);
    if (!orphan && !silent && !fragment && !aside) continue;

    SegmentKind kind = SegmentKind::silence;
    if (i + 1 < segs.size() && isTakeCut(segs[i + 1].kind)) {
      kind = segs[i + 1].kind;
    } else if (i > 0 && isTakeCut(segs[i - 1].kind)) {
      kind = segs[i - 1].kind;
    }
    if (kind == SegmentKind::silence && !silent && !fragment &&
        (tidier.continuesKeptLine(i) || tidier.carriesFinishedLine(i))) {
      continue;
    }
    if (guarded.anyLyingIn(seg.range)) continue;

    Segment& target = segs[i];
    target.kind = kind;
    target.takeGroup.reset();
    if (fragment) {
      target.reason = "fragment of the adjacent line";
    } else if (orphan) {
      target.reason = "orphan sliver absorbed";
    } else if (!silent) {
      target.reason = "isolated aside between takes";
    } else {
      target.reason = "orphan sliver absorbed";
    }
  }
  return result;
}

}  // namespace kestrane::EditPlanner
