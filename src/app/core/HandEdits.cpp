#include "app/core/HandEdits.hpp"

#include <algorithm>
#include <cmath>

#include "kestrane/analysis/SilencePreview.hpp"

namespace kestrane::app {

namespace {

// A keep overlapping a band by no more than this leaves it whole, and band pieces this short
// vanish when a keep is cut out.
constexpr double bandSliver = 0.005;
// Overrides this short or shorter are dropped by the normal form.
constexpr double shortestOverride = 0.03;
// Padding around words forced from the transcript; also the lead-in of a word kept by snapping
// and the least band an edge drag leaves.
constexpr double wordPadding = 0.05;
// Forced ranges, edge moves and audible word lengths this small count as nothing.
constexpr double nudge = 0.01;
// Gap left before a word's audible start and before the next word when snapping.
constexpr double wordGap = 0.02;
constexpr double shortestDraggableBand = 0.1;

std::vector<TimeRange> withoutShort(std::vector<TimeRange> ranges) {
  std::erase_if(ranges, [](const TimeRange& r) { return r.duration() <= shortestOverride; });
  return ranges;
}

// The band with every keep cut out of it, keeps applied one after the other.
void cutOutKeeps(const TimeRange& band, std::span<const TimeRange> keeps, std::vector<TimeRange>& out) {
  std::vector<TimeRange> pieces{band};
  for (const TimeRange& keep : keeps) {
    std::vector<TimeRange> next;
    for (const TimeRange& piece : pieces) {
      const double lo = std::max(piece.start, keep.start);
      const double hi = std::min(piece.end, keep.end);
      if (hi - lo <= bandSliver) {
        next.push_back(piece);
        continue;
      }
      if (lo - piece.start > bandSliver) next.push_back({piece.start, lo});
      if (piece.end - hi > bandSliver) next.push_back({hi, piece.end});
    }
    pieces = std::move(next);
  }
  out.insert(out.end(), pieces.begin(), pieces.end());
}

// The bands sorted and merged where they overlap or lie within the glue of each other, except
// across a gap that holds a word's middle.
std::vector<TimeRange> glued(std::span<const TimeRange> bands, std::span<const TranscriptWord> words) {
  if (words.empty()) return SilencePreview::unionOf(bands, HandEdits::bandGlue);
  std::vector<double> middles;
  middles.reserve(words.size());
  for (const TranscriptWord& word : words) middles.push_back((word.range.start + word.range.end) * 0.5);
  std::sort(middles.begin(), middles.end());
  const auto wordBetween = [&](double from, double to) {
    const auto it = std::lower_bound(middles.begin(), middles.end(), from);
    return it != middles.end() && *it < to;
  };
  std::vector<TimeRange> merged;
  for (const TimeRange& band : SilencePreview::unionOf(bands, 0)) {
    if (!merged.empty() && band.start <= merged.back().end + HandEdits::bandGlue &&
        !wordBetween(merged.back().end, band.start)) {
      merged.back().end = std::max(merged.back().end, band.end);
    } else {
      merged.push_back(band);
    }
  }
  return merged;
}

}  // namespace

namespace HandEdits {

std::vector<TimeRange> automaticBands(std::span<const TimeRange> raw, std::span<const TranscriptWord> words) {
  return glued(raw, words);
}

std::vector<TimeRange> effectiveCutBands(std::span<const TimeRange> automatic, const ManualEdits& edits,
                                         std::span<const TranscriptWord> words) {
  std::vector<TimeRange> bands;
  for (const TimeRange& band : automatic) cutOutKeeps(band, edits.keeps, bands);
  bands.insert(bands.end(), edits.removals.begin(), edits.removals.end());
  return glued(bands, words);
}

ManualEdits normalized(std::span<const TimeRange> automatic, const ManualEdits& edits,
                       std::span<const TranscriptWord> words) {
  const std::vector<TimeRange> effective = effectiveCutBands(automatic, edits, words);
  return {withoutShort(SilencePreview::subtracting(automatic, effective)),
          withoutShort(SilencePreview::subtracting(effective, automatic))};
}

ManualEdits withStretch(std::span<const TimeRange> automatic, const ManualEdits& edits, TimeRange range, bool keep,
                        std::span<const TranscriptWord> words) {
  ManualEdits next = edits;
  if (keep) {
    const TimeRange taken[] = {range};
    next.removals = SilencePreview::subtracting(next.removals, taken);
    next.keeps.push_back(range);
  } else {
    next.removals.push_back(range);
  }
  return normalized(automatic, next, words);
}

TimeRange snapToWords(const EditGround& ground, TimeRange range, bool keep) {
  const auto& words = ground.words;
  if (words.empty()) return range;
  const double a = range.start;
  const double b = range.end;
  double lo = a;
  double hi = b;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const double ws = words[i].range.start;
    const double we = words[i].range.end;
    std::optional<double> onset;
    if (ground.audibleOnset) onset = ground.audibleOnset(words[i].range);
    const double s = std::min(onset.value_or(ws), we - wordGap);
    if (!(a < we && s < b)) continue;
    const double next = i + 1 < words.size() ? words[i + 1].range.start : ground.levelLength;
    const double e = std::min(std::max(next - wordGap, we), we + bandGlue);
    if (keep) {
      lo = std::min(lo, std::max(s - wordPadding, 0.0));
      hi = std::max(hi, e);
      continue;
    }
    const double audible = we - s > nudge ? we - s : nudge;
    if (s < a) {
      if ((we - a) / audible >= 0.5) lo = std::min(lo, s - wordGap);
      else lo = std::max(lo, e);
    }
    if (b < we) {
      if ((b - s) / audible >= 0.5) hi = std::max(hi, e);
      else hi = std::min(hi, s - wordGap);
    }
  }
  lo = std::max(lo, 0.0);
  hi = std::max(lo, std::min(hi, ground.levelLength));
  return {lo, hi};
}

TimeRange forcedWordRange(const EditGround& ground, std::size_t first, std::size_t last, bool keep) {
  const auto& words = ground.words;
  const TimeRange& from = words[first].range;
  const TimeRange& to = words[last].range;
  const std::optional<double> prevEnd = first > 0 ? std::optional(words[first - 1].range.end) : std::nullopt;
  const std::optional<double> nextStart =
      last + 1 < words.size() ? std::optional(words[last + 1].range.start) : std::nullopt;
  std::optional<double> onset;
  if (ground.audibleOnset) onset = ground.audibleOnset(from);

  // The selection itself: from the first word's onset to a little past the last word, clear of
  // the words around it, never shorter than the padding.
  double end = to.end + bandGlue;
  if (nextStart) end = std::min(end, *nextStart - wordGap);
  end = std::max(end, to.end);
  double start = onset.value_or((from.start + from.end) * 0.5);
  if (prevEnd) start = std::max(start, *prevEnd + wordGap);
  start = std::min(start, end - wordPadding);

  // Padded on both sides, up to the same clearance from the words around it. Recognised words
  // usually touch, so padding past that point would clip the neighbours.
  double lo = start - wordPadding;
  if (prevEnd) lo = std::max(lo, *prevEnd + wordGap);
  lo = std::min(lo, start);
  double hi = end + wordPadding;
  if (nextStart) hi = std::min(hi, *nextStart - wordGap);
  hi = std::max(hi, end);

  if (keep) {
    // Every selected word whole.
    lo = std::min(lo, from.start);
    hi = std::max(hi, to.end);
  } else {
    // A late onset still leaves the first word cut from its start, clear of the word before.
    lo = std::min(lo, prevEnd ? std::max(from.start, *prevEnd + wordGap) : from.start);
  }
  // No part of a word around the selection, however short it is; only words that overlap the
  // selected ones give way to a Keep.
  if (prevEnd) lo = std::max(lo, keep ? std::min(*prevEnd, from.start) : *prevEnd);
  if (nextStart) hi = std::min(hi, keep ? std::max(*nextStart, to.end) : *nextStart);
  lo = std::max(lo, 0.0);
  return {lo, std::max(lo, std::min(hi, ground.levelLength))};
}

ManualEdits withForcedWords(const EditGround& ground, const ManualEdits& edits, std::size_t first, std::size_t last,
                            bool keep) {
  if (first > last || last >= ground.words.size()) return edits;
  const TimeRange range = forcedWordRange(ground, first, last, keep);
  if (range.duration() <= nudge) return edits;
  return withStretch(ground.automatic, edits, range, keep, ground.words);
}

TimeRange segmentSpan(double t, std::span<const TimeRange> bands, double levelLength) {
  for (const TimeRange& band : bands) {
    if (band.start <= t && t < band.end) return band;
  }
  double start = 0;
  for (auto it = bands.rbegin(); it != bands.rend(); ++it) {
    if (it->end <= t) {
      start = it->end;
      break;
    }
  }
  double end = levelLength;
  for (const TimeRange& band : bands) {
    if (band.start > t) {
      end = band.start;
      break;
    }
  }
  return {start, end};
}

}  // namespace HandEdits

