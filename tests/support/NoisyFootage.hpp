#pragma once
// Footage recorded in a loud room: the same picture and voice under steady noise a few dB below
// the voice, as a fan, tape hiss, wind or traffic leaves it. Its loudness hardly rises and falls.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/LevelMatch.hpp"

namespace kestrane::test {

// Writes `to` (its container by its extension): the picture of `from` copied and its sound under
// ffmpeg's `colour` noise ("white", "pink" or "brown") from `seed`, at `belowDB` under the loud
// level of the voice (AudioAnalyzer::loudLevel), as AAC. The same seed is the same noise. False
// when ffmpeg can't make it.
inline bool underNoise(const std::filesystem::path& from, const std::string& colour, double belowDB, int seed,
                       const std::filesystem::path& to) {
  namespace fs = std::filesystem;
  const fs::path noise = fs::temp_directory_path() /
                         fmt::format("kestrane-test-noise-{}-{}-{}-{}.wav", colour, seed, ::getuid(), ::getpid());
  const auto quoted = [](const fs::path& path) { return "'" + path.string() + "'"; };
  const auto run = [](const std::string& command) {
    return std::system(("ffmpeg -nostdin -v error -y " + command + " >/dev/null 2>&1").c_str()) == 0;
  };
  if (!run(fmt::format("-f lavfi -i anoisesrc=c={}:a=0.2:r=48000:seed={}:d=120 -c:a pcm_f32le {}", colour, seed,
                       quoted(noise))))
    return false;
  double power = 0;
  const std::vector<float> noiseLevels = AudioAnalyzer::measureLevels(MediaProbe::held(noise.string())).levelsDBFS;
  for (const float level : noiseLevels) power += std::pow(10.0, level / 10);
  const double noiseLevel = 10 * std::log10(power / static_cast<double>(noiseLevels.size()));
  const double voice =
      AudioAnalyzer::loudLevel(AudioAnalyzer::measureLevels(MediaProbe::held(from.string())).levelsDBFS);
  const bool made = run(fmt::format(
      "-i {} -i {} -filter_complex '[1:a]volume={}dB[n];[0:a][n]amix=inputs=2:duration=first:normalize=0[a]' -map 0:v? "
      "-map '[a]' -c:v copy -c:a aac -b:a 128k {}",
      quoted(from), quoted(noise), voice - belowDB - noiseLevel, quoted(to)));
  std::error_code ec;
  fs::remove(noise, ec);
  return made;
}

}  // namespace kestrane::test
