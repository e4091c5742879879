#include "kestrane/brain/CutInstruments.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "kestrane/brain/ChatterDetector.hpp"
#include "kestrane/brain/RangeIndex.hpp"
#include "kestrane/brain/RunCoherence.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::CutInstruments {

namespace {

using Kind = Finding::Kind;

// How far inside a segment the room tone is sampled at each side of a join.
constexpr double roomToneWindow = 0.15;
// Room tone lies this far under the speech reference.
constexpr double roomToneBelowSpeech = 20;
constexpr double audibleToneStep = 12.0;
constexpr double silentFloorDBFS = -70;
// The breath band: above the silence threshold by at most this much.
constexpr double breathBand = 12;
constexpr double breathReach = 0.03;
constexpr double breathMinDuration = 0.08;
constexpr int rateWords = 6;
constexpr double rateMinSpan = 1.0;
constexpr double rateSlack = 0.01;
constexpr double whiplashRatio = 1.9;
constexpr std::size_t findingsPerKind = 8;
constexpr std::size_t evidenceLines = 20;

std::vector<Segment> joinsOrder(const CutList& cutList) {
  auto kept = cutList.keptSegments();
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Segment& a, const Segment& b) { return a.range.start < b.range.start; });
  return kept;
}

// Words indexed by start, for the lookups the instruments make at every join.
class WordIndex {
 public:
  explicit WordIndex(const Transcript& transcript)
      : words_(transcript.words), index_(RangeIndex::of(transcript.words)) {
    for (std::size_t k = 0; k < words_.size(); ++k)
      if (words_[k].range.end < words_[k].range.start) backwards_.push_back(k);
  }

  // Some word has start <= t < end.
  bool contains(double t) const {
    for (std::size_t p = index_.startingAtOrBefore(t); p-- > 0;) {
      if (!index_.anyAtOrBeforeEndsAfter(p, t)) break;
      if (index_.end(p) > t) return true;
    }
    return false;
  }

  // Some word has start < range.end and end > range.start.
  bool overlaps(const TimeRange& range) const {
    for (std::size_t p = index_.startingBefore(range.end); p-- > 0;) {
      if (!index_.anyAtOrBeforeEndsAfter(p, range.start)) break;
      if (index_.end(p) > range.start) return true;
    }
    return false;
  }