std::optional<EdgeDrag> EdgeDrag::begin(const EditGround& ground, const ManualEdits& edits, double t,
                                        double tolerance) {
  const std::vector<TimeRange> bands = HandEdits::effectiveCutBands(ground.automatic, edits, ground.words);
  if (HandEdits::segmentSpan(t, bands, ground.levelLength).duration() < 3 * tolerance) return std::nullopt;
  std::optional<std::pair<TimeRange, bool>> chosen;
  double nearest = 0;
  for (const TimeRange& band : bands) {
    for (const bool isStart : {true, false}) {
      const double distance = std::abs((isStart ? band.start : band.end) - t);
      if (distance > tolerance || (chosen && distance >= nearest)) continue;
      chosen = {band, isStart};
      nearest = distance;
    }
  }
  if (!chosen || chosen->first.duration() < shortestDraggableBand) return std::nullopt;
  return EdgeDrag(chosen->first, chosen->second, edits);
}

void EdgeDrag::update(ManualEdits& edits, double t, double levelLength) {
  if (transient_) {
    // An undo during the drag may have replaced the lists: only take back what is still ours.
    auto& list = transient_->isKeep ? edits.keeps : edits.removals;
    if (transient_->index < list.size() && list[transient_->index] == transient_->range) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(transient_->index));
    }
    transient_.reset();
  }
  const double c = std::clamp(t, 0.0, std::max(levelLength, 0.0));
  const double s = band_.start;
  const double e = band_.end;
  std::optional<std::pair<bool, TimeRange>> added;
  if (isStart_) {
    const double n = std::min(c, e - wordPadding);
    if (n > s + nudge) added = {true, {s, n}};
    else if (n < s - nudge) added = {false, {n, s}};
  } else {
    const double n = std::max(c, s + wordPadding);
    if (n < e - nudge) added = {true, {n, e}};
    else if (n > e + nudge) added = {false, {e, n}};
  }
  if (!added) return;
  auto& list = added->first ? edits.keeps : edits.removals;
  list.push_back(added->second);
  transient_ = Transient{added->first, list.size() - 1, added->second};
}

}  // namespace kestrane::app
