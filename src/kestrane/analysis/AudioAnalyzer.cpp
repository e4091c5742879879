#include "kestrane/analysis/AudioAnalyzer.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/analysis/SilenceDetection.hpp"
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

// Feeds every decoded block, mixed to mono, to `onMono`, and turns the decoder's failures into
// the analyzer's errors. `source` is a path or a held file.
template <typename Source>
MonoDecode decodeMono(const Source& source, const std::function<void(double rate, const std::vector<float>&)>& onMono,
                      std::stop_token stop) {
  double rate = 0;
  std::size_t frames = 0;
  std::vector<float> mono;
  platform::DecodeReport report;
  try {
    report = platform::decodeAudio(
        source,
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
  } catch (const platform::NoAudioStreamError&) {
    throw AnalyzerError::noAudioTrack();
  } catch (const platform::FileReadError& e) {
    throw AnalyzerError::unreadable(e.what());
  } catch (const platform::AudioDecodeError& e) {
    throw AnalyzerError::decodeFailed(e.what());
  } catch (const platform::SoundJumpError& e) {
    throw AnalyzerError::damaged(e.what());
  }
  if (!(rate > 0)) throw AnalyzerError::decodeFailed("no audio samples decoded");
  return {rate, frames, std::move(report)};
}

}  // namespace

std::string temporaryWAVPath() { return platform::ScratchFiles::create("audio", ".wav"); }

namespace {

template <typename Source>
AudioExtraction decodeInto(const Source& source, const std::string& wavURL, std::stop_token stop, int wavSampleRate) {
  std::optional<LevelMeter> meter;
  std::unique_ptr<platform::WavWriter> wav;
  std::unique_ptr<platform::MonoResampler> resampler;
  std::vector<std::int16_t> converted;
  MonoDecode decoded;
  try {
    decoded = decodeMono(
        source,
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

AudioExtraction streamDecode(const std::string& url, const std::string& wavURL, std::stop_token stop,
                             int wavSampleRate) {
  return decodeInto(url, wavURL, std::move(stop), wavSampleRate);
}

AudioExtraction extractAudio(const std::string& url, std::stop_token stop, int wavSampleRate) {
  return decodeInto(url, temporaryWAVPath(), std::move(stop), wavSampleRate);
}

AudioExtraction extractAudio(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop, int wavSampleRate) {
  return decodeInto(file, temporaryWAVPath(), std::move(stop), wavSampleRate);
}

namespace {

template <typename Source>
LevelTrack levelsOf(const Source& source, std::stop_token stop) {
  std::optional<LevelMeter> meter;
  decodeMono(
      source,
      [&](double rate, const std::vector<float>& mono) {
        if (!meter) meter.emplace(rate, true);
        meter->push(mono.data(), mono.size());
      },
      stop);
  return meter->take();
}

}  // namespace

LevelTrack measureLevels(const std::string& url, std::stop_token stop) { return levelsOf(url, std::move(stop)); }

LevelTrack measureLevels(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop) {
  return levelsOf(file, std::move(stop));
}

double decodedSeconds(const std::string& url, double atMost, std::stop_token stop) {
  struct Enough {};
  double rate = 0;
  std::size_t frames = 0;
  try {
    decodeMono(
        url,
        [&](double decodedRate, const std::vector<float>& mono) {
          rate = decodedRate;
          frames += mono.size();
          if (static_cast<double>(frames) / rate > atMost) throw Enough{};
        },
        stop);
  } catch (const Enough&) {
    // How much further the sound goes was not asked.
  }
  return static_cast<double>(frames) / rate;
}

MonoPCM decodeMonoPCM(const std::string& url) {
  MonoPCM pcm;
  pcm.sampleRate = decodeMono(url,
                              [&](double, const std::vector<float>& mono) {
                                pcm.samples.insert(pcm.samples.end(), mono.begin(), mono.end());
                              },
                              {})
                       .rate;
  return pcm;
}

CountedClock countedClock(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop) {
  return decodeMono(
             file, [](double, const std::vector<float>&) {}, std::move(stop))
      .report.countedClock;
}

std::vector<SilenceSpan> detectSilences(const std::string& url, const PipelineSettings& settings) {
  return silences(measureLevels(url), settings.silenceThresholdDBFS, settings.minSilenceDuration);
}

}  // namespace kestrane::AudioAnalyzer
