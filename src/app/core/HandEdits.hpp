#pragma once
// The user's overrides of the automatic cut: stretches forced kept and stretches forced
// removed, laid over the automatic removal bands. Pure arithmetic over plain values; the job
// model holds the lists and the undo stack records each change.
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::app {

struct ManualEdits {
  std::vector<TimeRange> keeps;
  std::vector<TimeRange> removals;

  bool empty() const { return keeps.empty() && removals.empty(); }
  friend bool operator==(const ManualEdits&, const ManualEdits&) = default;
};

// What edits are laid over: the automatic bands, the end of the time line, and the words with
// the moment each first becomes audible.
struct EditGround {
  std::vector<TimeRange> automatic;  // already merged (automaticBands)
  double levelLength = 0;
  std::span<const TranscriptWord> words;
  std::function<std::optional<double>(const TimeRange&)> audibleOnset;
};

namespace HandEdits {

// Bands this close are shown, played and edited as one, unless a word is said between them
// (its middle lies in the gap): the cut keeps such a word, however short the gap.
inline constexpr double bandGlue = 0.12;

// The draft's (or the silences') bands merged as every view shows them.
std::vector<TimeRange> automaticBands(std::span<const TimeRange> raw, std::span<const TranscriptWord> words = {});

// The removal bands shown and played: the keeps cut out of the automatic bands, the removals
// added, everything merged.
std::vector<TimeRange> effectiveCutBands(std::span<const TimeRange> automatic, const ManualEdits& edits,
                                         std::span<const TranscriptWord> words = {});

// The fewest overrides giving the same effective bands: removals only outside the automatic
// bands, keeps only inside, sorted, disjoint, nothing of 30 ms or less.
ManualEdits normalized(std::span<const TimeRange> automatic, const ManualEdits& edits,
                       std::span<const TranscriptWord> words = {});

// The edits with `range` forced kept or removed, normalised. A keep first takes the range out of
// the hand removals, so it brings back audio that a hand cut shades too.
ManualEdits withStretch(std::span<const TimeRange> automatic, const ManualEdits& edits, TimeRange range, bool keep,
                        std::span<const TranscriptWord> words = {});

// A waveform selection widened or narrowed so that no word is left half cut: a keep takes every
// touched word whole, a cut takes a partly covered word whole when at least half of it is
// covered and leaves it whole otherwise. Unchanged without words.
TimeRange snapToWords(const EditGround& ground, TimeRange range, bool keep);

// The stretch that Keep or Cut of the transcript's words first…last forces: from the first word's
// onset to a little past the last, padded, but never nearer than 20 ms to the words around the
// selection. Keep takes the selected words whole; Cut never takes any part of a word around it,
// so the audio of every word left unselected stays as it was.
TimeRange forcedWordRange(const EditGround& ground, std::size_t first, std::size_t last, bool keep);

// The edits with the words first…last forced kept or removed (forcedWordRange); the same edits
// when that range is 10 ms or less or names no words.
ManualEdits withForcedWords(const EditGround& ground, const ManualEdits& edits, std::size_t first, std::size_t last,
                            bool keep);

// The band under `t`, or the gap between bands around it (0 and levelLength close the ends).
TimeRange segmentSpan(double t, std::span<const TimeRange> bands, double levelLength);

}  // namespace HandEdits

// Dragging one edge of a shaded band: while it moves the lists carry one raw override (keep when
// the edge moves inward, removal when outward); the release normalises them.
class EdgeDrag {
 public:
  // A drag of the nearest band edge within `tolerance` of `t`; none when no edge is that near,
  // the band is shorter than 0.1 s, or the stretch under `t` is shorter than three tolerances.
  static std::optional<EdgeDrag> begin(const EditGround& ground, const ManualEdits& edits, double t, double tolerance);

  // Moves the held edge to `t` (clamped to the time line and to 50 ms short of the other edge).
  void update(ManualEdits& edits, double t, double levelLength);

  const TimeRange& band() const { return band_; }
  bool isStart() const { return isStart_; }
  // The lists as they were when the drag began.
  const ManualEdits& snapshot() const { return snapshot_; }

 private:
  struct Transient {
    bool isKeep = false;
    std::size_t index = 0;
    TimeRange range;
  };

  EdgeDrag(TimeRange band, bool isStart, ManualEdits snapshot)
      : band_(band), isStart_(isStart), snapshot_(std::move(snapshot)) {}

  TimeRange band_;
  bool isStart_ = true;
  ManualEdits snapshot_;
  std::optional<Transient> transient_;
};

}  // namespace kestrane::app
