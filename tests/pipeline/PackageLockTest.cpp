// What a run that died while writing a package leaves there, and how the next run on the
// package deals with it: hidden files of writers that have gone are removed, those of a running
// writer stay, and a move into place cut off halfway is finished.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/MoveRecord.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/MoveRecordFiles.hpp"
#include "pipeline/OtherAccounts.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::hiddenNames;
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

// The user's copy of the session beside it changes nothing; a stop heard while the record is
// judged, a name its move can't be finished on, or the session file it moves onto renamed beside
// it, leaves the record and its files for the next run, and the run says so.
TEST(PackageLeftovers, AMoveIntoPlaceCutOffHalfwayIsFinishedByTheNextRun) {
  StoredPackage stored;
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
  const fs::path& dir = stored.package;
  const std::string session = readFile(stored.sessionFile);
  // Large enough that reading it hears a stop.
  const std::string newSession = session + std::string(3 << 20, ' ');

  // Killed as it makes the second of three moves (counted from the record's own): the first
  // file is new, the other two are not.
  const int killed = inChild([&] {
    Pipeline::detail::StagedFiles staged(dir);
    staged.write(dir / "talk.fcpxml", "new timeline");
    staged.write(dir / "captions.srt", "new captions");
    staged.write(stored.sessionFile, newSession);
    staged.removeOnCommit(dir / "transcript.md");
    if (test::killAtRename("/.kestrane.move", 3)) staged.commit();
  });
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  ASSERT_TRUE(WIFSIGNALED(killed));
  ASSERT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  ASSERT_EQ(readFile(stored.sessionFile), session);

  const auto mixed = snapshot(dir);
  {
    std::stop_source stopper;
    stopper.request_stop();
    const StopScope stopping(stopper.get_token());
    EXPECT_THROW(Pipeline::detail::PackageLock{dir}, Cancelled);
  }
  EXPECT_EQ(snapshot(dir), mixed);

  // The session it moves onto, renamed by the user: finished under the old name it would leave
  // two sessions, set aside the package would stay mixed.
  const fs::path renamed = dir / "My edit.kestrane.json";
  fs::rename(stored.sessionFile, renamed);
  const auto beforeRenamedBack = snapshot(dir);
  try {
    Pipeline::openPackage(dir);
    ADD_FAILURE() << "finished a move onto a session that was renamed";
  } catch (const Pipeline::PackageUnlockable& e) {
    EXPECT_EQ(e.what(),
              (dir / ".kestrane.move").string() +
                  " records a move into place that a Kestrane run was interrupted in, onto the session file " +
                  stored.sessionFile.string() +
                  ", which is no longer in the folder, so the record and the files not yet moved were left "
                  "as they are — rename " +
                  renamed.string() + " back to talk.kestrane.json and try again.");
  }
  EXPECT_EQ(snapshot(dir), beforeRenamedBack);
  fs::rename(renamed, stored.sessionFile);

  // A name in its way, the first it moves onto or a later one, is found before anything moves.
  fs::copy_file(stored.sessionFile, dir / "talk copy.kestrane.json");
  const std::string inTheWay = " can't take its file (Is a directory), so the record and the files not yet moved were ";
  // The user moves what the name held out of the folder and back, as its record knows it.
  const fs::path outside = stored.root.path() / "kept aside";
  for (const fs::path& name : {dir / "captions.srt", stored.sessionFile}) {
    fs::rename(name, outside);
    fs::create_directory(name);
    const auto blocked = snapshot(dir);
    try {
      Pipeline::openPackage(dir);
      ADD_FAILURE() << "finished a move with a folder in its way";
    } catch (const Pipeline::PackageUnlockable& e) {
      EXPECT_EQ(e.what(), (dir / ".kestrane.move").string() +
                              " records a move into place that a Kestrane run was interrupted in, and " +
                              name.string() + inTheWay + "left as they are — move " + name.string() +
                              " out of the folder and try again.");
    }
    EXPECT_EQ(snapshot(dir), blocked);
    fs::remove(name);
    fs::rename(outside, name);
  }

  // Opening the package (as the application does before it reads the session) finishes it.
  const Pipeline::PackageContents opened = Pipeline::openPackage(stored.sessionFile).contents;
  EXPECT_TRUE(opened.warnings.empty());
  EXPECT_EQ(readFile(dir / "talk.fcpxml"), "new timeline");
  EXPECT_EQ(readFile(dir / "captions.srt"), "new captions");
  EXPECT_EQ(readFile(stored.sessionFile), newSession);
  EXPECT_FALSE(fs::exists(dir / "transcript.md"));
  EXPECT_TRUE(hiddenNames(dir).empty());
}

