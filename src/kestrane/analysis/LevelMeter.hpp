#pragma once
// Loudness measured while samples stream in: RMS over 20 ms windows every 10 ms, in dBFS,
// floored at -80; and, when asked, the speech band's in the same windows. Only less than one
// window of samples is kept between pushes.
#include <cstddef>
#include <optional>
#include <vector>

#include "kestrane/analysis/LevelTrack.hpp"
#include "kestrane/analysis/SpeechBand.hpp"

namespace kestrane::AudioAnalyzer {

inline constexpr float kLevelFloorDBFS = -80.0f;

// The level of one window: 20·log10(RMS), never below the floor.
float windowLevel(const float* samples, std::size_t count);

// Mixes interleaved frames to mono: channels summed in order, times 1/channels. Trailing samples
// that do not fill a frame are dropped.
void mixToMono(const float* interleaved, std::size_t sampleCount, int channels, std::vector<float>& mono);
// The same of `frames` frames held as one plane per channel.
void mixToMono(const float* const* planes, std::size_t frames, int channels, std::vector<float>& mono);

class LevelMeter {
 public:
  // Window and hop are the whole parts of rate × 0.02 and rate × 0.01 samples. A rate below
  // 100 Hz has no hop; the caller refuses it before measuring. `speechBand`: the speech band's
  // levels are measured too.
  explicit LevelMeter(double sampleRate, bool speechBand = false);

  void push(const float* mono, std::size_t count);

  std::size_t window() const { return window_; }
  std::size_t hop() const { return hop_; }
  // Seconds between level starts: the hop in samples over the rate, which is 0.01 only when
  // the rate is a multiple of 100 Hz.
  double hopDuration() const { return hopDuration_; }

  LevelTrack track() const { return {levels_, hopDuration_, speechLevels_}; }
  LevelTrack take() { return {std::move(levels_), hopDuration_, std::move(speechLevels_)}; }

 private:
  std::size_t window_;
  std::size_t hop_;
  double hopDuration_;
  std::vector<float> pending_;
  std::vector<float> levels_;
  std::optional<SpeechBand> band_;
  std::vector<float> pendingBand_;  // the pending samples, filtered to the speech band
  std::vector<float> speechLevels_;
};

}  // namespace kestrane::AudioAnalyzer
