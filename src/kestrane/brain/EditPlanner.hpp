#pragma once
// The deterministic tail of every cut: from silences, decided removals, settings and hand
// edits to the CutList that covers the whole source. Pure functions; none fails.
//
// Words and silences are taken in time order (by start); lists given out of order are ordered
// first, equal starts keeping their given order.
#include <optional>
#include <span>
#include <vector>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::EditPlanner {

// Lower bound of the word-tail release; also the least tail kept past a silence start when
// the recognizer may have clipped a word.
inline constexpr double minWordTailRelease = 0.15;
inline constexpr double maxWordTailRelease = 0.35;
// Largest gap between a word's recognised end and the next silence that still counts as a
// clipped tail.
inline constexpr double maxASRTailShortfall = 0.12;
// Head and tail trims smaller than this are not made when the dead edge is short.
inline constexpr double deadEdgeFloor = 0.2;
// Dead edges up to this length are left alone unless the trim reaches deadEdgeFloor.
inline constexpr double deadEdgeCeiling = 0.4;
// How far a keep-to-remove join may move, and how much quieter the new point must be.
inline constexpr double maxBoundarySnap = 0.2;
inline constexpr float boundarySoundingMargin = 6.0f;
// Kept stretches shorter than this beside a take cut are absorbed by the chain's tidy step.
inline constexpr double chainMinOrphanKeep = 1.0;
// Wordless keeps shorter than this are swept into their removed neighbours.
inline constexpr double chainMicroKeepGlue = 0.12;

inline constexpr const char* manualRemovalReason = "removed by hand on the waveform";
inline constexpr const char* manualKeepReason = "restored by hand on the waveform";

// How long a word's tail rings past its recognised end: padding + 0.08 s within 0.15…0.35 s.
double wordTailRelease(double speechPadding);

// Every silence becomes a removal padded by the speech padding (not at the source's edges),
// widened so that the last word before it keeps its tail; the rest is kept.
CutList planSilenceCuts(double sourceDuration, std::span<const SilenceSpan> silences, const PipelineSettings& settings,
                        std::span<const TranscriptWord> words);

// Lays the decided removals over the kept stretches; removed stretches stay as they are. Each
// removal's start first gives way to the tail of the word before it.
CutList applying(std::span<const Segment> removals, const CutList& cut, std::span<const TranscriptWord> words,
                 double speechPadding, std::span<const SilenceSpan> silences);

// Removes the dead air at the head and the tail of each kept stretch that holds words.
CutList trimDeadEdges(const CutList& cut, std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                      double speechPadding, double frameDuration);

// Absorbs short kept slivers into their removed neighbours: orphans beside a take cut, slivers
// without words, fragments repeated in a nearby line and isolated asides between takes.
// A kept stretch holding any of wordsToKeep is never absorbed.
CutList tidy(const CutList& cut, std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
             double minOrphanKeep, std::span<const TranscriptWord> wordsToKeep = {});

// Moves each keep-to-remove join up to 0.2 s later to a point clearly quieter than the join.
CutList snapAbuttingBoundaries(const CutList& cut, std::span<const TranscriptWord> words,
                               const std::optional<LevelData>& levels, double frameDuration);

// Hand removals turn kept stretches into manual removals, then hand keeps restore removed
// stretches, so a range in both lists ends up kept. A forced piece takes the leftovers of 5 ms
// or less beside it, so the cut stays whole. Stops with Cancelled when the job running it is
// stopped.
CutList forcing(std::span<const TimeRange> keeps, std::span<const TimeRange> removals, const CutList& cut);

// Wordless kept slivers shorter than glue join their removed neighbour; segments of 1 ms or
// less give their time to a neighbour.
CutList sweepingMicroKeeps(const CutList& cut, std::span<const TranscriptWord> words, double glue);

// Everything one cut is planned from. The spans are borrowed for the length of the call.
struct CutMaterial {
  double sourceDuration = 0;
  // Seconds per frame of the source.
  double frameDuration = 0;
  // At the settings' threshold and minimum silence: these become silence cuts.
  std::span<const SilenceSpan> silences;
  // At the same threshold with kSplitterMinSilence: the pauses that split utterances.
  std::span<const SilenceSpan> splitterSilences;
  // The take decision's removals (take losers, flubs, fillers, chatter).
  std::span<const Segment> removals;
  std::span<const TranscriptWord> words;
  std::optional<LevelData> levels;
  PipelineSettings settings;
  std::span<const TimeRange> manualKeeps;
  std::span<const TimeRange> manualRemovals;
};

// The one chain every cut goes through, the delivered one and the live draft alike: silence
// cuts, removals, dead edges, tidy, quieter joins, hand removals and keeps, micro keeps.
// With silences only, every recognised word that is not a removed filler stays kept by the
// tidy step.
CutList planCut(const CutMaterial& material);

}  // namespace kestrane::EditPlanner
