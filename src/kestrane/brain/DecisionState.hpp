#pragma once
// The working state that the stages of one take decision share. Everything is
// keyed by utterance index, which equals the position in the utterance list.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/brain/SimilarityIndex.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/brain/Utterance.hpp"

namespace kestrane::TakeSelector {

// Two utterances this alike are renditions of one line, for the stages that group, restore or swap them.
inline constexpr double kRetakeThreshold = 0.58;

struct DecisionState {
  DecisionState(const Transcript& transcript, std::vector<Utterance> utterances, std::vector<TokenList> beats,
                std::span<const SilenceSpan> silences, const std::optional<LevelData>& levels,
                const PipelineSettings& settings);
  DecisionState(const DecisionState&) = delete;
  DecisionState& operator=(const DecisionState&) = delete;

  const Transcript& transcript;
  const std::vector<Utterance> utts;
  const std::vector<TokenList> beats;  // empty without a script
  const PreparedScript script;         // the beats, indexed for scoring lines against them
  std::span<const SilenceSpan> silences;
  const std::optional<LevelData>& levels;
  const PipelineSettings& settings;
  SimilarityIndex similarity;  // over utts

  std::vector<bool> removed;
  std::vector<std::optional<SegmentKind>> kind;
  std::map<int, int> replacement;  // removed index -> index standing in for it
  std::unordered_map<int, std::size_t> removalPosition;
  std::vector<bool> slateNeighbour;
  std::map<int, double> groupScore;  // union-find root -> best pair similarity
  std::vector<int> groupRoot;        // repeated-take group of a member, -1 when none
  std::vector<bool> payoffExempt;
  std::vector<std::pair<int, double>> nearDuplicates;  // (kept index, start of the removed one)
  std::int64_t takeIds = 0;
  Decision result;

  int count() const { return static_cast<int>(utts.size()); }
  const Utterance& at(int index) const { return utts[static_cast<std::size_t>(index)]; }
  bool isRemoved(int index) const { return removed[static_cast<std::size_t>(index)]; }

  std::int64_t nextTakeId() { return ++takeIds; }
  // pickWinner over the utterances at these positions.
  Utterance winnerOf(const std::vector<int>& positions) const;
  void remove(int index, SegmentKind segmentKind, std::string reason, std::optional<std::int64_t> takeGroup = {},
              std::optional<int> standIn = {});
  // Back in the cut as far as the working maps go; the caller deals with its removal segments.
  void unremove(int index);
  void advise(const TimeRange& range, std::string note);
  // Every TakeGroupInfo whose winner was `from` now names `to`.
  void repointGroups(const TimeRange& from, const TimeRange& to);
  // Whether a removal other than those in `ignored` still takes out part of range.
  bool coveredByRemoval(const TimeRange& range, const std::vector<bool>& ignored) const;
  // Positions whose start lies within reach seconds of center, in position order.
  std::vector<int> startingWithin(double center, double reach) const;
};

// The stages, in the order decide runs them.
void removeVerbalSlates(DecisionState& state);
void removeFalseStarts(DecisionState& state);
void removeStumbles(DecisionState& state);
void removeRepeatedRuns(DecisionState& state);
void chooseRepeatedTakes(DecisionState& state);  // grouping and winners
void removeDuplicateLines(DecisionState& state);
void removeOffMicChatter(DecisionState& state);
void removeRoomTalk(DecisionState& state);
void repairMixedRuns(DecisionState& state);
void restoreLostLines(DecisionState& state);
void swapUnfinishedLines(DecisionState& state);  // and orphan fragments
void removeFillers(DecisionState& state, bool checkOverlap);
void orderRemovals(DecisionState& state);

}  // namespace kestrane::TakeSelector
