#include "kestrane/transcribe/SpeechChunks.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::SpeechChunks {

namespace {

float percentile(std::vector<float> values, double p) {
  if (values.empty()) return -120;
  const auto k = static_cast<std::size_t>(p * double(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
  return values[k];
}

// Quiet runs of at least `minFrames`, in order.
std::vector<FrameRange> pauses(const std::vector<float>& levels, std::size_t minFrames) {
  // Quiet relative to this recording: near its noise floor and far below its speech.
  const float floorLevel = percentile(levels, 0.10);
  const float speechLevel = percentile(levels, 0.90);
  const float quiet = std::max(floorLevel + 10.0f, speechLevel - 30.0f);
  std::vector<FrameRange> found;
  // Without that much contrast nothing can be told apart as a pause.
  if (speechLevel < quiet) return found;
  for (std::size_t i = 0; i < levels.size();) {
    if (levels[i] >= quiet) {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < levels.size() && levels[j] < quiet) ++j;
    if (j - i >= std::max<std::size_t>(1, minFrames)) found.push_back({i, j});
    i = j;
  }
  return found;
}

std::size_t frames(double seconds) { return static_cast<std::size_t>(std::lround(seconds * 100)); }

}  // namespace

FrameLevels::FrameLevels(int sampleRate)
    : frame_(std::max<std::size_t>(1, static_cast<std::size_t>(sampleRate / 100))) {}

void FrameLevels::push(const std::int16_t* samples, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    sum_ += double(samples[i]) * samples[i];
    if (++filled_ == frame_) {
      const double rms = std::sqrt(sum_ / double(frame_)) / 32768.0;
      levels_.push_back(rms > 1e-6 ? static_cast<float>(20 * std::log10(rms)) : -120.0f);
      filled_ = 0;
      sum_ = 0;
    }
  }
}

std::vector<float> FrameLevels::take() {
  if (filled_ > 0) {
    const double rms = std::sqrt(sum_ / double(filled_)) / 32768.0;
    levels_.push_back(rms > 1e-6 ? static_cast<float>(20 * std::log10(rms)) : -120.0f);
    filled_ = 0;
    sum_ = 0;
  }
  return std::move(levels_);
}

std::vector<FrameRange> audibleStretches(const std::vector<float>& levels, const Limits& limits) {
  const std::size_t kept = frames(limits.keptOfPause);
  const std::size_t skipped = std::max(frames(limits.skippedPause), 2 * kept + 1);
  std::vector<FrameRange> stretches;
  std::size_t start = 0;
  bool endsInPause = false;
  // A long pause at the very start or end is left out but for what is kept next to speech.
  for (const FrameRange& p : pauses(levels, skipped)) {
    if (p.first > 0) stretches.push_back({start, p.first + kept});
    start = p.last - kept;
    endsInPause = p.last == levels.size();
  }
  if (!endsInPause && start < levels.size()) stretches.push_back({start, levels.size()});
  return stretches;
}

std::vector<Chunk> atPauses(const std::vector<float>& levels, std::size_t frameSamples, std::size_t sampleCount,
                            const Limits& limits) {
  std::vector<Chunk> chunks;
  if (levels.empty() || sampleCount == 0) return chunks;
  const std::vector<FrameRange> quietRuns = pauses(levels, frames(limits.minPause));
  const std::size_t minFrame = frames(limits.minSeconds),
                    maxFrame = std::max<std::size_t>(1, frames(limits.maxSeconds));
  const auto sample = [&](std::size_t frame) { return std::min(sampleCount, frame * frameSamples); };
  // Speech level: within 20 dB of the loud end of the recording, above its floor.
  const float loud = std::max(percentile(levels, 0.90) - 20.0f, percentile(levels, 0.10) + 10.0f);
  const auto chunk = [&](std::size_t first, std::size_t last, std::size_t endSample) {
    std::size_t loudFrames = 0;
    for (std::size_t f = first; f < std::min(last, levels.size()); ++f) loudFrames += levels[f] >= loud ? 1 : 0;
    chunks.push_back({sample(first), endSample, loudFrames >= frames(0.2)});
  };
  for (const FrameRange& stretch : audibleStretches(levels, limits)) {
    std::size_t start = stretch.first;
    while (stretch.last - start > maxFrame) {
      const std::size_t lo = start + std::min(minFrame, maxFrame), hi = start + maxFrame;
      std::size_t cut = 0, best = 0;
      for (const FrameRange& p : quietRuns) {
        const std::size_t m = (p.first + p.last - 1) / 2;
        if (m < lo || m > hi) continue;
        if (p.last - p.first > best) best = p.last - p.first, cut = m;
      }
      if (best == 0) {
        cut = lo;
        // The quietest frame, the latest of equals, so chunks stay as long as allowed.
        for (std::size_t f = lo; f <= hi; ++f)
          if (levels[f] <= levels[cut]) cut = f;
      }
      chunk(start, cut, sample(cut));
      start = cut;
    }
    chunk(start, stretch.last, stretch.last == levels.size() ? sampleCount : sample(stretch.last));
  }
  return chunks;
}

}  // namespace kestrane::SpeechChunks
