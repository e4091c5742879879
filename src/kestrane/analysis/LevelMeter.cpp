#include "kestrane/analysis/LevelMeter.hpp"

#include <cmath>

namespace kestrane::AudioAnalyzer {

float windowLevel(const float* samples, std::size_t count) {
  if (count == 0) return kLevelFloorDBFS;
  double sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  const float rms = static_cast<float>(std::sqrt(sum / static_cast<double>(count)));
  if (!(rms > 0)) return kLevelFloorDBFS;
  const float level = 20.0f * std::log10(rms);
  return level <= kLevelFloorDBFS ? kLevelFloorDBFS : level;
}

void mixToMono(const float* interleaved, std::size_t sampleCount, int channels, std::vector<float>& mono) {
  mono.clear();
  if (channels <= 1) {
    mono.assign(interleaved, interleaved + sampleCount);
    return;
  }
  const std::size_t frames = sampleCount / static_cast<std::size_t>(channels);
  mono.resize(frames);
  const float scale = 1.0f / static_cast<float>(channels);
  for (std::size_t f = 0; f < frames; ++f) {
    const float* frame = interleaved + f * channels;
    float sum = 0;
    for (int c = 0; c < channels; ++c) sum += frame[c];
    mono[f] = sum * scale;
  }
}

void mixToMono(const float* const* planes, std::size_t frames, int channels, std::vector<float>& mono) {
  if (channels <= 1) {
    mono.assign(planes[0], planes[0] + frames);
    return;
  }
  mono.resize(frames);
  const float scale = 1.0f / static_cast<float>(channels);
  for (std::size_t f = 0; f < frames; ++f) {
    float sum = 0;
    for (int c = 0; c < channels; ++c) sum += planes[c][f];
    mono[f] = sum * scale;
  }
}

LevelMeter::LevelMeter(double sampleRate, bool speechBand)
    : window_(static_cast<std::size_t>(sampleRate * 0.02)),
      hop_(static_cast<std::size_t>(sampleRate * 0.01)),
      hopDuration_(hop_ > 0 ? static_cast<double>(hop_) / sampleRate : 0.01) {
  if (speechBand && hop_ > 0) band_.emplace(sampleRate);
}

void LevelMeter::push(const float* mono, std::size_t count) {
  if (hop_ == 0 || window_ == 0) return;
  pending_.insert(pending_.end(), mono, mono + count);
  if (band_) {
    const std::size_t from = pendingBand_.size();
    pendingBand_.insert(pendingBand_.end(), mono, mono + count);
    band_->filter(pendingBand_.data() + from, count);
  }
  std::size_t position = 0;
  while (position + window_ <= pending_.size()) {
    levels_.push_back(windowLevel(pending_.data() + position, window_));
    if (band_) speechLevels_.push_back(windowLevel(pendingBand_.data() + position, window_));
    position += hop_;
  }
  // Keep the tail from the first window not yet measured, so it starts on a hop boundary.
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(position));
  if (band_) pendingBand_.erase(pendingBand_.begin(), pendingBand_.begin() + static_cast<std::ptrdiff_t>(position));
}

}  // namespace kestrane::AudioAnalyzer
