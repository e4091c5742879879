// What a run that died while writing a package leaves there, and how the next run on the
// package deals with it: hidden files of writers that have gone are removed, those of a running
// writer stay, and a move into place cut off halfway is finished.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::inChild;
using test::readFile;
using test::recutOf;
using test::snapshot;
using test::StoredPackage;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A re-cut that stops as soon as it has the package: all it does is what any run does first.
void startAndStop(const fs::path& session) {
  std::stop_source stopper;
  const auto progress = [&](const Pipeline::Stage&) { stopper.request_stop(); };
  EXPECT_THROW(Pipeline::recut(recutOf(session, CutTightness::natural), progress, stopper.get_token()), Cancelled);
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
  std::ofstream(stored.package / ".kestrane-backup") << "mine too";
  ASSERT_EQ(hiddenNames(stored.package).size(), 5u);

  startAndStop(stored.sessionFile);
  EXPECT_EQ(hiddenNames(stored.package), (std::set<std::string>{running, ".kestrane-notes", ".kestrane-backup"}));
  for (const auto& [file, bytes] : before) EXPECT_EQ(readFile(stored.package / file), bytes) << file;

  ::close(done[1]);
  ::waitpid(writer, nullptr, 0);
}

TEST(PackageLeftovers, AMoveIntoPlaceCutOffHalfwayIsFinishedByTheNextRun) {
  StoredPackage stored;
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
  const fs::path& dir = stored.package;
  const std::string session = readFile(stored.sessionFile);

  // Killed as it makes the second of three moves (counted from the record's own): the first
  // file is new, the other two are not.
  const int killed = inChild([&] {
    Pipeline::detail::StagedFiles staged(dir);
    staged.write(dir / "talk.fcpxml", "new timeline");
    staged.write(dir / "captions.srt", "new captions");
    staged.write(stored.sessionFile, session + " ");
    staged.removeOnCommit(dir / "transcript.md");
    if (test::killAtRename("/.kestrane.move", 3)) staged.commit();
  });
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  ASSERT_TRUE(WIFSIGNALED(killed));
  ASSERT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  ASSERT_EQ(readFile(stored.sessionFile), session);

  // Opening the package (as the application does before it reads the session) finishes it.
  EXPECT_EQ(Pipeline::openPackage(dir).session, stored.sessionFile);
  EXPECT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  EXPECT_EQ(readFile(dir / "captions.srt"), "new captions");
  EXPECT_EQ(readFile(stored.sessionFile), session + " ");
  EXPECT_FALSE(fs::exists(dir / "transcript.md"));
  EXPECT_TRUE(hiddenNames(dir).empty());
}

// A move record is acted on only when it is one this program writes: moves of its own staged
// files to package file names, removals of package files. Anything else (a user's file, the
// lock, a record too large to be one) is set aside with a warning and nothing it names is
// touched. A lock file that is not a plain file is never gone past unlocked.
TEST(PackageLeftovers, ARecordOrLockNotOfThisProgramsMakingIsNeverActedOn) {
  StoredPackage stored;
  const fs::path& dir = stored.package;
  std::ofstream(dir / "notes.txt") << "the editor's notes";
  const std::string header("kestrane move 1\0", 16);
  for (const std::string& record :
       {header + "remove\0notes.txt\0"s, header + "remove\0.kestrane.lock\0"s,
        header + "move\0.kestrane-staged-1-0123456789abcdef\0notes.txt\0"s, header + std::string(1 << 20, 'x')}) {
    std::ofstream(dir / ".kestrane-staged-1-0123456789abcdef") << "not a cut";
    std::ofstream(dir / ".kestrane.move", std::ios::binary) << record;
    const Pipeline::Output out = Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
    EXPECT_EQ(readFile(dir / "notes.txt"), "the editor's notes");
    ASSERT_FALSE(out.warnings.empty());
    EXPECT_EQ(out.warnings.front(),
              "The package held a record of an unfinished move that this program can't have written, so it was set "
              "aside as " +
                  (dir / ".kestrane.move-unread").string() + " and nothing it names was moved or removed.");
    EXPECT_EQ(readFile(dir / ".kestrane.move-unread"), record);
    EXPECT_FALSE(fs::exists(dir / ".kestrane.move"));
  }

  fs::remove(dir / ".kestrane.move-unread");
  const auto before = snapshot(dir);
  const std::string lock = (dir / ".kestrane.lock").string();
  const std::string refusal = "Can't lock the package: " + lock +
                              " is not a plain file, so another run could not be kept out — remove it and try again.";
  for (const fs::path& target : {dir / "gone", dir / "notes.txt"}) {
    fs::create_symlink(target, lock);
    try {
      Pipeline::recut(recutOf(stored.sessionFile, CutTightness::tight));
      ADD_FAILURE() << "ran beside a link for a lock";
    } catch (const Pipeline::PipelineError& e) {
      EXPECT_EQ(e.what(), refusal);
    }
    fs::remove(lock);
    EXPECT_EQ(snapshot(dir), before);
  }
  fs::create_directory(lock);
  EXPECT_THROW(Pipeline::placeGraphics(stored.sessionFile), Pipeline::PipelineError);
  fs::remove(lock);
  EXPECT_EQ(snapshot(dir), before);
}
