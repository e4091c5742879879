// Kestrane's scratch files: named after the process that made them, taken away by a forced
// exit, and swept from the temporary folder once their process is gone.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/platform/SpeechDecoder.hpp"

namespace fs = std::filesystem;
using namespace kestrane::platform;

namespace {

void touch(const fs::path& path) { std::ofstream(path) << "scratch"; }

// The id of a process that has ended.
pid_t endedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

}  // namespace

TEST(ScratchFiles, TheSweepTakesOnlyFilesOfEndedProcesses) {
  const fs::path folder = fs::temp_directory_path() / "sweep";
  fs::create_directories(folder);
  const std::string gone = std::to_string(endedProcess());
  const std::string alive = std::to_string(::getppid());
  const std::string self = std::to_string(::getpid());

  const std::vector<std::string> orphans = {"kestrane-audio-" + gone + "-6F1C.wav",
                                            "kestrane-dictionary-" + gone + "-a8Xk2q",
                                            "kestrane-hesitations-" + gone + "-Zq81Lm"};
  const std::vector<std::string> kept = {"kestrane-audio-" + alive + "-6F1C.wav",  // its process runs
                                         "kestrane-audio-" + self + "-77.wav",     // ours
                                         "kestrane-audio-6F1C-1234.wav",           // named before names carried the pid
                                         "kestrane-graphics-" + gone + "-1",       // not a kind the sweep knows
                                         "kestrane-audio-" + gone,                 // no separator after the pid
                                         "notes-" + gone + ".txt",
                                         ".kestrane-" + gone + "-x"};
  for (const auto& name : orphans) touch(folder / name);
  for (const auto& name : kept) touch(folder / name);
  fs::create_directories(folder / ("kestrane-audio-" + gone + "-folder"));

  EXPECT_EQ(ScratchFiles::sweepOrphans(folder), orphans.size());
  for (const auto& name : orphans) EXPECT_FALSE(fs::exists(folder / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(folder / name)) << name;
  EXPECT_TRUE(fs::exists(folder / ("kestrane-audio-" + gone + "-folder"))) << "only files go";
  EXPECT_EQ(ScratchFiles::sweepOrphans(folder / "missing"), 0u);
}

// What a forced exit runs: every remembered file goes, newest first, then folders left empty.
TEST(ScratchFiles, AForcedExitTakesRememberedFilesAndTheirFolders) {
  const fs::path folder = fs::temp_directory_path() / "forced";
  const fs::path package = folder / "Talk Kestrane.kestrane";
  fs::create_directories(package);
  ScratchFiles::add(package.string());
  ScratchFiles::add((package / ".kestrane-aside").string());
  touch(package / ".kestrane-aside");
  ScratchFiles::add((folder / "moved.mp4").string());
  touch(folder / "moved.mp4");
  ScratchFiles::forget((folder / "moved.mp4").string());
  const fs::path busy = folder / "busy";
  fs::create_directories(busy);
  touch(busy / "kept");
  ScratchFiles::add(busy.string());

  ScratchFiles::removeAll();
  EXPECT_FALSE(fs::exists(package));
  EXPECT_TRUE(fs::exists(folder / "moved.mp4")) << "forgotten once moved into place";
  EXPECT_TRUE(fs::exists(busy / "kept")) << "a folder with other files stays";
}

// The recognizer's word list carries the pid, and is registered for a forced exit.
TEST(ScratchFiles, TheRecognizersWordListIsNamedForItsProcess) {
  const SpeechModel model = SpeechModel::usEnglish();
  if (!model.missingFiles().empty()) GTEST_SKIP() << "no speech model installed";
  const std::string prefix = ScratchFiles::namePrefix("dictionary");
  EXPECT_EQ(prefix, "kestrane-dictionary-" + std::to_string(::getpid()) + "-");
  const auto listed = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
      n += e.path().filename().string().starts_with(prefix);
    return n;
  };
  {
    SearchDictionary dictionary(model);
    EXPECT_EQ(listed(), 1);
    ScratchFiles::removeAll();
    EXPECT_EQ(listed(), 0) << "a forced exit takes it";
  }
  EXPECT_EQ(listed(), 0);
}
