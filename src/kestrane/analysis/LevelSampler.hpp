#pragma once
// The loudness of a file's sound at chosen stretches, measured as the analysis measures the whole
// of it (LevelMeter over the first sound track mixed to mono, at its own rate, the sound placed
// where the file's timestamps put it), on the same grid of hops: hop 0 starts at source time 0.
// Only the stretches asked for are decoded, reached by seeking, so a few seconds of an hour-long
// file cost milliseconds.
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "kestrane/analysis/LevelTrack.hpp"

namespace kestrane::platform {
class AudioTrackReader;
class MediaFile;
}  // namespace kestrane::platform

namespace kestrane::AudioAnalyzer {

class LevelSampler {
 public:
  // Opens the held file's first sound track. `fromFirstSample`: hop 0 starts at the track's first
  // sample instead, as earlier builds counted (sessions on SoundTiming::countedSamples). Throws
  // platform::MediaOpenError when the file is no media, and AnalyzerError when it has no sound
  // track or its sound can't be decoded or read; Cancelled, from here and from every reading,
  // once `stop` is requested.
  explicit LevelSampler(std::shared_ptr<const platform::MediaFile> file, bool fromFirstSample = false,
                        std::stop_token stop = {});
  ~LevelSampler();
  LevelSampler(const LevelSampler&) = delete;
  LevelSampler& operator=(const LevelSampler&) = delete;

  // The sound's own rate.
  double sampleRate() const { return rate_; }
  // Seconds between the starts of two levels, and the length each level measures.
  double hopDuration() const { return hopDuration_; }
  double windowDuration() const { return windowDuration_; }

  // The levels of hops first … first+count-1 (first may be negative); silence, at the floor,
  // where the track has no sound. Throws AnalyzerError when it can't be decoded or read, or the
  // sound jumps further than any recording does (AnalyzerError::damaged).
  std::vector<float> levels(std::int64_t firstHop, std::size_t count);
  // The same, with the speech band's levels in the same windows (LevelTrack::speechLevelsDBFS).
  LevelTrack track(std::int64_t firstHop, std::size_t count);

  // Where the track's sound ends, in seconds from hop 0, once a stretch asked for went past it;
  // nothing while the sound goes on as far as has been heard.
  std::optional<double> end() const;
  // Where hop 0 lies on the file's clock, in seconds.
  double originSeconds() const { return static_cast<double>(origin_) / rate_; }
  // The track's own stated end, in seconds from hop 0, when the file states one.
  std::optional<double> statedEnd() const;

 private:
  void read(std::int64_t position, int count, float* const* planes);
  LevelTrack measured(std::int64_t firstHop, std::size_t count, bool speechBand);

  std::unique_ptr<platform::AudioTrackReader> reader_;
  int rate_ = 0;
  int channels_ = 0;
  std::int64_t hop_ = 0;
  std::int64_t window_ = 0;
  double hopDuration_ = 0.01;
  double windowDuration_ = 0.02;
  std::int64_t origin_ = 0;  // hop 0, as a position of the reader's
};

}  // namespace kestrane::AudioAnalyzer