  // Transcript positions, ascending, of the words with start >= lo and end <= hi.
  std::vector<std::size_t> within(double lo, double hi) const {
    std::vector<std::size_t> found;
    // A word that ends before it starts may start past hi and still end by it.
    for (std::size_t p = index_.startingBefore(lo), to = index_.startingAtOrBefore(hi); p < to; ++p)
      if (index_.end(p) <= hi) found.push_back(index_.item(p));
    for (std::size_t k : backwards_) {
      const auto& r = words_[k].range;
      if (r.start > hi && r.start >= lo && r.end <= hi) found.push_back(k);
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  const TranscriptWord& word(std::size_t k) const { return words_[k]; }

 private:
  const std::vector<TranscriptWord>& words_;
  RangeIndex index_;
  std::vector<std::size_t> backwards_;
};

std::optional<double> rateOf(const WordIndex& words, const TimeRange& range, bool atEnd) {
  auto inside = words.within(range.start - rateSlack, range.end + rateSlack);
  if (inside.size() < static_cast<std::size_t>(rateWords)) return std::nullopt;
  std::size_t first = atEnd ? inside.size() - rateWords : 0;
  double span = words.word(inside[first + rateWords - 1]).range.end - words.word(inside[first]).range.start;
  if (!(span >= rateMinSpan)) return std::nullopt;
  return rateWords / span;
}

std::optional<TimeRange> breathRunIn(double t, const std::vector<float>& samples, double hop, double threshold) {
  double whole = std::trunc(t / hop);
  if (!(whole >= 0) || whole >= static_cast<double>(samples.size())) return std::nullopt;
  auto loud = [&](std::size_t k) {
    double level = samples[k];
    return threshold < level && level <= threshold + breathBand;
  };
  auto i = static_cast<std::size_t>(whole);
  if (!loud(i)) return std::nullopt;
  std::size_t first = i, end = i + 1;
  while (first > 0 && loud(first - 1)) --first;
  while (end < samples.size() && loud(end)) ++end;
  TimeRange run{hop * static_cast<double>(first), hop * static_cast<double>(end)};
  if (run.end - t >= breathReach && t - run.start >= breathReach && run.duration() >= breathMinDuration) return run;
  return std::nullopt;
}

std::vector<double> quietSamples(const Levels& levels, double t0, double t1, double ceiling) {
  auto samples = levels.window(t0, t1);
  std::erase_if(samples, [&](double s) { return !(s <= ceiling); });
  return samples;
}

}  // namespace

std::optional<Levels> Levels::from(const LevelData& data) {
  if (!(data.hopDuration > 0)) return std::nullopt;
  Levels levels{data.levelsDBFS(), data.hopDuration};
  if (levels.samples.empty()) return std::nullopt;
  return levels;
}

std::vector<double> Levels::window(double t0, double t1) const {
  const double count = static_cast<double>(samples.size());
  // Clamped as reals so that far-off or odd times cannot overflow an index.
  double first = std::max(0.0, std::floor(t0 / hopDuration));
  double end = std::min(count, std::ceil(t1 / hopDuration));
  if (!(end > first)) return {};
  return {samples.begin() + static_cast<std::ptrdiff_t>(first), samples.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::vector<Finding> sourceContinuity(std::span<const TakeSelector::Utterance> utterances, const CutList& cutList) {
  auto kept = RunCoherence::keptIndices(utterances, cutList);
  std::vector<Finding> findings;
  for (const auto& incident : RunCoherence::incidents(utterances, kept)) {
    findings.push_back(
        {Kind::sourceContinuity,
         {incident.strayStart, incident.strayStart + 0.01},
         fmt::format("the line at {} (“{}”) comes from a different delivery than the lines around it — the same "
                     "line was delivered at {} beside them",
                     timeStamp(incident.strayStart), incident.text, timeStamp(incident.counterpartStart)),
         1.0});
  }
  return findings;
}

std::vector<Finding> spliceQuality(const CutList& cutList, const Transcript& transcript,
                                   const std::optional<LevelData>& levelData, double thresholdDBFS) {
  if (!levelData) return {};
  auto levels = Levels::from(*levelData);
  if (!levels) return {};
  auto wordLevels = ChatterDetector::wordLevels(transcript.words, levelData);
  if (!wordLevels || wordLevels->empty()) return {};
  auto kept = joinsOrder(cutList);
  if (kept.size() < 2) return {};

  std::vector<Finding> findings;
  const double ceiling = ChatterDetector::quantile(std::move(*wordLevels), 0.6) - roomToneBelowSpeech;
  // A long cut has a great many joins: the loops look at the job's stop as they go.
  for (std::size_t k = 0; k + 1 < kept.size(); ++k) {
    if ((k + 1) % 1024 == 0) checkpoint();
    const auto& a = kept[k].range;
    const auto& b = kept[k + 1].range;
    auto outgoing = quietSamples(*levels, std::max(a.start, a.end - roomToneWindow), a.end, ceiling);
    auto incoming = quietSamples(*levels, b.start, std::min(b.start + roomToneWindow, b.end), ceiling);
    if (outgoing.size() < 3 || incoming.size() < 3) continue;
    double before = median(std::move(outgoing)), after = median(std::move(incoming));
    double step = std::fabs(after - before);
    if (step >= audibleToneStep && before > silentFloorDBFS && after > silentFloorDBFS) {
      findings.push_back({Kind::spliceLevel,
                          {a.end, b.start},
                          fmt::format("room tone steps {:.0f} dB across the cut at {} ({:.0f} dBFS → {:.0f} dBFS) — "
                                      "the join may be audible",
                                      step, timeStamp(a.end), before, after),
                          step});
    }
  }

  // Every out-point and in-point, in order.
  std::vector<double> cutPoints{kept.front().range.end};
  for (std::size_t k = 1; k < kept.size(); ++k) {
    cutPoints.push_back(kept[k].range.start);
    if (k + 1 < kept.size()) cutPoints.push_back(kept[k].range.end);
  }
  WordIndex words(transcript);
  for (std::size_t k = 0; k < cutPoints.size(); ++k) {
    if ((k + 1) % 1024 == 0) checkpoint();
    const double t = cutPoints[k];
    if (words.contains(t)) continue;
    auto run = breathRun(t, *levels, thresholdDBFS);
    if (!run || words.overlaps(*run)) continue;
    findings.push_back({Kind::spliceBreath, *run,
                        fmt::format("the cut at {} lands inside {:.2f}s of audible breath ({:.2f}–{:.2f}) — trim to "
                                    "its edge or keep it whole",
                                    timeStamp(t), run->duration(), run->start, run->end),
                        run->duration()});
  }
  return findings;
}

std::vector<Finding> pacingWhiplash(const CutList& cutList, const Transcript& transcript) {
  auto kept = joinsOrder(cutList);
  if (kept.size() < 2) return {};
  WordIndex words(transcript);
  std::vector<Finding> findings;
  for (std::size_t k = 0; k + 1 < kept.size(); ++k) {
    if ((k + 1) % 1024 == 0) checkpoint();
    const auto& a = kept[k].range;
    const auto& b = kept[k + 1].range;
    auto before = rateOf(words, a, true);
    if (!before) continue;
    auto after = rateOf(words, b, false);
    if (!after) continue;
    double lo = std::min(*before, *after), hi = std::max(*before, *after);
    double ratio = lo < 0.01 ? hi / 0.01 : hi / lo;
    if (ratio >= whiplashRatio) {
      findings.push_back({Kind::pacingWhiplash,
                          {a.end, b.start},
                          fmt::format("delivery speed jumps across the cut at {} ({:.1f} → {:.1f} words/sec) — the "
                                      "two takes were paced differently",
                                      timeStamp(a.end), *before, *after),
                          ratio});
    }
  }
  return findings;
}

std::vector<Finding> rank(const std::vector<Finding>& findings) {
  static constexpr std::array<Kind, 5> order{Kind::sourceContinuity, Kind::spliceBreath, Kind::spliceLevel,
                                             Kind::pacingWhiplash, Kind::framingJump};
  // A severity that is not a number ranks last instead of breaking the sort.
  auto severity = [](const Finding& f) { return std::isnan(f.severity) ? -INFINITY : f.severity; };
  std::vector<Finding> ranked;
  for (Kind kind : order) {
    std::vector<Finding> ofKind;
    for (const auto& f : findings)
      if (f.kind == kind) ofKind.push_back(f);
    std::stable_sort(ofKind.begin(), ofKind.end(),
                     [&](const Finding& a, const Finding& b) { return severity(a) > severity(b); });
    if (ofKind.size() > findingsPerKind) ofKind.resize(findingsPerKind);
    ranked.insert(ranked.end(), ofKind.begin(), ofKind.end());
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Finding& a, const Finding& b) { return a.range.start < b.range.start; });
  return ranked;
}

std::optional<std::string> evidence(std::span<const Finding> findings) {
  if (findings.empty()) return std::nullopt;
  std::string text =
      "DETERMINISTIC CHECKS on this cut (measured from the audio, the word timings and the cut list — these are "
      "facts, not guesses):\n";
  for (std::size_t k = 0; k < findings.size() && k < evidenceLines; ++k)
    text += fmt::format("  • [{}] {}\n", rawValue(findings[k].kind), findings[k].detail);
  if (findings.size() > evidenceLines) text += fmt::format("  • …and {} more.\n", findings.size() - evidenceLines);
  text +=
      "A `sourceContinuity` note is a run mixed from two deliveries — treat it as runMix evidence and answer it "
      "with a cut or a restore. The splice, pacing and framing notes are for the EDITOR: do not cut a line just "
      "because a join is rough, unless the line itself is also wrong.\n";
  return text;
}

std::optional<TimeRange> breathRun(double around, const Levels& levels, double threshold) {
  if (!(levels.hopDuration > 0)) return std::nullopt;
  return breathRunIn(around, levels.samples, levels.hopDuration, threshold);
}

std::optional<double> rateEndingIn(const TimeRange& range, const Transcript& transcript) {
  return rateOf(WordIndex(transcript), range, true);
}

std::optional<double> rateStartingIn(const TimeRange& range, const Transcript& transcript) {
  return rateOf(WordIndex(transcript), range, false);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string stamp(double seconds) { return timeStamp(seconds); }

}  // namespace kestrane::CutInstruments
