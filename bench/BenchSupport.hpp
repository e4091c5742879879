#pragma once
// What several benchmarks build the same way: their scratch folders, the application's settings,
// made-up words for synthetic speech and the reading of the speech they synthesise.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::bench {

// A folder of the benchmark's own in the system's temporary folder, kept between runs so costly
// recordings are made once.
inline std::filesystem::path scratchFolder(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(dir);
  return dir;
}

// The settings the application sends: AI off, the fast full cut.
inline PipelineSettings appSettings() {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.aiAdjudication = false;
  s.thoroughness = Thoroughness::fast;
  return s;
}

// A stand-in for 1080p25 footage with 48 kHz sound, `seconds` long: what a stored session of
// made-up words records as its source.
inline SourceMedia standInFootage(const std::filesystem::path& path, double seconds) {
  SourceMedia source;
  source.path = path.string();
  source.durationSeconds = seconds;
  source.frameDuration = {1, 25};
  source.width = 1920;
  source.height = 1080;
  source.hasVideo = true;
  source.audioSampleRate = 48000;
  return source;
}

// `common` words first, then made-up words of two to four of the syllables until there are
// `size` words. The same generator state gives the same words.
inline std::vector<std::string> madeUpVocabulary(std::mt19937& random, std::vector<std::string> common,
                                                 const std::vector<std::string>& syllables, std::size_t size) {
  std::vector<std::string> words = std::move(common);
  while (words.size() < size) {
    std::string w;
    for (int s = 0, n = 2 + static_cast<int>(random() % 3); s < n; ++s) w += syllables[random() % syllables.size()];
    words.push_back(w);
  }
  return words;
}

// A word as talk spreads them: one time in three one of the first `common` (function) words,
// otherwise any of the rest.
inline const std::string& pickWord(std::mt19937& random, const std::vector<std::string>& words,
                                   std::size_t common = 20) {
  return random() % 3 == 0 ? words[random() % common] : words[common + random() % (words.size() - common)];
}

// The words of `text`, split at white space.
inline std::vector<std::string> split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The samples of a 16-bit WAV file with the plain 44-byte header the synthesis tools write.
inline std::vector<std::int16_t> readPcm16(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 44) std::abort();
  std::vector<std::int16_t> pcm((bytes.size() - 44) / 2);
  std::memcpy(pcm.data(), bytes.data() + 44, pcm.size() * 2);
  return pcm;
}

// A stand-in for the rough cut of an hour of 1080p talk (3 GiB of bytes that look like no other),
// made once and kept in the system's temporary folder between runs; empty when it can't be made.
inline std::filesystem::path hourLongMovie() {
  const std::filesystem::path movie = scratchFolder("kestrane-bench-movie") / "hour rough cut.mp4";
  constexpr std::uintmax_t size = std::uintmax_t{3} << 30;
  std::error_code ec;
  if (std::filesystem::file_size(movie, ec) == size) return movie;
  const std::filesystem::path part = movie.parent_path() / "making.mp4";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(2024);
    std::vector<std::uint64_t> block((8u << 20) / sizeof(std::uint64_t));
    for (std::uintmax_t written = 0; out && written < size; written += block.size() * sizeof(std::uint64_t)) {
      for (auto& word : block) word = random();
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
    if (!out) return {};
  }
  std::filesystem::rename(part, movie, ec);
  return ec ? std::filesystem::path() : movie;
}

}  // namespace kestrane::bench
