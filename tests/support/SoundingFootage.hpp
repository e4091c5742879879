#pragma once
// Footage that sounds as a made-up session's levels say. A re-cut hears its footage at stretches
// against the levels the session stores, so the footage of a session a test or benchmark makes
// up has to have that sound: a tone whose level in every hop is the stored one.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/platform/WavWriter.hpp"

namespace kestrane::test {

// Writes `wav`: `seconds` of mono sound at `rate` whose level in hop i of `levels` is levels[i]
// (a 440 Hz tone; the last level holds to the end).
inline void writeLevelShapedSound(const std::filesystem::path& wav, int rate, double seconds,
                                  const std::vector<float>& levels, double hopDuration) {
  platform::WavWriter writer(wav.string(), rate);
  const auto total = static_cast<std::int64_t>(std::llround(seconds * rate));
  std::vector<float> block;
  constexpr std::int64_t kBlock = 1 << 16;
  for (std::int64_t done = 0; done < total; done += kBlock) {
    block.resize(static_cast<std::size_t>(std::min(kBlock, total - done)));
    for (std::size_t i = 0; i < block.size(); ++i) {
      const auto n = done + static_cast<std::int64_t>(i);
      const double t = static_cast<double>(n) / rate;
      const auto hop = std::min(static_cast<std::size_t>(t / hopDuration), levels.empty() ? 0 : levels.size() - 1);
      const double level = levels.empty() ? -20.0 : levels[hop];
      // A sine's RMS is its amplitude over √2.
      block[i] = static_cast<float>(std::sqrt(2.0) * std::pow(10.0, level / 20) * std::sin(2 * M_PI * 440 * t));
    }
    writer.write(block.data(), block.size());
  }
  writer.close();
}

// Makes `path` footage as `media` describes it (picture size and rate, or none; sound rate and
// channels; length), sounding as `levels` say, in the container its extension names, with AAC
// sound and the index first where the container has one. Made once per description in the
// temporary folder and copied to `path`, so a test that writes to its footage spoils no other's.
// False when ffmpeg can't make it.
inline bool makeSoundingFootage(const std::filesystem::path& path, const SourceMedia& media,
                                const std::optional<LevelData>& levels) {
  namespace fs = std::filesystem;
  const std::string ext = path.extension().string();
  const int rate = media.audioSampleRate > 0 ? static_cast<int>(std::lround(media.audioSampleRate)) : 48000;
  const int channels = static_cast<int>(media.audioChannelCount.value_or(1));
  const RationalTime frame = media.frameDuration;
  const std::string key = fmt::format("4|{}|{}|{}|{}|{}|{}|{}|{}|{}|{}", ext, media.durationSeconds, media.hasVideo,
                                      media.width, media.height, frame.value, frame.timescale, rate, channels,
                                      levels ? levels->base64 : std::string("-"));
  const fs::path cache = fs::temp_directory_path() / fmt::format("kestrane-test-footage-{}", ::getuid());
  std::error_code ec;
  fs::create_directories(cache, ec);
  const fs::path made = cache / fmt::format("{:016x}{}", std::hash<std::string>{}(key), ext);
  if (!fs::exists(made)) {
    const std::string stem = fmt::format("{}.{}", made.string(), ::getpid());
    const fs::path wav = stem + ".wav", making = stem + ext;
    writeLevelShapedSound(wav, rate, media.durationSeconds, levels ? levels->levelsDBFS() : std::vector<float>{},
                          levels ? levels->hopDuration : 0.01);
    std::string command = "ffmpeg -nostdin -v error -y";
    if (media.hasVideo) {
      // The standard rate the session stores, as ffmpeg's rate of frames.
      const RationalTime standard = RationalTime::standardFrameDuration(1.0 / frame.seconds());
      command += fmt::format(" -f lavfi -i color=c=gray:s={}x{}:r={}/{}", media.width, media.height, standard.timescale,
                             standard.value);
    }
    command += " -i '" + wav.string() + "'";
    if (media.hasVideo) command += " -map 0:v -map 1:a -c:v libx264 -preset ultrafast -tune stillimage";
    // The index first, as a camera or a streaming export writes it: a copy cut off partway still opens.
    if (ext == ".mov" || ext == ".mp4") command += " -movflags +faststart";
    command += fmt::format(" -ac {} -c:a aac -b:a 64k -t {} '{}' >/dev/null 2>&1", channels, media.durationSeconds,
                           making.string());
    const bool ok = std::system(command.c_str()) == 0;
    fs::remove(wav, ec);
    if (!ok) {
      fs::remove(making, ec);
      return false;
    }
    // Another test program may have made it meanwhile: either is the same.
    fs::rename(making, made, ec);
    if (ec) return false;
  }
  fs::copy_file(made, path, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

}  // namespace kestrane::test
