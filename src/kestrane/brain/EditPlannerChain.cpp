// The fixed order in which one cut is planned. The delivered cut and the live draft both come
// through here, so what the user previews is what they get.
#include <algorithm>

#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::EditPlanner {
namespace {

// Words that must survive the tidy step when only silences are cut: every word except the
// fillers the decision removes, so "Every word you said is kept" holds.
std::vector<TranscriptWord> wordsSilencesOnlyKeeps(std::span<const TranscriptWord> words,
                                                   std::span<const Segment> removals) {
  std::vector<TimeRange> fillers;
  for (const auto& r : removals) {
    if (r.kind == SegmentKind::filler) fillers.push_back(r.range);
  }
  const RangeIndex index(fillers);
  auto removedFiller = [&](const TranscriptWord& w) {
    const double mid = (w.range.start + w.range.end) / 2;
    for (std::size_t p = index.startingAtOrBefore(mid); p-- > 0;) {
      if (!index.anyAtOrBeforeEndsAfter(p, mid)) break;
      if (index.end(p) > mid) return true;
    }
    return false;
  };
  std::vector<TranscriptWord> kept;
  kept.reserve(words.size());
  for (const auto& w : words) {
    if (!removedFiller(w)) kept.push_back(w);
  }
  return kept;
}

}  // namespace

CutList planCut(const CutMaterial& m) {
  const double padding = m.settings.resolvedSpeechPadding();
  // Each step takes a while on a long recording: the job's stop is heard between them.
  CutList cut = planSilenceCuts(m.sourceDuration, m.silences, m.settings, m.words);
  checkpoint();
  cut = applying(m.removals, cut, m.words, padding, m.silences);
  checkpoint();
  cut = trimDeadEdges(cut, m.words, m.splitterSilences, padding, m.frameDuration);
  checkpoint();
  std::vector<TranscriptWord> protectedWords;
  if (m.settings.resolvedThoroughness() == Thoroughness::silencesOnly) {
    protectedWords = wordsSilencesOnlyKeeps(m.words, m.removals);
  }
  cut = tidy(cut, m.words, m.splitterSilences, chainMinOrphanKeep, protectedWords);
  checkpoint();
  cut = snapAbuttingBoundaries(cut, m.words, m.levels, m.frameDuration);
  checkpoint();
  cut = forcing(m.manualKeeps, m.manualRemovals, cut);
  checkpoint();
  return sweepingMicroKeeps(cut, m.words, chainMicroKeepGlue);
}

}  // namespace kestrane::EditPlanner
