#pragma once
// Helpers shared by the pipeline and command-line tests.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Names of the entries in the system's temporary folder that start with `prefix`.
inline std::set<std::string> tempEntries(const std::string& prefix) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.insert(name);
  }
  return names;
}

inline std::filesystem::path sampleFootage() {
  return std::filesystem::path(KESTRANE_SOURCE_DIR) / "fixtures" / "sample-presenter.mp4";
}
inline std::filesystem::path sampleScript() {
  return std::filesystem::path(KESTRANE_SOURCE_DIR) / "fixtures" / "sample-script.txt";
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs ffmpeg quietly on `arguments` (its inputs, options and output file, paths quoted);
// false when it fails.
inline bool ffmpeg(const std::string& arguments) {
  return std::system(("ffmpeg -nostdin -v error -y " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// `path` in single quotes, for a shell command.
inline std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Every entry under `dir`, hidden ones included, with each file's bytes: what "untouched" means
// for a package.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    files[std::filesystem::relative(e.path(), dir).string()] = e.is_regular_file() ? readFile(e.path()) : "";
  }
  return files;
}

// The settings the application sends: AI off, the fast full cut.
inline PipelineSettings appSettings() {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.aiAdjudication = false;
  s.thoroughness = Thoroughness::fast;
  return s;
}

// A made-up analysis: words spoken at the given times, loud while speaking and quiet between,
// over a source file that need not exist (a run trusts a prepared analysis).
inline Pipeline::Analysis syntheticAnalysis(const std::vector<TranscriptWord>& words, double duration = 20.0) {
  Pipeline::Analysis a;
  a.source.path = "/nonexistent/footage/talk.mov";
  a.source.durationSeconds = duration;
  a.source.frameDuration = {1, 25};
  a.source.width = 1920;
  a.source.height = 1080;
  a.source.hasVideo = true;
  a.source.audioSampleRate = 48000;
  a.source.audioChannelCount = 1;
  std::vector<float> levels(static_cast<std::size_t>(duration * 100), -70.0f);
  for (const TranscriptWord& w : words) {
    for (auto i = static_cast<std::size_t>(w.range.start * 100);
         i < static_cast<std::size_t>(w.range.end * 100) && i < levels.size(); ++i)
      levels[i] = -18.0f;
  }
  a.levels = LevelData::fromLevels(0.01, levels);
  a.transcript.words = words;
  return a;
}

// Words of one sentence, 0.4 s each with 0.1 s between, starting at `start`.
inline std::vector<TranscriptWord> spoken(const std::string& sentence, double start) {
  std::vector<TranscriptWord> words;
  std::size_t pos = 0;
  while (pos < sentence.size()) {
    std::size_t end = sentence.find(' ', pos);
    if (end == std::string::npos) end = sentence.size();
    words.push_back({sentence.substr(pos, end - pos), {start, start + 0.4}});
    start += 0.5;
    pos = end + 1;
  }
  return words;
}

}  // namespace kestrane::test
