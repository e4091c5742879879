#include "kestrane/model/CountedClock.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrane {

namespace {

// Levels of hops no sound lies in: the meter's floor, as the analysis measures silence.
constexpr float kSilentLevelDBFS = -80.0f;

// The clock with, for each step, where the times just before it lie, so that each time is moved
// by one search.
class Mover {
 public:
  explicit Mover(const CountedClock& clock) : steps_(clock.steps) {
    double floor = -std::numeric_limits<double>::infinity();
    double offset = 0;
    for (const CountedClock::Step& step : steps_) {
      floor = std::max(floor, step.counted + offset);
      floors_.push_back(floor);
      offset = step.offset;
    }
  }

  double operator()(double counted) const {
    const auto after = std::upper_bound(steps_.begin(), steps_.end(), counted,
                                        [](double t, const CountedClock::Step& step) { return t < step.counted; });
    if (after == steps_.begin()) return counted;
    const auto k = static_cast<std::size_t>(after - steps_.begin()) - 1;
    return std::max(counted + steps_[k].offset, floors_[k]);
  }

  TimeRange operator()(const TimeRange& range) const { return {(*this)(range.start), (*this)(range.end)}; }

 private:
  const std::vector<CountedClock::Step>& steps_;
  std::vector<double> floors_;
};

template <class T, class Move>
void moveEach(std::optional<std::vector<T>>& items, const Move& move) {
  if (!items) return;
  for (T& item : *items) move(item);
}

// Each counted hop's level at the hop its time lies in; hops no sound lies in are silent, and of
// two levels for one hop the first heard stays. The speech band's levels move alike.
LevelData movedLevels(const LevelData& levels, const Mover& move) {
  const std::vector<float> counted = levels.levelsDBFS();
  const double hop = levels.hopDuration;
  if (counted.empty() || !(hop > 0)) return levels;
  const auto hopOf = [&](std::size_t i) {
    return static_cast<std::int64_t>(std::llround(move(static_cast<double>(i) * hop) / hop));
  };
  const std::int64_t last = hopOf(counted.size() - 1);
  if (last < 0 || last > static_cast<std::int64_t>(counted.size()) * 4 + 1'000'000) return levels;
  const auto moved = [&](const std::vector<float>& levelsDBFS) {
    if (levelsDBFS.empty()) return levelsDBFS;
    std::vector<float> on(static_cast<std::size_t>(last) + 1, kSilentLevelDBFS);
    std::vector<bool> heard(on.size(), false);
    for (std::size_t i = 0; i < levelsDBFS.size(); ++i) {
      const std::int64_t at = hopOf(i);
      if (at < 0 || at > last || heard[static_cast<std::size_t>(at)]) continue;
      on[static_cast<std::size_t>(at)] = levelsDBFS[i];
      heard[static_cast<std::size_t>(at)] = true;
    }
    return on;
  };
  return LevelData::fromLevels(hop, moved(counted), moved(levels.speechLevelsDBFS()));
}

}  // namespace

double CountedClock::onFileClock(double counted) const { return Mover(*this)(counted); }

TimeRange CountedClock::onFileClock(const TimeRange& counted) const { return Mover(*this)(counted); }

bool CountedClock::agrees() const {
  return std::all_of(steps.begin(), steps.end(), [](const Step& step) { return step.offset == 0; });
}

KestraneSession onFileClock(KestraneSession session, const CountedClock& clock) {
  session.soundTiming = SoundTiming::timestamps;
  if (clock.agrees()) return session;
  const Mover move(clock);
  // Nothing lies past the footage's end; the cut still covers it from its start to its end.
  const double end = session.source.durationSeconds;
  const auto moved = [&](const TimeRange& range) {
    const TimeRange on = move(range);
    return TimeRange{std::min(on.start, end), std::min(on.end, end)};
  };
  const auto moveRange = [&](TimeRange& range) { range = moved(range); };

  if (session.transcript) {
    for (TranscriptWord& word : session.transcript->words) word.range = moved(word.range);
  }
  moveEach(session.silences, [&](SilenceSpan& span) { span.range = moved(span.range); });
  moveEach(session.advisories, [&](Advisory& note) { note.range = moved(note.range); });
  moveEach(session.editorNotes, [&](Advisory& note) { note.range = moved(note.range); });
  session.settings = onFileClock(std::move(session.settings), clock, end);
  moveEach(session.takeGroups, [&](TakeGroupInfo& group) {
    group.winnerRange = moved(group.winnerRange);
    moveEach(group.alternateRanges, moveRange);
  });
  if (session.cutList && !session.cutList->segments.empty()) {
    std::vector<Segment>& segments = session.cutList->segments;
    for (Segment& segment : segments) segment.range = moved(segment.range);
    segments.front().range.start = 0;
    segments.back().range.end = std::max(segments.back().range.end, end);
  }
  if (session.levels) session.levels = movedLevels(*session.levels, move);
  return session;
}

PipelineSettings onFileClock(PipelineSettings settings, const CountedClock& clock, double footageEnd) {
  const Mover move(clock);
  const auto moveRange = [&](TimeRange& range) {
    const TimeRange on = move(range);
    range = {std::min(on.start, footageEnd), std::min(on.end, footageEnd)};
  };
  moveEach(settings.manualKeepRanges, moveRange);
  moveEach(settings.manualRemoveRanges, moveRange);
  return settings;
}

}  // namespace kestrane