// A move record is acted on only when it is one this program writes: moves of its own staged
// files onto the names this package's files have, removals of those (never of the session), in
// a folder that holds the package. Anything else (a user's file, the lock, a name elsewhere, a
// record too large to be one, a folder) is set aside whole with a warning, under a name that
// replaces no earlier one, and nothing it names is touched; one that can't be set aside stops
// the run with nothing changed. A lock file that is not a plain file is never gone past
// unlocked.
TEST(PackageLeftovers, ARecordOrLockNotOfThisProgramsMakingIsNeverActedOn) {
  StoredPackage stored;
  const fs::path& dir = stored.package;
  const std::string header("kestrane move 2\0", 16);
  const std::string staged = ".kestrane-staged-1-0123456789abcdef", staged2 = ".kestrane-staged-1-fedcba9876543210";
  // Laid out as a record, naming files no folder here holds.
  const auto move = [&](const std::string& from, const std::string& to) {
    return "move\0"s + from + '\0' + to + "\0"s + "32768 0 1 1 1\0none\0"s;
  };
  const auto remove = [](const std::string& name) { return "remove\0"s + name + "\0none\0"s; };
  const auto setAsideAs = [](const fs::path& folder, const std::string& kind, const std::string& name) {
    return "The " + kind + " held a record of an unfinished move that this program can't have written, so it was " +
           "set aside as " + (folder / name).string() + " and nothing it names was moved or removed.";
  };
  const std::vector<std::string> records = {
      header + remove("notes.txt"),
      header + remove(".kestrane.lock"),
      header + move(staged, "notes.txt"),
      header + std::string(1 << 20, 'x'),
      header + remove("My edit.fcpxml"),
      header + move(staged, "My edit.fcpxml") + move(staged2, "talk.kestrane.json"),
      header + move(staged, "talk.fcpxml") + remove("talk.kestrane.json"),
      header + move(staged2, "talk.kestrane.json") + move(staged2, "talk copy.kestrane.json"),
  };
  std::vector<std::string> setAside;
  // Copies of the session beside it: a record still moves only onto one of those.
  fs::copy_file(stored.sessionFile, dir / "talk copy.kestrane.json");
  for (const std::string& record : records) {
    std::ofstream(dir / "notes.txt") << "the editor's notes";
    std::ofstream(dir / "My edit.fcpxml") << "the editor's timeline";
    std::ofstream(dir / staged) << "not a cut";
    fs::copy_file(stored.sessionFile, dir / staged2, fs::copy_options::overwrite_existing);
    std::ofstream(dir / ".kestrane.move", std::ios::binary) << record;
    const Pipeline::Output out = Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural));
    EXPECT_EQ(readFile(dir / "notes.txt"), "the editor's notes");
    EXPECT_EQ(readFile(dir / "My edit.fcpxml"), "the editor's timeline");
    EXPECT_FALSE(fs::exists(dir / "other.kestrane.json"));
    setAside.push_back(setAside.empty() ? ".kestrane.move-unread"
                                        : ".kestrane.move-unread-" + std::to_string(setAside.size() + 1));
    ASSERT_FALSE(out.warnings.empty());
    EXPECT_EQ(out.warnings.front(), setAsideAs(dir, "package", setAside.back()));
    EXPECT_FALSE(fs::exists(dir / ".kestrane.move"));
    // No set-aside record replaces an earlier one.
    for (std::size_t i = 0; i < setAside.size(); ++i) EXPECT_EQ(readFile(dir / setAside[i]), records[i]);
  }
  // One onto a session file the folder no longer holds may be a killed run's whose session was
  // renamed since: it is refused, and stays.
  std::ofstream(dir / ".kestrane.move", std::ios::binary)
      << header + move(staged, "talk.fcpxml") + move(staged2, "other.kestrane.json");
  const auto ontoAnother = snapshot(dir);
  try {
    Pipeline::openPackage(dir / "talk copy.kestrane.json");
    ADD_FAILURE() << "acted on a record onto a session file the folder doesn't hold";
  } catch (const Pipeline::PackageUnlockable& e) {
    EXPECT_TRUE(std::string(e.what()).ends_with(
        "— rename the package's session file back to other.kestrane.json and try again."))
        << e.what();
  }
  EXPECT_EQ(snapshot(dir), ontoAnother);
  fs::remove(dir / ".kestrane.move");
  fs::remove(dir / "talk copy.kestrane.json");

  // A folder in the record's place goes aside whole, with what it holds.
  fs::create_directory(dir / ".kestrane.move");
  std::ofstream(dir / ".kestrane.move" / "precious.txt") << "notes";
  EXPECT_EQ(Pipeline::openPackage(dir).contents.warnings,
            std::vector{setAsideAs(dir, "package", ".kestrane.move-unread-9")});
  EXPECT_EQ(readFile(dir / ".kestrane.move-unread-9" / "precious.txt"), "notes");
  EXPECT_EQ(readFile(dir / ".kestrane.move-unread"), records.front());

  // With no name left to set it aside under, it stays, and so does everything else.
  for (int n = 10; n <= 100; ++n) std::ofstream(dir / (".kestrane.move-unread-" + std::to_string(n))) << n;
  std::ofstream(dir / ".kestrane.move", std::ios::binary) << records.front();
  const auto kept = snapshot(dir);
  try {
    Pipeline::recut(recutOf(stored.sessionFile, CutTightness::tight));
    ADD_FAILURE() << "ran past a record it could not set aside";
  } catch (const Pipeline::PackageUnlockable& e) {
    EXPECT_EQ(e.what(), (dir / ".kestrane.move").string() +
                            " is a record of an unfinished move that this program can't have written, and it couldn't "
                            "be set aside (File exists), so nothing was changed — move it out of the folder and try "
                            "again.");
  }
  EXPECT_EQ(snapshot(dir), kept);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with(".kestrane.move")) fs::remove_all(entry.path());
  }

  // Names elsewhere than in the folder: a record that would finish a first cut's move with plain
  // names is refused whole with a name holding "/".
  const fs::path fresh = stored.root.path() / "Fresh Kestrane.kestrane";
  fs::create_directories(fresh / "sub");
  const fs::path ofX = stored.root.path() / "session of x.json";
  test::storedSession(stored.root.path() / "x.mov").write(ofX);
  for (const auto& [timeline, session] :
       {std::pair("../x"s, "../x"s), {"sub/x"s, "sub/x"s}, {"x"s, "sub/x"s}, {"x"s, "../x"s}, {"x"s, "x"s}}) {
    std::ofstream(fresh / staged) << "a timeline";
    fs::copy_file(ofX, fresh / staged2, fs::copy_options::overwrite_existing);
    test::writeRecord(fresh,
                      test::recordIn(fresh, {{staged, timeline + ".fcpxml"}, {staged2, session + ".kestrane.json"}}));
    const Pipeline::detail::PackageLock lock(fresh);
    if (session == "x") {
      EXPECT_TRUE(lock.warnings().empty());
      EXPECT_EQ(readFile(fresh / "x.kestrane.json"), readFile(ofX));
      continue;
    }
    EXPECT_EQ(lock.warnings(), std::vector{setAsideAs(fresh, "package", ".kestrane.move-unread")}) << session;
    EXPECT_FALSE(fs::exists(fresh / (timeline + ".fcpxml")));
    EXPECT_FALSE(fs::exists(fresh / (session + ".kestrane.json")));
    fs::remove(fresh / ".kestrane.move-unread");
  }

  // A session kept in a folder that is not a package: a record beside it is never acted on.
  const fs::path plain = stored.root.path() / "plain";
  fs::create_directories(plain);
  fs::copy_file(stored.sessionFile, plain / "talk.kestrane.json");
  std::ofstream(plain / "transcript.md") << "the editor's transcript";
  std::ofstream(plain / staged) << "not a transcript";
  std::ofstream(plain / ".kestrane.move", std::ios::binary) << header + move(staged, "transcript.md");
  EXPECT_EQ(Pipeline::openPackage(plain / "talk.kestrane.json").contents.warnings,
            std::vector{setAsideAs(plain, "folder", ".kestrane.move-unread")});
  EXPECT_EQ(readFile(plain / "transcript.md"), "the editor's transcript");

  // A session file renamed by hand keeps the footage's name on the files a re-cut writes beside
  // it: a move of those is finished.
  const fs::path renamed = dir / "my edit.kestrane.json";
  fs::rename(stored.sessionFile, renamed);
  std::ofstream(dir / staged) << "a timeline";
  fs::copy_file(renamed, dir / staged2);
  test::writeRecord(dir, test::recordIn(dir, {{staged, "talk.fcpxml"}, {staged2, "my edit.kestrane.json"}}));
  EXPECT_TRUE(Pipeline::openPackage(dir).contents.warnings.empty());
  EXPECT_EQ(readFile(dir / "talk.fcpxml"), "a timeline");
  // The user's own file named after the renamed session is none of the package's: a record that
  // removes or replaces it is set aside, and graphics are placed on the footage's timeline.
  std::ofstream(dir / "my edit.fcpxml") << "the editor's own timeline";
  for (const auto& [moves, removals] :
       {std::pair(test::Moves{}, std::vector{"my edit.fcpxml"s}), {test::Moves{{staged, "my edit.fcpxml"}}, {}}}) {
    std::ofstream(dir / staged) << "a timeline";
    test::writeRecord(dir, test::recordIn(dir, moves, removals));
    EXPECT_EQ(Pipeline::openPackage(dir).contents.warnings,
              std::vector{setAsideAs(dir, "package", ".kestrane.move-unread")});
    EXPECT_EQ(readFile(dir / "my edit.fcpxml"), "the editor's own timeline");
    fs::remove(dir / ".kestrane.move-unread");
  }
  Pipeline::recut(recutOf(renamed, CutTightness::natural));
  EXPECT_EQ(Pipeline::placeGraphics(renamed).fcpxmlURL, dir / "talk.fcpxml");
  EXPECT_EQ(readFile(dir / "my edit.fcpxml"), "the editor's own timeline");
  fs::remove(dir / "my edit.fcpxml");
  fs::rename(renamed, stored.sessionFile);

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

