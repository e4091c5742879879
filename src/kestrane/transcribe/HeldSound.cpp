#include "kestrane/transcribe/HeldSound.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrane::HeldSound {

namespace {
// Limits measured on held "um"/"uh" against ordinary words in read speech.
constexpr double kMinSeconds = 0.25;
constexpr double kMaxSpreadDB = 3;
constexpr double kMaxDipDB = 8;
constexpr double kMaxCrossings = 0.08;
}  // namespace

Measure measure(const std::int16_t* samples, std::size_t count, int sampleRate) {
  Measure m;
  const std::size_t frame = static_cast<std::size_t>(std::max(1, sampleRate / 100));
  // The edges of a token are where the recognizer's boundaries are least sure; judge the middle.
  const std::size_t trim = count / 10;
  const std::int16_t* begin = samples + trim;
  const std::size_t n = count - 2 * trim;
  std::vector<double> levels;
  std::size_t crossings = 0;
  for (std::size_t at = 0; at + frame <= n; at += frame) {
    double sum = 0;
    for (std::size_t i = 0; i < frame; ++i) sum += double(begin[at + i]) * begin[at + i];
    levels.push_back(10 * std::log10(sum / double(frame) + 1.0));
  }
  for (std::size_t i = 1; i < n; ++i) crossings += (begin[i - 1] < 0) != (begin[i] < 0);
  if (levels.empty() || n < 2) return m;
  double mean = 0;
  for (double l : levels) mean += l;
  mean /= double(levels.size());
  double var = 0;
  for (double l : levels) var += (l - mean) * (l - mean);
  m.loudnessSpreadDB = std::sqrt(var / double(levels.size()));
  std::vector<double> sorted = levels;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  m.deepestDipDB = sorted[sorted.size() / 2] - *std::min_element(levels.begin(), levels.end());
  m.crossingsPerSample = double(crossings) / double(n - 1);
  return m;
}

bool isHeld(const std::int16_t* samples, std::size_t count, int sampleRate) {
  if (sampleRate <= 0 || double(count) < kMinSeconds * sampleRate) return false;
  const Measure m = measure(samples, count, sampleRate);
  return m.loudnessSpreadDB <= kMaxSpreadDB && m.deepestDipDB <= kMaxDipDB && m.crossingsPerSample <= kMaxCrossings;
}

namespace {
double frameDB(const std::int16_t* samples, std::size_t count) {
  double sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
  const double rms = std::sqrt(sum / double(std::max<std::size_t>(1, count))) / 32768.0;
  return rms > 1e-6 ? 20 * std::log10(rms) : -120;
}
}  // namespace

double frameLevelDB(const std::int16_t* samples, std::size_t count, int sampleRate, double fraction) {
  const std::size_t frame = static_cast<std::size_t>(std::max(1, sampleRate / 100));
  std::vector<double> levels;
  for (std::size_t at = 0; at + frame <= count; at += frame) levels.push_back(frameDB(samples + at, frame));
  if (levels.empty()) return -120;
  const auto k = static_cast<std::size_t>(std::clamp(fraction, 0.0, 1.0) * double(levels.size() - 1));
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(k), levels.end());
  return levels[k];
}

Span heldWithin(const std::int16_t* samples, std::size_t count, int sampleRate, double minLevelDB) {
  const std::size_t frame = static_cast<std::size_t>(std::max(1, sampleRate / 100));
  Span best, run;
  for (std::size_t at = 0; at + frame <= count; at += frame) {
    if (frameDB(samples + at, frame) < minLevelDB) {
      run = {at + frame, at + frame};
      continue;
    }
    run.last = at + frame;
    if (run.last - run.first > best.last - best.first) best = run;
  }
  if (best.last > best.first && isHeld(samples + best.first, best.last - best.first, sampleRate)) return best;
  return {};
}

}  // namespace kestrane::HeldSound
