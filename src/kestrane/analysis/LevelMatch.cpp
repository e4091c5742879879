#include "kestrane/analysis/LevelMatch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrane::AudioAnalyzer {

namespace {

// A stretch whose loud and quiet levels lie closer than this has no shape to tell by.
constexpr double kTellingRangeDB = 10;
// A shorter stretch (half a second) tells nothing either.
constexpr std::size_t kLeastComparedHops = 50;
// Levels this close to the recording's loud level are speech (or whatever the recording is of),
// not the room: a stretch needs this share of them to tell by. The last seconds of a recording
// are often room tone with a breath or a word's tail in it, whose shape a codec changes freely.
constexpr double kSpeechRangeDB = 20;
constexpr double kTellingSpeechShare = 0.25;

// The level `share` of the way up the sorted levels: the loud levels at 0.9, the quiet at 0.1,
// so that a single click or dropout moves neither.
double levelAt(std::vector<float> levels, double share) {
  const auto index = static_cast<std::size_t>(share * static_cast<double>(levels.size() - 1));
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(index), levels.end());
  return levels[index];
}

double median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The correlation of two equally long series; 0 where either is flat.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const auto n = static_cast<double>(a.size());
  double meanA = 0, meanB = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    meanA += a[i];
    meanB += b[i];
  }
  meanA /= n;
  meanB /= n;
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - meanA) * (b[i] - meanB);
    aa += (a[i] - meanA) * (a[i] - meanA);
    bb += (b[i] - meanB) * (b[i] - meanB);
  }
  if (aa <= 0 || bb <= 0) return 0;
  return ab / std::sqrt(aa * bb);
}

// The hops of `stored` that are speech rather than the room.
std::vector<std::size_t> speechHops(const std::vector<float>& stored, double loud) {
  std::vector<std::size_t> speech;
  for (std::size_t i = 0; i < stored.size(); ++i)
    if (stored[i] >= loud - kSpeechRangeDB) speech.push_back(i);
  return speech;
}

bool holdsSpeech(std::size_t speechHops, std::size_t hops) {
  return static_cast<double>(speechHops) >= kTellingSpeechShare * static_cast<double>(hops);
}

bool risesAndFalls(const std::vector<float>& stored) {
  return stored.size() >= kLeastComparedHops && levelAt(stored, 0.9) - levelAt(stored, 0.1) >= kTellingRangeDB;
}

// How far a series changes over kChangeHops hops, from each hop on. Over a syllable's rise or
// fall rather than from one hop to the next, so that sound lying a hop off (a compressor's attack,
// a codec's frame) changes alike.
constexpr std::size_t kChangeHops = 3;
std::vector<double> changes(const std::vector<double>& series) {
  std::vector<double> out;
  for (std::size_t i = kChangeHops; i < series.size(); ++i) out.push_back(series[i] - series[i - kChangeHops]);
  return out;
}

}  // namespace

double loudLevel(const std::vector<float>& levels) { return levelAt(levels, 0.9); }

bool tells(const std::vector<float>& stored, double loud) {
  return risesAndFalls(stored) && holdsSpeech(speechHops(stored, loud).size(), stored.size());
}

double tellingShare(const std::vector<float>& levels) {
  constexpr std::size_t kStretchHops = 200, kStepHops = 100;
  if (levels.empty()) return 1;
  const double loud = loudLevel(levels);
  std::size_t speaking = 0, telling = 0;
  for (std::size_t first = 0; first + kStretchHops <= levels.size(); first += kStepHops) {
    const std::vector<float> stretch(levels.begin() + static_cast<std::ptrdiff_t>(first),
                                     levels.begin() + static_cast<std::ptrdiff_t>(first + kStretchHops));
    if (!holdsSpeech(speechHops(stretch, loud).size(), stretch.size())) continue;
    ++speaking;
    if (risesAndFalls(stretch)) ++telling;
  }
  return speaking == 0 ? 1.0 : static_cast<double>(telling) / static_cast<double>(speaking);
}

LevelMatch matchLevels(const std::vector<float>& stored, const std::vector<float>& heard, int maxShift, double loud) {
  LevelMatch match;
  const std::size_t n = stored.size();
  const auto margin = static_cast<std::size_t>(std::max(maxShift, 0));
  if (n < kLeastComparedHops || heard.size() < n + 2 * margin) return match;
  if (!risesAndFalls(stored)) return match;
  const std::vector<std::size_t> speech = speechHops(stored, loud);
  if (!holdsSpeech(speech.size(), n)) return match;

  const double floor = loud - kComparedRangeDB;
  std::vector<double> storedShape(n);
  for (std::size_t i = 0; i < n; ++i) storedShape[i] = std::max<double>(stored[i], floor);
  std::vector<double> differences(speech.size());
  std::vector<double> heardShape(n);
  const auto likenessAt = [&](int shift) {
    const auto at = [&](std::size_t i) { return heard[i + static_cast<std::size_t>(shift + maxShift)]; };
    // A copy made louder or quieter moves the speech alike: by the middle of how far each
    // level of it moved, which no single quiet consonant a codec drops can sway.
    for (std::size_t k = 0; k < speech.size(); ++k) differences[k] = at(speech[k]) - stored[speech[k]];
    const double gain = median(differences);
    for (std::size_t i = 0; i < n; ++i) heardShape[i] = std::max(at(i) - gain, floor);
    return correlation(storedShape, heardShape);
  };

  const std::vector<double> storedChanges = changes(storedShape);
  const auto changeLikeness = [&] { return correlation(storedChanges, changes(heardShape)); };
  match.telling = true;
  match.likenessUnshifted = likenessAt(0);
  match.likeness = match.likenessUnshifted;
  match.changeLikenessUnshifted = changeLikeness();
  match.changeLikeness = match.changeLikenessUnshifted;
  // Outward from no shift, so that of two shifts that fit alike the smaller is taken.
  for (int step = 1; step <= maxShift; ++step) {
    for (const int shift : {-step, step}) {
      const double likeness = likenessAt(shift);
      if (likeness > match.likeness) {
        match.likeness = likeness;
        match.shift = shift;
      }
      if (const double change = changeLikeness(); change > match.changeLikeness) {
        match.changeLikeness = change;
        match.changeShift = shift;
      }
    }
  }
  return match;
}

Agreement agreementOf(const std::vector<LevelMatch>& matches, int leewayHops) {
  std::vector<const LevelMatch*> telling;
  for (const LevelMatch& match : matches)
    if (match.telling) telling.push_back(&match);
  Agreement agreement;
  if (telling.empty()) return agreement;
  std::sort(telling.begin(), telling.end(),
            [](const LevelMatch* a, const LevelMatch* b) { return a->shift < b->shift; });
  if (telling.back()->shift - telling.front()->shift > leewayHops) {
    agreement.drifts = true;
    return agreement;
  }
  agreement.shift = telling[telling.size() / 2]->shift;
  for (const LevelMatch* match : telling) agreement.likenessGained += match->likeness - match->likenessUnshifted;
  agreement.likenessGained /= static_cast<double>(telling.size());
  return agreement;
}

}  // namespace kestrane::AudioAnalyzer
