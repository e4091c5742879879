// Hand edits on a real session (the bundled sample's): whatever ranges the user draws, freely or
// snapped to words, removed or kept, the planned cut covers the source without a hole and keeps
// what a plain range-by-range forcing keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stop_token>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/export/CutListCheck.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/DraftCut.hpp"

using namespace kestrane;

namespace {

constexpr double sliver = 0.005;

const KestraneSession& sampleSession() {
  static const KestraneSession session = KestraneSession::read(std::filesystem::path(KESTRANE_SOURCE_DIR) /
                                                               "tests/fuzz/corpus/session/sample.kestrane.json");
  return session;
}

Pipeline::Analysis sampleAnalysis() {
  const KestraneSession& s = sampleSession();
  return Pipeline::Analysis{s.source, *s.levels, *s.transcript, {}};
}

// Every segment split against every range in turn, as plainly as it can be said. Leftovers of a
// sliver or less beside a forced piece go with it (`fill`), or are dropped, leaving a hole.
std::vector<Segment> plainOverriding(const std::vector<Segment>& segments, const std::vector<TimeRange>& spans,
                                     SegmentKind kind, const char* reason, bool onKept, bool fill) {
  if (spans.empty()) return segments;
  std::vector<Segment> forced;
  for (const auto& segment : segments) {
    if (segment.isKept() != onKept) {
      forced.push_back(segment);
      continue;
    }
    std::vector<Segment> pieces{segment};
    for (const auto& span : spans) {
      std::vector<Segment> next;
      for (const auto& piece : pieces) {
        double lo = std::max(piece.range.start, span.start);
        double hi = std::min(piece.range.end, span.end);
        if (!(hi - lo > sliver)) {
          next.push_back(piece);
          continue;
        }
        if (lo - piece.range.start > sliver) {
          next.push_back(Segment{{piece.range.start, lo}, piece.kind, piece.reason, piece.takeGroup});
        } else if (fill) {
          lo = piece.range.start;
        }
        const bool tail = piece.range.end - hi > sliver;
        if (!tail && fill) hi = piece.range.end;
        next.push_back(Segment{{lo, hi}, kind, reason, std::nullopt});
        if (tail) next.push_back(Segment{{hi, piece.range.end}, piece.kind, piece.reason, piece.takeGroup});
      }
      pieces = std::move(next);
    }
    forced.insert(forced.end(), pieces.begin(), pieces.end());
  }
  std::vector<Segment> merged;
  for (auto& segment : forced) {
    if (!merged.empty()) {
      Segment& prev = merged.back();
      if (prev.kind == segment.kind && std::abs(prev.range.end - segment.range.start) < sliver &&
          (segment.isKept() || (prev.reason == segment.reason && prev.takeGroup == segment.takeGroup))) {
        prev.range.end = std::max(prev.range.end, segment.range.end);
        if (!prev.reason) prev.reason = segment.reason;
        continue;
      }
    }
    merged.push_back(std::move(segment));
  }
  return merged;
}

CutList plainForcing(const std::vector<TimeRange>& keeps, const std::vector<TimeRange>& removals, const CutList& cut,
                     bool fill) {
  auto segments =
      plainOverriding(cut.segments, removals, SegmentKind::manual, EditPlanner::manualRemovalReason, true, fill);
  return CutList{plainOverriding(segments, keeps, SegmentKind::keep, EditPlanner::manualKeepReason, false, fill)};
}

// Seconds where one cut keeps and the other removes, counting only where `part` has a segment.
double keptDifference(const CutList& mine, const CutList& part) {
  std::vector<double> edges;
  for (const CutList* cut : {&mine, &part})
    for (const auto& s : cut->segments) edges.insert(edges.end(), {s.range.start, s.range.end});
  std::sort(edges.begin(), edges.end());
  auto keptAt = [](const CutList& cut, double t) -> std::optional<bool> {
    for (const auto& s : cut.segments)
      if (s.range.start <= t && t < s.range.end) return s.isKept();
    return std::nullopt;
  };
  double differs = 0;
  for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
    const double mid = (edges[k] + edges[k + 1]) / 2;
    const auto theirs = keptAt(part, mid);
    if (theirs && keptAt(mine, mid) != theirs) differs += edges[k + 1] - edges[k];
  }
  return differs;
}

// Hand ranges as a user draws them on the sample: anywhere, snapped to word edges, or a hair
// beside a segment's edge, from a few milliseconds to several seconds long.
class RangeDrawer {
 public:
  RangeDrawer(const KestraneSession& session, const CutList& planned, unsigned seed)
      : words_(session.transcript->words), duration_(session.source.durationSeconds), random_(seed) {
    for (const auto& s : planned.segments) edges_.insert(edges_.end(), {s.range.start, s.range.end});
  }

  TimeRange draw() {
    switch (pick(3)) {
      case 0: {
        const double a = uniform(0, duration_);
        return clamped(a, a + length());
      }
      case 1: {
        const std::size_t i = pick(words_.size());
        const std::size_t j = std::min(words_.size() - 1, i + pick(6));
        return {words_[i].range.start, words_[j].range.end};
      }
      default: {
        const double edge = edges_[pick(edges_.size())] + uniform(-0.008, 0.008);
        return pick(2) == 0 ? clamped(edge, edge + length()) : clamped(edge - length(), edge);
      }
    }
  }
  std::vector<TimeRange> draw(std::size_t most) {
    std::vector<TimeRange> ranges;
    for (std::size_t n = pick(most + 1); n > 0; --n) ranges.push_back(draw());
    return ranges;
  }

