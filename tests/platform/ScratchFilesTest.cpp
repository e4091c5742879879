// Kestrane's scratch files: named after the process that made them, held while in use, taken
// away by a forced exit, and swept from the temporary folder once nothing holds them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <thread>

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

// Another process holding a file's lock, as a running cut holds its scratch files (in this pid
// namespace or another), until it goes.
class Holder {
 public:
  explicit Holder(const fs::path& path) {
    int ready[2], done[2];
    if (::pipe(ready) != 0 || ::pipe(done) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(done[1]);
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
      const char held = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      (void)!::write(ready[1], &held, 1);
      char c;
      (void)!::read(done[0], &c, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char held = 'n';
    (void)!::read(ready[0], &held, 1);
    ::close(ready[0]);
    release_ = done[1];
    EXPECT_EQ(held, 'y');
  }
  ~Holder() {
    ::close(release_);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};

std::set<std::string> names(const fs::path& folder) {
  std::set<std::string> found;
  for (const auto& e : fs::directory_iterator(folder)) found.insert(e.path().filename().string());
  return found;
}

constexpr const char* kUUID = "6F1C0A2B-1D3E-4F5A-8B7C-0123456789AB";

}  // namespace

TEST(ScratchFiles, TheSweepTakesOnlyItsOwnAbandonedFiles) {
  const fs::path folder = fs::temp_directory_path() / "sweep";
  fs::create_directories(folder);
  const std::string gone = std::to_string(endedProcess());
  const std::string self = std::to_string(::getpid());
  const std::string uuid = kUUID;

  // Nothing holds these: their process is gone, or runs but no longer uses them.
  const std::vector<std::string> orphans = {
      "kestrane-audio-" + gone + "-" + uuid + ".wav", "kestrane-dictionary-" + gone + "-" + uuid,
      "kestrane-hesitations-" + gone + "-" + uuid, "kestrane-audio-" + self + "-" + uuid + ".wav"};
  for (const auto& name : orphans) touch(folder / name);
  const fs::path work = folder / ("kestrane-graphics-" + gone + "-" + uuid);
  fs::create_directories(work / "card-00-01" / "frames");
  touch(work / "card-00-01" / "frames" / "frame-0.png");

  const std::vector<std::string> kept = {"kestrane-audio-" + gone + "-my-interview-notes.wav",  // a user's own file
                                         "kestrane-dictionary-" + gone + "-backup.txt",
                                         "kestrane-audio-" + gone + "-" + uuid + ".wav.bak",
                                         "kestrane-audio-" + gone + "-6f1c0a2b-1d3e-4f5a-8b7c-0123456789ab.wav",
                                         "kestrane-audio-6F1C-1234.wav",  // named before names carried the pid
                                         "kestrane-graphics-" + gone + "-" + uuid + "1",
                                         "notes-" + gone + ".txt",
                                         ".kestrane-" + gone + "-x"};
  for (const auto& name : kept) touch(folder / name);
  // Names it makes, but not a regular file, or a link to one.
  fs::create_directories(folder / ("kestrane-audio-" + gone + "-" + uuid.substr(0, 35) + "C.wav"));
  touch(folder / "target.wav");
  fs::create_symlink(folder / "target.wav", folder / ("kestrane-audio-" + gone + "-" + uuid.substr(0, 35) + "D.wav"));
  touch(folder / ("kestrane-graphics-" + gone + "-" + uuid.substr(0, 35) + "E"));
  // Held by a running process: a cut in another pid namespace looks just like this.
  const fs::path live = folder / ("kestrane-audio-" + gone + "-" + uuid.substr(0, 35) + "F.wav");
  const Holder holder(live);
  // Another user's, which even root leaves alone.
  const fs::path theirs = folder / ("kestrane-dictionary-" + gone + "-" + uuid.substr(0, 35) + "A");
  touch(theirs);
  const bool chowned = ::geteuid() == 0 && ::chown(theirs.c_str(), 65534, 65534) == 0;

  std::set<std::string> expected = names(folder);
  for (const auto& name : orphans) expected.erase(name);
  expected.erase(work.filename().string());
  EXPECT_EQ(ScratchFiles::sweepOrphans(folder), orphans.size() + 1);
  EXPECT_EQ(names(folder), expected);
  EXPECT_TRUE(fs::exists(live)) << "held by a running process";
  EXPECT_TRUE(fs::exists(theirs));
  if (!chowned) std::cout << "(another user's file is checked only as root)\n";
  EXPECT_EQ(ScratchFiles::sweepOrphans(folder / "missing"), 0u);
}

// What this process makes is named exactly as the sweep knows it, and held until removed.
TEST(ScratchFiles, MadeFilesAndFoldersAreHeldUntilRemoved) {
  const std::string wav = ScratchFiles::create("audio", ".wav");
  const std::string work = ScratchFiles::createFolder("graphics");
  const fs::path tmp = fs::temp_directory_path();
  EXPECT_EQ(fs::path(wav).parent_path(), tmp);
  EXPECT_TRUE(fs::path(wav).filename().string().starts_with(ScratchFiles::namePrefix("audio")));
  EXPECT_EQ(fs::path(wav).filename().string().size(), ScratchFiles::namePrefix("audio").size() + 36 + 4);
  EXPECT_TRUE(fs::is_directory(work));
  touch(fs::path(work) / "frame.png");

  EXPECT_EQ(ScratchFiles::sweepOrphans(), 0u);
  EXPECT_TRUE(fs::exists(wav));
  EXPECT_TRUE(fs::exists(work));
  // Another process finds them held too.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(static_cast<int>(ScratchFiles::sweepOrphans()));
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  ScratchFiles::remove(wav);
  ScratchFiles::remove(work);
  EXPECT_FALSE(fs::exists(wav));
  EXPECT_FALSE(fs::exists(work));
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

// A forced exit while another thread is making scratch files leaves none of them behind:
// every file is either remembered when the list is emptied or never made.
TEST(ScratchFiles, AForcedExitRacingAFileBeingMadeLeavesNothing) {
  for (int trial = 0; trial < 40; ++trial) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::thread maker([] {
        for (;;) {
          try {
            ScratchFiles::create("audio", ".wav");
          } catch (const ScratchFiles::CreateError&) {
          }
        }
      });
      maker.detach();
      ::usleep(static_cast<useconds_t>(500 + 150 * trial));
      ScratchFiles::removeAllAndExit(130);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    const std::string prefix = "kestrane-audio-" + std::to_string(child) + "-";
    for (const std::string& name : names(fs::temp_directory_path())) {
      ASSERT_FALSE(name.starts_with(prefix)) << name << " outlived the forced exit of trial " << trial;
    }
  }
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
