#include "kestrane/analysis/AudioAnalyzer.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/analysis/SoundFailures.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/MonoResampler.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/platform/WavWriter.hpp"

namespace kestrane::AudioAnalyzer {

namespace {

struct MonoDecode {
  double rate = 0;
  std::size_t frames = 0;
  platform::DecodeReport report;
};

// Feeds every decoded block, mixed to mono, to `onMono`.
MonoDecode decodeMono(const std::shared_ptr<const platform::MediaFile>& file,
                      const std::function<void(double rate, const std::vector<float>&)>& onMono, std::stop_token stop) {
  double rate = 0;
  std::size_t frames = 0;
  std::vector<float> mono;
  platform::DecodeReport report = heardThrough([&] {
    return platform::decodeAudio(
        file,
        [&](const platform::AudioBlock& block) {
          if (rate == 0) {
            rate = block.sampleRate;
            // Below 100 Hz there is no whole-sample hop; no level could ever be measured.
            if (!(rate >= 100) || !std::isfinite(rate))
              throw AnalyzerError::decodeFailed(fmt::format("unsupported sample rate {} Hz", rate));
          }
          mixToMono(block.interleaved, block.frames * static_cast<std::size_t>(block.channels), block.channels, mono);
          frames += block.frames;
          onMono(rate, mono);
        },
        stop);
  });
  if (!(rate > 0)) throw AnalyzerError::decodeFailed("no audio samples decoded");
  return {rate, frames, std::move(report)};
}

}  // namespace

std::string temporaryWAVPath() { return platform::ScratchFiles::create("audio", ".wav"); }

namespace {

AudioExtraction decodeInto(const std::shared_ptr<const platform::MediaFile>& file, const std::string& wavURL,
                           std::stop_token stop, int wavSampleRate) {
  std::optional<LevelMeter> meter;
  std::unique_ptr<platform::WavWriter> wav;
  std::unique_ptr<platform::MonoResampler> resampler;
  std::vector<std::int16_t> converted;
  MonoDecode decoded;
  try {
    decoded = decodeMono(
        file,
        [&](double rate, const std::vector<float>& mono) {
          if (!meter) {
            meter.emplace(rate, true);
            const int decodedRate = static_cast<int>(rate);
            const int written = wavSampleRate > 0 ? wavSampleRate : decodedRate;
            if (written != decodedRate) resampler = std::make_unique<platform::MonoResampler>(decodedRate, written);
            wav = std::make_unique<platform::WavWriter>(wavURL, written);
          }
          meter->push(mono.data(), mono.size());
          if (mono.empty()) return;
          if (resampler) {
            converted.clear();
            resampler->push(mono.data(), mono.size(), converted);
            wav->write(converted.data(), converted.size());
          } else {
            wav->write(mono.data(), mono.size());
          }
        },
        stop);
    if (resampler) {
      converted.clear();
      resampler->flush(converted);
      wav->write(converted.data(), converted.size());
    }
    wav->close();
  } catch (...) {
    wav.reset();
    platform::ScratchFiles::remove(wavURL);
    throw;
  }
  return {meter->take(), wavURL, static_cast<double>(decoded.frames) / decoded.rate, decoded.report.damagedStretches};
}

}  // namespace

AudioExtraction streamDecode(std::shared_ptr<const platform::MediaFile> file, const std::string& wavURL,
                             std::stop_token stop, int wavSampleRate) {
  return decodeInto(file, wavURL, std::move(stop), wavSampleRate);
}

AudioExtraction extractAudio(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop, int wavSampleRate) {
  return decodeInto(file, temporaryWAVPath(), std::move(stop), wavSampleRate);
}

LevelTrack measureLevels(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop) {
  std::optional<LevelMeter> meter;
  decodeMono(
      file,
      [&](double rate, const std::vector<float>& mono) {
        if (!meter) meter.emplace(rate, true);
        meter->push(mono.data(), mono.size());
      },
      std::move(stop));
  return meter->take();
}

double decodedSeconds(std::shared_ptr<const platform::MediaFile> file, double atMost, std::stop_token stop) {
  struct Enough {};
  double rate = 0;
  std::size_t frames = 0;
  try {
    decodeMono(
        file,
        [&](double decodedRate, const std::vector<float>& mono) {
          rate = decodedRate;
          frames += mono.size();
          if (static_cast<double>(frames) / rate > atMost) throw Enough{};
        },
        std::move(stop));
  } catch (const Enough&) {
    // How much further the sound goes was not asked.
  }
  return static_cast<double>(frames) / rate;
}

MonoPCM decodeMonoPCM(std::shared_ptr<const platform::MediaFile> file) {
  MonoPCM pcm;
  pcm.sampleRate = decodeMono(file,
                              [&](double, const std::vector<float>& mono) {
                                pcm.samples.insert(pcm.samples.end(), mono.begin(), mono.end());
                              },
                              {})
                       .rate;
  return pcm;
}

CountedClock countedClock(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop) {
  return heardThrough([&] { return platform::countedClock(std::move(file), std::move(stop)); });
}

}  // namespace kestrane::AudioAnalyzer
