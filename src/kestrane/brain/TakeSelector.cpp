#include "kestrane/brain/TakeSelector.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "kestrane/brain/DecisionState.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/FreeAside.hpp"

namespace kestrane::TakeSelector {

namespace {
constexpr double kMinFillerDuration = 0.12;
// Lines in a decision whose remains are freed aside.
constexpr int kLargeDecision = 20'000;
}  // namespace

DecisionState::DecisionState(const Transcript& transcript, std::vector<Utterance> utterances,
                             std::vector<TokenList> scriptBeats, std::span<const SilenceSpan> silences,
                             const std::optional<LevelData>& levels, const PipelineSettings& settings)
    : transcript(transcript),
      utts(std::move(utterances)),
      beats(std::move(scriptBeats)),
      script(beats),
      silences(silences),
      levels(levels),
      settings(settings),
      similarity(utts),
      removed(utts.size(), false),
      kind(utts.size()),
      slateNeighbour(utts.size(), false),
      groupRoot(utts.size(), -1),
      payoffExempt(utts.size(), false) {}

void DecisionState::remove(int index, SegmentKind segmentKind, std::string reason,
                           std::optional<std::int64_t> takeGroup, std::optional<int> standIn) {
  const auto slot = static_cast<std::size_t>(index);
  removed[slot] = true;
  kind[slot] = segmentKind;
  if (standIn) replacement[index] = *standIn;
  removalPosition[index] = result.removals.size();
  result.removals.push_back(Segment{at(index).range, segmentKind, std::move(reason), takeGroup});
}

Utterance DecisionState::winnerOf(const std::vector<int>& positions) const {
  std::vector<Utterance> members;
  members.reserve(positions.size());
  for (int p : positions) members.push_back(at(p));
  return pickWinner(members, script, silences);
}

void DecisionState::unremove(int index) {
  removed[static_cast<std::size_t>(index)] = false;
  kind[static_cast<std::size_t>(index)].reset();
}

void DecisionState::advise(const TimeRange& range, std::string note) {
  result.advisories.push_back(Advisory{range, std::move(note)});
}

void DecisionState::repointGroups(const TimeRange& from, const TimeRange& to) {
  for (auto& group : result.takeGroups)
    if (group.winnerRange == from) group.winnerRange = to;
}

bool DecisionState::coveredByRemoval(const TimeRange& range, const std::vector<bool>& ignored) const {
  for (std::size_t k = 0; k < result.removals.size(); ++k) {
    if (k < ignored.size() && ignored[k]) continue;
    if (result.removals[k].range.overlaps(range)) return true;
  }
  return false;
}

std::vector<int> DecisionState::startingWithin(double center, double reach) const {
  auto found = similarity.startingBetween(center - reach, center + reach);
  std::erase_if(found, [&](int p) { return !(std::fabs(at(p).range.start - center) <= reach); });
  return found;
}

namespace {

bool isFillerWord(const TranscriptWord& word) {
  const auto tokens = TextAlign::tokens(word.text);
  return isFillerToken(tokens.empty() ? std::string() : tokens.front());
}

// The recogniser's spans of neighbouring words may overlap by a frame or two; the overlap
// belongs to the real word, so a filler's cut never takes audio out of the words around it.
TimeRange betweenRealNeighbours(std::span<const TranscriptWord> words, std::size_t k) {
  TimeRange range = words[k].range;
  for (std::size_t p = k; p-- > 0;) {
    if (isFillerWord(words[p])) continue;
    range.start = std::max(range.start, words[p].range.end);
    break;
  }
  for (std::size_t n = k + 1; n < words.size(); ++n) {
    if (isFillerWord(words[n])) continue;
    range.end = std::min(range.end, words[n].range.start);
    break;
  }
  return range;
}

}  // namespace

void removeFillers(DecisionState& state, bool checkOverlap) {
  if (!state.settings.removeFillers) return;
  const auto& words = state.transcript.words;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if ((k + 1) % 4096 == 0) checkpoint();
    const auto& word = words[k];
    if (!(word.range.duration() >= kMinFillerDuration) || !isFillerWord(word)) continue;
    const TimeRange range = betweenRealNeighbours(words, k);
    if (!(range.end > range.start)) continue;
    if (checkOverlap) {
      const auto& removals = state.result.removals;
      bool overlapped = std::any_of(removals.begin(), removals.end(), [&](const Segment& r) {
        return r.range.start < range.end && range.start < r.range.end;
      });
      if (overlapped) continue;
    }
    state.result.removals.push_back(Segment{range, SegmentKind::filler, "\u201c" + word.text + "\u201d", {}});
  }
}

void orderRemovals(DecisionState& state) {
  std::stable_sort(state.result.removals.begin(), state.result.removals.end(),
                   [](const Segment& a, const Segment& b) { return a.range.start < b.range.start; });
}

Decision decide(const Transcript& transcript, const std::optional<std::string>& script,
                std::span<const SilenceSpan> silences, const std::optional<LevelData>& levels,
                const PipelineSettings& settings) {
  return withFillers(decideBeforeFillers(transcript, script, silences, levels, settings), transcript, settings);
}

Decision decideBeforeFillers(const Transcript& transcript, const std::optional<std::string>& script,
                             std::span<const SilenceSpan> silences, const std::optional<LevelData>& levels,
                             const PipelineSettings& settings) {
  auto utts = utterances(transcript, silences);
  if (utts.empty()) return {};
  // The beats are read before the first stage, so they are indexed once for every stage.
  std::vector<TokenList> beats;
  if (script) beats = scriptBeats(*script);
  auto state =
      std::make_unique<DecisionState>(transcript, std::move(utts), std::move(beats), silences, levels, settings);
  // A long recording's decision ends holding millions of small pieces: they are freed on a
  // thread of their own, so that neither its result nor a stop waits for them.
  struct FreedAside {
    std::unique_ptr<DecisionState>& state;
    ~FreedAside() {
      if (state->count() >= kLargeDecision) freeAside(std::move(state));
    }
  } freedAside{state};

  for (void (*stage)(DecisionState&) : {removeVerbalSlates, removeFalseStarts, removeStumbles, removeRepeatedRuns,
                                        chooseRepeatedTakes, removeDuplicateLines, removeOffMicChatter, removeRoomTalk,
                                        repairMixedRuns, restoreLostLines, swapUnfinishedLines}) {
    checkpoint();
    stage(*state);
  }
  return std::move(state->result);
}

Decision withFillers(Decision beforeFillers, const Transcript& transcript, const PipelineSettings& settings) {
  static const std::optional<LevelData> noLevels;
  DecisionState state(transcript, {}, {}, {}, noLevels, settings);
  state.result = std::move(beforeFillers);
  checkpoint();
  removeFillers(state, true);
  orderRemovals(state);
  return std::move(state.result);
}

Decision fillersOnly(const Transcript& transcript, const PipelineSettings& settings) {
  if (!settings.removeFillers) return {};
  static const std::optional<LevelData> noLevels;
  DecisionState state(transcript, {}, {}, {}, noLevels, settings);
  removeFillers(state, false);
  orderRemovals(state);
  return std::move(state.result);
}

}  // namespace kestrane::TakeSelector
