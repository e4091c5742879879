#include "kestrane/analysis/LevelSampler.hpp"

#include <algorithm>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/analysis/SoundFailures.hpp"
#include "kestrane/platform/AudioTrackReader.hpp"

namespace kestrane::AudioAnalyzer {

namespace {

// Samples decoded per read: small enough to keep, large enough to cost nothing per call.
constexpr int kReadFrames = 8192;

}  // namespace

LevelSampler::LevelSampler(std::shared_ptr<const platform::MediaFile> file, bool fromFirstSample, std::stop_token stop)
    : reader_(heardThrough(
          [&] { return std::make_unique<platform::AudioTrackReader>(std::move(file), std::move(stop)); })) {
  if (!reader_->hasTrack()) throw AnalyzerError::noAudioTrack();
  rate_ = reader_->trackSampleRate();
  channels_ = std::max(reader_->trackChannelCount(), 1);
  // Below 100 Hz there is no whole-sample hop, as in the analysis.
  if (rate_ < 100) throw AnalyzerError::decodeFailed("unsupported sample rate");
  reader_->setOutput(rate_, channels_);
  const LevelMeter meter(rate_);
  hop_ = static_cast<std::int64_t>(meter.hop());
  window_ = static_cast<std::int64_t>(meter.window());
  hopDuration_ = meter.hopDuration();
  windowDuration_ = static_cast<double>(window_) / rate_;
  if (!fromFirstSample) return;
  // Earlier builds counted their levels from the track's first sample, wherever the file put it.
  std::vector<float> one(static_cast<std::size_t>(channels_));
  std::vector<float*> planes;
  for (float& sample : one) planes.push_back(&sample);
  read(0, 1, planes.data());
  origin_ = reader_->firstPosition().value_or(0);
}

void LevelSampler::read(std::int64_t position, int count, float* const* planes) {
  heardThrough([&] {
    reader_->read(position, count, planes);
    return true;
  });
}

LevelSampler::~LevelSampler() = default;

std::vector<float> LevelSampler::levels(std::int64_t firstHop, std::size_t count) {
  return measured(firstHop, count, false).levelsDBFS;
}

LevelTrack LevelSampler::track(std::int64_t firstHop, std::size_t count) { return measured(firstHop, count, true); }

LevelTrack LevelSampler::measured(std::int64_t firstHop, std::size_t count, bool speechBand) {
  if (count == 0) return {{}, hopDuration_, {}};
  LevelMeter meter(rate_, speechBand);
  const std::int64_t total = static_cast<std::int64_t>(count - 1) * hop_ + window_;
  std::int64_t position = origin_ + firstHop * hop_;
  std::vector<std::vector<float>> planes(static_cast<std::size_t>(channels_), std::vector<float>(kReadFrames));
  std::vector<float*> pointers;
  for (auto& plane : planes) pointers.push_back(plane.data());
  std::vector<float> interleaved;
  std::vector<float> mono;
  for (std::int64_t done = 0; done < total;) {
    const int n = static_cast<int>(std::min<std::int64_t>(kReadFrames, total - done));
    read(position + done, n, pointers.data());
    // Mixed exactly as the analysis mixes its blocks.
    interleaved.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(channels_));
    for (int f = 0; f < n; ++f)
      for (int c = 0; c < channels_; ++c)
        interleaved[static_cast<std::size_t>(f * channels_ + c)] = planes[static_cast<std::size_t>(c)][f];
    mixToMono(interleaved.data(), interleaved.size(), channels_, mono);
    meter.push(mono.data(), mono.size());
    done += n;
  }
  LevelTrack heard = meter.take();
  heard.levelsDBFS.resize(count, kLevelFloorDBFS);
  if (speechBand) heard.speechLevelsDBFS.resize(count, kLevelFloorDBFS);
  return heard;
}

std::optional<double> LevelSampler::end() const {
  const std::optional<std::int64_t> end = reader_->end();
  if (!end) return std::nullopt;
  return static_cast<double>(std::max<std::int64_t>(*end - origin_, 0)) / rate_;
}

std::optional<double> LevelSampler::statedEnd() const {
  const std::optional<double> stated = reader_->statedEnd();
  if (!stated) return std::nullopt;
  return *stated - static_cast<double>(origin_) / rate_;
}

}  // namespace kestrane::AudioAnalyzer