using test::lockAs;
using test::whileLockedBy;
using enum test::LockOutcome;

// Two users writing one shared package (group-writable, the group kept by the folder), each
// with a umask that keeps their files to themselves: the lock one of them made still keeps the
// other out, one left by a run that was killed is taken, and one the other can't open is refused
// with the way out, never gone past.
TEST(PackageLeftovers, ALockKeepsOutEveryUserWhoCanWriteThePackage) {
  test::TempDir root;
  const fs::path dir = root.path() / "Shared Kestrane.kestrane";
  fs::create_directories(dir);
  const uid_t first = 65534, second = 65533;
  const gid_t group = 65534;
  if (::chown(dir.c_str(), 0, group) != 0 || ::chmod(dir.c_str(), 02775) != 0) GTEST_SKIP() << "can't share a folder";
  const int cwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::chdir(dir.c_str()), 0);

  bool holding = false;
  int beside = -1;
  const int held = whileLockedBy(first, group, [&] {
    holding = true;
    beside = lockAs(second, group);
  });
  if (held == notAsThatUser) {
    (void)!::fchdir(cwd);
    GTEST_SKIP() << "can't act as two ordinary users here";
  }
  EXPECT_TRUE(holding);
  EXPECT_EQ(beside, kept) << "ran beside another user's run";

  // A run killed while it held the lock leaves its file, which the other user takes.
  const int killed = inChild([&] {
    if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(first) != 0) ::_exit(notAsThatUser);
    ::umask(077);
    const Pipeline::detail::PackageLock lock(".");
    ::raise(SIGKILL);
  });
  EXPECT_TRUE(WIFSIGNALED(killed));
  EXPECT_TRUE(fs::exists(dir / ".kestrane.lock"));
  EXPECT_EQ(lockAs(second, group), locked);

  // A lock file the other user can't open.
  std::ofstream(dir / ".kestrane.lock") << "";
  ASSERT_EQ(::chown((dir / ".kestrane.lock").c_str(), first, group), 0);
  ASSERT_EQ(::chmod((dir / ".kestrane.lock").c_str(), 0600), 0);
  const auto before = snapshot(dir);
  std::string refusal;
  EXPECT_EQ(lockAs(second, group, &refusal), refused);
  EXPECT_EQ(refusal,
            "Can't lock the package: this user can't open ./.kestrane.lock (Permission denied), so another run could "
            "not be kept out — once no Kestrane job is writing the package, remove it (or have its owner remove it) "
            "and try again.");
  EXPECT_EQ(snapshot(dir), before);

  // A user who can't write the package still opens it past a record of another's that can't be
  // set aside there (no run of theirs could replace it), leaves it as it is and says so, whether
  // or not a lock file is there to be held.
  ASSERT_EQ(::chmod((dir / ".kestrane.lock").c_str(), 0666), 0);
  std::ofstream(dir / ".kestrane.move") << "not a record";
  ASSERT_EQ(::chown((dir / ".kestrane.move").c_str(), first, group), 0);
  // Readable by the other user whatever the umask: one it can't read is left for its owner.
  ASSERT_EQ(::chmod((dir / ".kestrane.move").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  // Reached through ".", it is named a folder.
  const std::string leftAsItIs =
      "The folder holds a record of an unfinished move that this program can't have written, ./.kestrane.move, and "
      "nothing can be written there, so it was left as it is and nothing it names was moved or removed.\n";
  for (const bool lockFile : {true, false}) {
    if (!lockFile) fs::remove(dir / ".kestrane.lock");
    std::string said;
    EXPECT_EQ(lockAs(second, group, &said), locked) << lockFile;
    EXPECT_EQ(said, leftAsItIs) << lockFile;
    EXPECT_EQ(readFile(dir / ".kestrane.move"), "not a record");
    EXPECT_EQ(fs::exists(dir / ".kestrane.lock"), lockFile);
  }
  (void)!::fchdir(cwd);
  ::close(cwd);
}

// A shared package (group-writable, the group kept by the folder) that one member's re-cut was
// killed in as it moved its files into place: the next run of another member finishes the move
// as the owner's own next run would, and says so, so the package is never left mixed. Where that
// member can't read the record, or the folder lets only a file's owner move it, the record stays
// for its owner, nothing is changed and the run stops saying the package may be mixed. The owner's own next run
// finishes it whatever umasks it was written under (000 included); one another member could have written past the owner
// (through links to the owner's locks) is set aside, and a member's file at a staged name whose move was made is left
// where it is.
TEST(PackageLeftovers, AMoveAnotherAccountsRunLeftHalfwayIsFinishedOrLeftForThatAccount) {
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  test::TempDir root;
  const fs::path dir = root.path() / "Shared Kestrane.kestrane";
  fs::create_directories(dir);
  const uid_t first = 65534, second = 65533;
  const gid_t group = 65534;
  if (::chown(dir.c_str(), 0, group) != 0) GTEST_SKIP() << "can't share a folder";
  test::storedSession(root.path() / "talk.mov").write(dir / "talk.kestrane.json");
  const std::string session = readFile(dir / "talk.kestrane.json");
  const int cwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::chdir(dir.c_str()), 0);

  // The first member's re-cut under `umask`, over a cut of theirs made under `earlierUmask`:
  // killed once its timeline is in place and before the rest is, or, `afterSession`, once every
  // file is in place and before its record goes.
  const auto killedMidMove = [&](mode_t folderMode, mode_t umask, mode_t earlierUmask = 022,
                                 bool afterSession = false) {
    for (const auto& e : fs::directory_iterator(".")) fs::remove(e.path());
    std::ofstream("talk.kestrane.json") << session;
    std::ofstream("talk.fcpxml") << "natural timeline";
    std::ofstream("transcript.md") << "natural transcript";
    for (const char* name : {"talk.kestrane.json", "talk.fcpxml", "transcript.md"}) {
      (void)!::chown(name, first, group);
      ::chmod(name, 0666 & ~earlierUmask);
    }
    ::chmod(".", folderMode);
    const int killed = inChild([&] {
      if (::setgroups(1, &group) != 0 || ::setgid(group) != 0 || ::setuid(first) != 0) ::_exit(notAsThatUser);
      ::umask(umask);
      Pipeline::detail::StagedFiles staged(".");
      staged.write("./talk.fcpxml", "tight timeline");
      staged.write("./transcript.md", "tight transcript");
      staged.write("./talk.kestrane.json", session + " ");
      const bool trapped = afterSession ? test::exitAfterRename("/.kestrane.move", 4, [] { ::raise(SIGKILL); })
                                        : test::killAtRename("/.kestrane.move", 3);
      if (trapped) staged.commit();
    });
    return WIFSIGNALED(killed) && fs::exists(".kestrane.move") && readFile("talk.fcpxml") == "tight timeline" &&
           readFile("transcript.md") == (afterSession ? "tight transcript" : "natural transcript");
  };
  if (!killedMidMove(02775, 002)) {
    (void)!::fchdir(cwd);
    GTEST_SKIP() << "can't act as two ordinary users here";
  }
  // What a run of `uid` that ends as `ended` is told.
  const auto toldTo = [&](uid_t uid, int ended) {
    std::string told;
    EXPECT_EQ(lockAs(uid, group, &told), ended);
    return told;
  };
  EXPECT_EQ(toldTo(second, locked),
            "Finished moving into place the files of a Kestrane run of another account that was interrupted, so the "
            "package holds that run's cut.\n");
  EXPECT_EQ(readFile("transcript.md"), "tight transcript");
  EXPECT_EQ(readFile("talk.kestrane.json"), session + " ");
  EXPECT_EQ(hiddenNames("."), std::set<std::string>{".kestrane.lock"}) << "the lock its run left, and nothing else";

  const std::string record =
      "./.kestrane.move records a move into place that a Kestrane run of another account was "
      "interrupted in, and ";
  const std::string retry =
      ", so nothing was changed — the package may hold parts of two cuts, and a re-cut by that account makes it "
      "whole.";
  for (const auto& [folderMode, umask, why] :
       {std::tuple(03775, 002, "in this folder only that account can finish it"s),
        {02775, 077, "this user can't read ./.kestrane.move (Permission denied)"s}}) {
    ASSERT_TRUE(killedMidMove(static_cast<mode_t>(folderMode), static_cast<mode_t>(umask)));
    const auto before = snapshot(".");
    EXPECT_EQ(toldTo(second, test::mixed), record + why + retry);
    EXPECT_EQ(snapshot("."), before);
    EXPECT_TRUE(fs::exists(".kestrane.move"));
  }
  // A name the move can't be finished on refuses the run as well, and nothing is said finished.
  ASSERT_TRUE(killedMidMove(02775, 002));
  fs::remove("transcript.md");
  fs::create_directory("transcript.md");
  const auto blocked = snapshot(".");
  EXPECT_EQ(toldTo(second, refused),
            "./.kestrane.move records a move into place that a Kestrane run of another account was interrupted in, and "
            "./transcript.md can't take its file (Is a directory), so the record and the files not yet moved were "
            "left as they are — move ./transcript.md out of the folder and try again.");
  EXPECT_EQ(snapshot("."), blocked);
  fs::remove("transcript.md");

  // A member who can write nothing there can't finish it either: it stays, and the run stops
  // saying the package may hold parts of two cuts and who can make it whole.
  ASSERT_TRUE(killedMidMove(02775, 002));
  ::chmod(".", 0755);
  const auto before = snapshot(".");
  const std::string leftAsItIs =
      " was interrupted in, and this user can write nothing in the folder, so it was left as it is — the package may "
      "hold parts of two cuts, and a re-cut by an account that can write it makes it whole.";
  EXPECT_EQ(toldTo(second, test::mixed),
            "./.kestrane.move records a move into place that a Kestrane run of another account" + leftAsItIs);
  EXPECT_EQ(snapshot("."), before);
  // Nor can the member whose run it was.
  EXPECT_EQ(toldTo(first, test::mixed), "./.kestrane.move records a move into place that a Kestrane run" + leftAsItIs);
  EXPECT_EQ(snapshot("."), before);

  // Its owner's next run finishes its own record silently and whole, in a folder of theirs that
  // is private, shared or sticky, whatever umasks the cut and the re-cut were made under (a login
  // shell's 002 over another session's 022, say), killed before its session moved or after.
  ASSERT_EQ(::chown(".", first, group), 0);
  for (const mode_t folderMode : {0755, 02775, 03775}) {
    for (const mode_t earlierUmask : {022, 077}) {
      for (const mode_t umask : {002, 000}) {
        for (const bool afterSession : {false, true}) {
          std::ostringstream row;
          row << std::oct << "folder " << folderMode << ", umask " << earlierUmask << " then " << umask << ", killed "
              << (afterSession ? "after" : "before") << " the session's move";
          ASSERT_TRUE(killedMidMove(folderMode, umask, earlierUmask, afterSession)) << row.str();
          EXPECT_EQ(toldTo(first, locked), "") << row.str();
          EXPECT_EQ(readFile("transcript.md"), "tight transcript") << row.str();
          EXPECT_TRUE(readFile("talk.kestrane.json") == session + " ") << row.str();
          EXPECT_EQ(hiddenNames("."), std::set<std::string>{".kestrane.lock"}) << row.str();
        }
      }
    }
  }
  ASSERT_EQ(::chown(".", 0, group), 0);
  ASSERT_TRUE(killedMidMove(03775, 022));
  EXPECT_EQ(toldTo(first, locked), "");
  EXPECT_EQ(readFile("transcript.md"), "tight transcript");

  // There another member may write nothing of the owner's but the lock, which every account may.
  // A record written through a link to it, that moves the member's own session into place, is
  // never acted on as the owner's.
  // The owner's package as their last cut left it.
  const auto ownersCut = [&] {
    for (const auto& e : fs::directory_iterator(".")) fs::remove(e.path());
    std::ofstream("talk.kestrane.json") << session;
    std::ofstream("talk.fcpxml") << "natural timeline";
    for (const char* name : {"talk.kestrane.json", "talk.fcpxml"}) (void)!::chown(name, first, group);
  };
  ownersCut();
  ASSERT_EQ(::chown(".", first, group), 0);
  ASSERT_EQ(::chmod(".", 03775), 0);
  const auto asSecond = [&](const std::function<bool()>& act) { return test::asAccount(second, group, 022, act); };
  // The member's link `name` to the lock of one of the owner's runs, made while it runs; the
  // run takes its lock away as it ends, so each run's is another file.
  const auto linkToLock = [&](const char* name) {
    bool linked = false;
    whileLockedBy(first, group, [&] { linked = asSecond([&] { return ::link(".kestrane.lock", name) == 0; }); });
    fs::remove(".kestrane.lock");
    return linked;
  };
  // A session of the member's own, at `name`.
  const auto membersSession = [&](const std::string& name) {
    return asSecond([&] { return static_cast<bool>(std::ofstream(name) << session << "  "); });
  };
  // `bytes` written by the member through its link `link`, which it then links as `as`.
  const auto writeThrough = [&](const char* link, const std::string& bytes, const std::string& as) {
    return test::writeThroughAndLink(second, group, link, bytes, as);
  };
  // Set aside, and as it may be a run's own, the run stops saying the package may be mixed.
  const std::string setAside =
      "The folder held a record of an unfinished move that an account other than its owner could have written, so "
      "it was set aside as ./.kestrane.move-unread and nothing it names was moved or removed — the package may hold "
      "parts of two cuts, and running the re-cut again makes it whole.";
  ASSERT_TRUE(linkToLock(".keep"));
  const std::string staged = ".kestrane-staged-1-0123456789abcdef";
  ASSERT_TRUE(membersSession(staged));
  // Naming the files as they stand, as the owner's run would.
  const std::string forged = test::recordIn(".", {{staged, "talk.kestrane.json"}});
  ASSERT_TRUE(writeThrough(".keep", forged, ".kestrane.move"));
  EXPECT_EQ(toldTo(first, test::mixed), setAside);
  EXPECT_EQ(readFile("talk.kestrane.json"), session);
  EXPECT_EQ(readFile(".kestrane.move-unread"), forged);

  // Both the record and the session it moves written through links to two of the owner's locks:
  // each file is the owner's, but every account may write it.
  ownersCut();
  ASSERT_TRUE(linkToLock(".keep"));
  ASSERT_TRUE(linkToLock(".keep too"));
  ASSERT_TRUE(writeThrough(".keep too", session + "  ", staged));
  ASSERT_TRUE(writeThrough(".keep", test::recordIn(".", {{staged, "talk.kestrane.json"}}), ".kestrane.move"));
  EXPECT_EQ(toldTo(first, test::mixed), setAside);
  EXPECT_TRUE(readFile("talk.kestrane.json") == session);

  // The owner's own record, killed once every file moved, still names its staged session, which
  // is free: the member's own session written there is never put in place, and stays where it
  // is, while the record is finished.
  ASSERT_TRUE(killedMidMove(03775, 022, 022, true));
  const auto owners = Pipeline::detail::parsedRecord(readFile(".kestrane.move"));
  ASSERT_TRUE(owners);
  std::string stagedSession;
  for (const auto& move : owners->moves) {
    if (move.to == "talk.kestrane.json") stagedSession = move.from;
  }
  ASSERT_TRUE(membersSession(stagedSession));
  EXPECT_EQ(toldTo(first, locked), "");
  EXPECT_TRUE(readFile("talk.kestrane.json") == session + " ");
  EXPECT_TRUE(readFile(stagedSession) == session + "  ");
  EXPECT_FALSE(fs::exists(".kestrane.move"));
  (void)!::chown(".", 0, group);
  (void)!::fchdir(cwd);
  ::close(cwd);
}