 private:
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(random_); }
  double length() {
    const double longest[] = {0.02, 0.3, 3.0, 10.0};
    return uniform(0.001, longest[pick(4)]);
  }
  TimeRange clamped(double a, double b) const { return {std::clamp(a, 0.0, duration_), std::clamp(b, 0.0, duration_)}; }

  const std::vector<TranscriptWord>& words_;
  double duration_;
  std::mt19937 random_;
  std::vector<double> edges_;
};

}  // namespace

TEST(HandEdits, ARemovalBesideAKeptEdgeLeavesNoHole) {
  const KestraneSession& session = sampleSession();
  PipelineSettings settings = session.settings;
  const CutList before = Pipeline::draftCut(sampleAnalysis(), session.script, settings).cutList;
  ASSERT_EQ(before.segments.at(1).range.start, 1.01);
  ASSERT_TRUE(before.segments.at(1).isKept());

  // 3 ms into the first kept line: the forced piece takes those 3 ms too.
  settings.manualRemoveRanges = std::vector<TimeRange>{{1.013, 2.0}};
  const CutList cut = Pipeline::draftCut(sampleAnalysis(), session.script, settings).cutList;
  EXPECT_EQ(CutListCheck::fault(cut, session.source), std::nullopt);
  ASSERT_GE(cut.segments.size(), 3u);
  EXPECT_EQ(cut.segments[1], (Segment{{1.01, 2.0}, SegmentKind::manual, EditPlanner::manualRemovalReason, {}}));
  EXPECT_TRUE(cut.segments[2].isKept());

  // A removed millisecond between two kept stretches goes to one of them.
  const CutList tiny{{Segment{{0, 1}, SegmentKind::keep, {}, {}}, Segment{{1, 1.0008}, SegmentKind::manual, {}, {}},
                      Segment{{1.0008, 3}, SegmentKind::keep, EditPlanner::manualKeepReason, {}}}};
  SourceMedia threeSeconds;
  threeSeconds.durationSeconds = 3;
  threeSeconds.frameDuration = RationalTime::standardFrameDuration(25);
  const CutList swept = EditPlanner::sweepingMicroKeeps(tiny, {}, 0.12);
  EXPECT_EQ(CutListCheck::fault(swept, threeSeconds), std::nullopt);
  EXPECT_DOUBLE_EQ(swept.keptDuration(), 3);
}

TEST(HandEdits, EveryDrawnRangeGivesASoundCut) {
  const KestraneSession& session = sampleSession();
  const Pipeline::Analysis analysis = sampleAnalysis();
  Pipeline::DraftCache cache;
  const CutList planned = Pipeline::draftCut(analysis, session.script, session.settings, cache).cutList;
  RangeDrawer drawer(session, planned, 20261207);

  for (int round = 0; round < 3000; ++round) {
    PipelineSettings settings = session.settings;
    settings.manualRemoveRanges = drawer.draw(3);
    settings.manualKeepRanges = drawer.draw(round % 2 == 0 ? 0 : 2);
    const CutList cut = Pipeline::draftCut(analysis, session.script, settings, cache).cutList;
    const auto fault = CutListCheck::fault(cut, session.source);
    ASSERT_EQ(fault, std::nullopt) << "round " << round;
  }
}

TEST(HandEdits, ForcingMatchesPlainForcingRangeByRange) {
  const KestraneSession& session = sampleSession();
  const auto& words = session.transcript->words;
  const CutList planned = Pipeline::draftCut(sampleAnalysis(), session.script, session.settings).cutList;
  RangeDrawer drawer(session, planned, 7);

  double slivers = 0;
  for (int round = 0; round < 3000; ++round) {
    // Many overlapping ranges in no order, so the earlier given one decides the leftovers.
    const auto removals = drawer.draw(round % 3 == 0 ? 40 : 3);
    const auto keeps = drawer.draw(round % 3 == 0 ? 40 : 2);
    const CutList mine = EditPlanner::forcing(keeps, removals, planned);
    ASSERT_EQ(mine.segments, plainForcing(keeps, removals, planned, true).segments) << "round " << round;

    // Against forcing that drops the slivers: kept audio differs by no more than the slivers it
    // dropped (a later range may meet a leftover a sliver longer or shorter). After the sweep, a
    // wordless keep shorter than the glue that a hole cut off from its line may differ too.
    const CutList part = plainForcing(keeps, removals, planned, false);
    double holes = 0;
    int holeCount = 0;
    double reached = 0;
    for (const auto& s : part.segments) {
      if (s.range.start > reached) {
        holes += s.range.start - reached;
        ++holeCount;
      }
      reached = s.range.end;
    }
    ASSERT_LE(keptDifference(mine, part), holes + 1e-9) << "round " << round;
    ASSERT_LE(keptDifference(EditPlanner::sweepingMicroKeeps(mine, words, 0.12),
                             EditPlanner::sweepingMicroKeeps(part, words, 0.12)),
              holes + holeCount * EditPlanner::chainMicroKeepGlue + 1e-9)
        << "round " << round;
    slivers += holes;
  }
  // The drawing reaches the slivers it is meant to.
  EXPECT_GT(slivers, 0);
}

TEST(HandEdits, ForcingStopsWithTheJob) {
  const KestraneSession& session = sampleSession();
  const CutList planned = Pipeline::draftCut(sampleAnalysis(), session.script, session.settings).cutList;
  RangeDrawer drawer(session, planned, 11);
  std::vector<TimeRange> removals;
  for (int k = 0; k < 20000; ++k) removals.push_back(drawer.draw());

  std::stop_source stop;
  stop.request_stop();
  // Outside a job nothing stops it.
  EXPECT_NO_THROW(EditPlanner::forcing({}, removals, planned));
  const StopScope scope(stop.get_token());
  EXPECT_THROW(EditPlanner::forcing({}, removals, planned), Cancelled);
}
