// What a run that died while writing a package leaves there, and how the next run on the
// package deals with it: hidden files of writers that have gone are removed, those of a running
// writer stay, and a move into place cut off halfway is finished.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::readFile;
using test::recutOf;
using test::snapshot;
using test::StoredPackage;
namespace fs = std::filesystem;

namespace {

// A re-cut that stops as soon as it has the package: all it does is what any run does first.
void startAndStop(const fs::path& session) {
  std::stop_source stopper;
  const auto progress = [&](const Pipeline::Stage&) { stopper.request_stop(); };
  EXPECT_THROW(Pipeline::recut(recutOf(session, CutTightness::natural), progress, stopper.get_token()), Cancelled);
}

// Runs `work` in a child process and returns how it ended.
int inChild(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    work();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

std::set<std::string> hiddenNames(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.') names.insert(name);
  }
  return names;
}

}  // namespace

TEST(PackageLeftovers, HiddenFilesOfWritersThatHaveGoneAreRemovedByTheNextRun) {
  StoredPackage stored;
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
  const auto before = snapshot(stored.package);

  // Killed with two files staged.
  const int killed = inChild([&] {
    Pipeline::detail::StagedFiles staged(stored.package);
    staged.write(stored.package / "talk.fcpxml", std::string(100'000, 'x'));
    staged.write(stored.package / "transcript.md", "half a cut");
    ::raise(SIGKILL);
  });
  ASSERT_TRUE(WIFSIGNALED(killed));
  // A writer that runs on meanwhile (say, placing graphics) keeps its file; so does the user's.
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::close(ready[0]);
    ::close(done[1]);
    const AtomicFile::Aside aside = AtomicFile::createAside(stored.package / "brand-spec.md");
    const std::string name = aside.path().filename().string();
    (void)!::write(ready[1], name.data(), name.size());
    ::close(ready[1]);
    char c;
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(done[0]);
  char name[64] = {};
  ASSERT_GT(::read(ready[0], name, sizeof name - 1), 0);
  ::close(ready[0]);
  const std::string running = name;
  std::ofstream(stored.package / ".kestrane-notes") << "mine";
  ASSERT_EQ(hiddenNames(stored.package).size(), 4u);

  startAndStop(stored.sessionFile);
  EXPECT_EQ(hiddenNames(stored.package), (std::set<std::string>{running, ".kestrane-notes"}));
  for (const auto& [file, bytes] : before) EXPECT_EQ(readFile(stored.package / file), bytes) << file;

  ::close(done[1]);
  ::waitpid(writer, nullptr, 0);
}

TEST(PackageLeftovers, AMoveIntoPlaceCutOffHalfwayIsFinishedByTheNextRun) {
  StoredPackage stored;
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
  const fs::path& dir = stored.package;
  const std::string session = readFile(stored.sessionFile);

  // The second of three moves fails (something is in its way) and the run is then ended at once,
  // as a second Ctrl-C ends it: the first file is new, the other two are not.
  fs::remove(dir / "captions.srt");
  fs::create_directories(dir / "captions.srt" / "in the way");
  const int forced = inChild([&] {
    Pipeline::detail::StagedFiles staged(dir);
    staged.write(dir / "talk.fcpxml", "new timeline");
    staged.write(dir / "captions.srt", "new captions");
    staged.write(stored.sessionFile, session + " ");
    staged.removeOnCommit(dir / "transcript.md");
    try {
      staged.commit();
    } catch (const AtomicFile::WriteError&) {
      platform::ScratchFiles::removeAll();
      ::_exit(130);
    }
  });
  ASSERT_EQ(WEXITSTATUS(forced), 130);
  ASSERT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  ASSERT_EQ(readFile(stored.sessionFile), session);

  fs::remove_all(dir / "captions.srt");
  startAndStop(stored.sessionFile);
  EXPECT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  EXPECT_EQ(readFile(dir / "captions.srt"), "new captions");
  EXPECT_EQ(readFile(stored.sessionFile), session + " ");
  EXPECT_FALSE(fs::exists(dir / "transcript.md"));
  EXPECT_TRUE(hiddenNames(dir).empty());
}