// A first cut killed as it made its first rename left only hidden files in its new package
// folder: opening that folder clears them away and says so, and the next cut into the same
// folder takes the name back instead of going to "… Kestrane 2".
TEST(PackageLeftovers, AFirstCutStoppedBeforeItsFirstFileWasInPlaceLeavesNothingBehind) {
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  StoredPackage stored;
  Pipeline::RecutRequest asNew = recutOf(stored.sessionFile, CutTightness::natural);
  asNew.projectName = "Fresh";
  const fs::path fresh = stored.root.path() / "Fresh Kestrane.kestrane";
  const auto killFirstCut = [&] {
    const int killed = inChild([&] {
      if (test::killAtRename("/.kestrane.move", 1)) Pipeline::recut(asNew);
    });
    ASSERT_TRUE(WIFSIGNALED(killed));
    ASSERT_FALSE(hiddenNames(fresh).empty());
    for (const auto& e : fs::directory_iterator(fresh)) EXPECT_EQ(e.path().filename().string()[0], '.');
  };

  killFirstCut();
  const std::size_t staged = hiddenNames(fresh).size() - 1;  // all but the lock
  try {
    Pipeline::openPackage(fresh);
    ADD_FAILURE() << "found a session in a stopped first cut";
  } catch (const Pipeline::NoSessionFound& e) {
    EXPECT_EQ(e.warnings(), std::vector{"Removed " + std::to_string(staged) +
                                        " hidden files that a Kestrane run stopped before any of its files was in "
                                        "place left in " +
                                        fresh.string() + ", and then the folder, which held nothing else."});
  }
  EXPECT_FALSE(fs::exists(fresh));

  killFirstCut();
  const Pipeline::Output out = Pipeline::recut(asNew);
  EXPECT_EQ(out.packageDir, fresh);
  const std::string said = "Removed " + std::to_string(staged) +
                           " hidden files that a Kestrane run stopped before any of its files was in place left in " +
                           fresh.string() + ", and wrote this cut there.";
  EXPECT_NE(std::find(out.warnings.begin(), out.warnings.end(), said), out.warnings.end());
  EXPECT_TRUE(hiddenNames(fresh).empty());
  EXPECT_FALSE(fs::exists(stored.root.path() / "Fresh Kestrane 2.kestrane"));

  // A folder that holds anything beside such hidden files is not taken back: the cut goes to
  // "… 2", and what the folder holds stays.
  fs::remove_all(fresh);
  killFirstCut();
  std::ofstream(fresh / "talk.fcpxml") << "an earlier package's timeline";
  const auto kept = snapshot(fresh);
  EXPECT_EQ(Pipeline::recut(asNew).packageDir, stored.root.path() / "Fresh Kestrane 2.kestrane");
  EXPECT_EQ(snapshot(fresh), kept);
}
