#include "kestrane/analysis/LevelMatch.hpp"

#include "kestrane/analysis/LevelMeter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrane::AudioAnalyzer {

namespace {

// A stretch whose loud and quiet levels lie closer than this has no shape to tell by.
constexpr double kTellingRangeDB = 10;
// A shorter stretch (half a second) tells nothing either.
constexpr std::size_t kLeastComparedHops = 50;

// The level `share` of the way up the sorted levels: the loud levels at 0.9, the quiet at 0.1,
// so that a single click or dropout moves neither.
double levelAt(std::vector<float> levels, double share) {
  const auto index = static_cast<std::size_t>(share * static_cast<double>(levels.size() - 1));
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(index), levels.end());
  return levels[index];
}

}  // namespace

double loudLevel(const std::vector<float>& levels) { return levelAt(levels, 0.9); }

LevelMatch matchLevels(const std::vector<float>& stored, const std::vector<float>& heard, int maxShift,
                       bool heardFloorHides) {
  LevelMatch match;
  const std::size_t n = stored.size();
  const auto margin = static_cast<std::size_t>(std::max(maxShift, 0));
  if (n < kLeastComparedHops || heard.size() < n + 2 * margin) return match;
  const double loud = loudLevel(stored);
  if (loud - levelAt(stored, 0.1) < kTellingRangeDB) return match;
  // A copy made louder or quieter moves every level alike; its loud levels say by how much.
  const std::vector<float> lined(heard.begin() + static_cast<std::ptrdiff_t>(margin),
                                 heard.begin() + static_cast<std::ptrdiff_t>(margin + n));
  const double gain = loudLevel(lined) - loud;
  double floor = loud - kComparedRangeDB;
  if (heardFloorHides) floor = std::max(floor, kLevelFloorDBFS - std::min(gain, 0.0));

  const auto mismatchAt = [&](int shift) {
    double sum = 0;
    std::size_t compared = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double s = std::max<double>(stored[i], floor);
      const double h = std::max<double>(heard[i + static_cast<std::size_t>(shift + maxShift)] - gain, floor);
      if (s <= floor && h <= floor) continue;
      sum += std::abs(h - s);
      ++compared;
    }
    return compared == 0 ? 0.0 : sum / static_cast<double>(compared);
  };

  match.telling = true;
  match.mismatchUnshifted = mismatchAt(0);
  match.mismatch = match.mismatchUnshifted;
  // Outward from no shift, so that of two shifts that fit alike the smaller is taken.
  for (int step = 1; step <= maxShift; ++step) {
    for (const int shift : {-step, step}) {
      const double m = mismatchAt(shift);
      if (m < match.mismatch) {
        match.mismatch = m;
        match.shift = shift;
      }
    }
  }
  return match;
}

}  // namespace kestrane::AudioAnalyzer
