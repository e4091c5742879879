// A move record left by a killed run is acted on only where it is provably that run's own and
// this folder's: written by its owner alone, naming the very files the run staged and what each
// name held before. Everything else it names stays as it is, and where the package may be left
// mixed the run says so and stops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/MoveRecord.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/MoveRecordFiles.hpp"
#include "pipeline/OtherAccounts.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::hiddenNames;
using test::inChild;
using test::readFile;
using test::snapshot;
namespace fs = std::filesystem;
using namespace std::string_literals;
using Pipeline::detail::MoveRecord;

namespace {

constexpr std::string_view kMixed =
    " — the package may hold parts of two cuts, and running the re-cut again makes it whole.";
constexpr const char* kPastOwner = "an account other than its owner could have written";
// What the mark of a package that may be mixed says to whoever finds it.
constexpr const char* kMixedMark =
    "A Kestrane run was interrupted while moving this package's files into place, and its move could not be "
    "finished: the package may hold parts of two cuts until it is re-cut.\n";

// What every run that leaves the package in `dir` as it is says while it may be mixed.
std::optional<std::string> mixedNote(const fs::path& dir) {
  return "A Kestrane run was interrupted while moving the files of " + dir.string() +
         " into place, and its move could not be finished" + std::string(kMixed);
}

// The earlier cut of the package in `dir`, whose session is `session`.
void earlierCut(const fs::path& dir, const std::string& session) {
  std::ofstream(dir / "talk.kestrane.json", std::ios::binary | std::ios::trunc) << session;
  std::ofstream(dir / "talk.fcpxml", std::ios::trunc) << "natural timeline";
  std::ofstream(dir / "transcript.md", std::ios::trunc) << "natural transcript";
  std::ofstream(dir / "talk rough cut.mp4", std::ios::trunc) << "earlier movie";
}

// When a re-cut is killed: as it makes its `n`th rename (the record's own is the first, then the
// timeline's, the transcript's and the session's), or just after its session's, before the
// earlier movie goes, or just after its record's, before anything moves.
constexpr int kAfterSession = 0;
constexpr int kAfterRecord = -1;

// What a re-cut does with the file at the movie's name: removes the earlier cut's movie, or sets
// aside a file no run of ours made.
enum class AtTheMoviesName { remove, setAside };
const fs::path kSetAsideMovie = "talk rough cut (not this cut).mp4";

// A re-cut of the package in `dir` (`session` plus a space) under `umask`, by the ordinary
// account `owner` when one is given, killed at `when`; true when it left its record.
bool killedRecut(const fs::path& dir, const std::string& session, int when, mode_t umask = 022, uid_t owner = 0,
                 AtTheMoviesName movie = AtTheMoviesName::remove) {
  const int killed = inChild([&] {
    if (owner != 0 && !test::becomeAccount(owner, test::kSharedGroup)) ::_exit(test::notAsThatUser);
    ::umask(umask);
    Pipeline::detail::StagedFiles staged(dir);
    staged.write(dir / "talk.fcpxml", "tight timeline");
    staged.write(dir / "transcript.md", "tight transcript");
    staged.write(dir / "talk.kestrane.json", session + " ");
    if (movie == AtTheMoviesName::remove) {
      staged.removeOnCommit(dir / "talk rough cut.mp4");
    } else {
      staged.setAside(dir / "talk rough cut.mp4", dir / kSetAsideMovie);
    }
    const auto kill = [] { ::raise(SIGKILL); };
    const bool trapped = when == kAfterSession  ? test::exitAfterRename("/.kestrane.move", 4, kill)
                         : when == kAfterRecord ? test::exitAfterRename("/.kestrane.move", 1, kill)
                                                : test::killAtRename("/.kestrane.move", when);
    if (trapped) staged.commit();
  });
  return WIFSIGNALED(killed) && fs::exists(dir / ".kestrane.move");
}

// True when the package in `dir` is wholly the re-cut, with nothing hidden left.
bool wholeRecut(const fs::path& dir, const std::string& session) {
  return readFile(dir / "talk.fcpxml") == "tight timeline" && readFile(dir / "transcript.md") == "tight transcript" &&
         readFile(dir / "talk.kestrane.json") == session + " " && !fs::exists(dir / "talk rough cut.mp4") &&
         hiddenNames(dir).empty();
}

// The staged name the record in `dir` moves onto `to`.
std::string stagedFor(const fs::path& dir, const std::string& to) {
  const auto record = Pipeline::detail::parsedRecord(readFile(dir / ".kestrane.move"));
  for (const MoveRecord::Move& move : record ? record->moves : std::vector<MoveRecord::Move>{}) {
    if (move.to == to) return move.from;
  }
  return {};
}

// What opening the package in `dir` says, as it would end a command: its warnings, or the
// sentence it stops or is refused on.
std::string openedSaying(const fs::path& dir) {
  try {
    const Pipeline::detail::PackageLock lock(dir);
    std::string said;
    for (const std::string& warning : lock.warnings()) said += warning;
    return said;
  } catch (const Pipeline::PackageMayBeMixed& e) {
    return "stopped: "s + e.what();
  } catch (const Pipeline::PackageUnlockable& e) {
    return "refused: "s + e.what();
  }
}

// Gives the file at `path` a time of whole seconds, as a disk that keeps no finer ones would.
bool toWholeSeconds(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  const timespec whole[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), whole, AT_SYMLINK_NOFOLLOW) == 0;
}

// The record in `dir` of a re-cut killed before its first move, written again as if the first
// `whole` of its staged files had been given whole-second times.
void stagedInWholeSeconds(const fs::path& dir, std::size_t whole) {
  const auto record = Pipeline::detail::parsedRecord(readFile(dir / ".kestrane.move"));
  ASSERT_TRUE(record && record->moves.size() == 3);
  test::Moves moves;
  for (const MoveRecord::Move& move : record->moves) {
    if (moves.size() < whole) {
      ASSERT_TRUE(toWholeSeconds(dir / move.from));
    }
    moves.emplace_back(move.from, move.to);
  }
  test::writeRecord(dir, test::recordIn(dir, moves, {"talk rough cut.mp4"}));
}

// The record in `dir` written again as an earlier build wrote it, with no identities, and given
// `mode`.
void asAnEarlierBuildWroteIt(const fs::path& dir, mode_t mode) {
  const auto genuine = Pipeline::detail::parsedRecord(readFile(dir / ".kestrane.move"));
  ASSERT_TRUE(genuine);
  std::string earlier("kestrane move 1\0", 16);
  for (const MoveRecord::Move& move : genuine->moves) earlier += "move\0"s + move.from + '\0' + move.to + '\0';
  for (const MoveRecord::Removal& removal : genuine->removals) earlier += "remove\0"s + removal.name + '\0';
  test::writeRecord(dir, earlier, mode);
}

// What is said, stopping, of a record set aside in `dir` that may be its run's own.
std::string setAsideMixed(const fs::path& dir, const std::string& why) {
  return "stopped: The package held a record of an unfinished move that " + why + ", so it was set aside as " +
         (dir / ".kestrane.move-unread").string() + " and nothing it names was moved or removed" + std::string(kMixed);
}

// Why a record whose name `name` holds what it can't account for is set aside.
std::string holdsNeither(const fs::path& name) {
  return "can't be proven this folder's, as " + name.string() +
         " holds neither what it held before that run nor the file that run staged for it";
}

// `before`, with its record set aside, the package marked as maybe mixed and nothing else
// changed.
std::map<std::string, std::string> withRecordAside(std::map<std::string, std::string> before) {
  before[".kestrane.move-unread"] = before[".kestrane.move"];
  before.erase(".kestrane.move");
  before[".kestrane.mixed"] = kMixedMark;
  return before;
}

// Opens the package in `dir` expecting its record set aside for `why`, the run stopped and
// nothing else changed, and every later opening to say the package may be mixed; then takes the
// set-aside record and the mark away.
void expectSetAsideWhole(const fs::path& dir, const std::string& why) {
  const auto before = snapshot(dir);
  EXPECT_EQ(openedSaying(dir), setAsideMixed(dir, why));
  EXPECT_EQ(snapshot(dir), withRecordAside(before));
  EXPECT_EQ(Pipeline::mixedPackageNote(dir), mixedNote(dir));
  fs::remove(dir / ".kestrane.move-unread");
  fs::remove(dir / ".kestrane.mixed");
}

}  // namespace

// A package of this user's, its session as `session`.
class MoveRecordProof : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  }

  test::StoredPackage stored;
  const fs::path& dir = stored.package;
  const std::string session = readFile(stored.sessionFile);
};

// Whatever the umask (000 included), the record is writable by its owner alone and has one
// name, and the owner's next run finishes it silently and whole wherever it was killed.
TEST_F(MoveRecordProof, TheOwnersOwnRecordIsFinishedWholeUnderAnyUmask) {
  for (const mode_t umask : {000, 002, 022, 077}) {
    for (const int when : {2, 3, 4, kAfterSession}) {
      std::ostringstream row;
      row << "umask " << std::oct << umask << ", killed at " << std::dec << when;
      earlierCut(dir, session);
      ASSERT_TRUE(killedRecut(dir, session, when, umask)) << row.str();
      struct stat st {};
      ASSERT_EQ(::lstat((dir / ".kestrane.move").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u) << row.str();
      EXPECT_EQ(st.st_nlink, 1u) << row.str();
      EXPECT_EQ(openedSaying(dir), "") << row.str();
      EXPECT_TRUE(wholeRecut(dir, session)) << row.str();
    }
  }
}

// A copy that keeps times (cp -a, or a move to another disk) is finished whole; one that does
// not, a user's file at a name the record removes, an earlier build's record, one with another
// name, and one on a disk with whole-second times can't be proven: each is set aside with
// nothing it names touched, and the run stops saying the package may be mixed. The next re-cut
// makes it whole.
TEST_F(MoveRecordProof, ARecordIsActedOnOnlyWhereItsNamesHoldWhatItKnew) {
  const fs::path copy = stored.root.path() / "Copy Kestrane.kestrane";
  const auto copied = [&](const std::string& options) {
    fs::remove_all(copy);
    return std::system(("cp " + options + " '" + dir.string() + "' '" + copy.string() + "'").c_str()) == 0;
  };

  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  ASSERT_TRUE(copied("-a"));
  EXPECT_EQ(openedSaying(copy), "");
  EXPECT_TRUE(wholeRecut(copy, session));

  ASSERT_TRUE(copied("-r"));
  expectSetAsideWhole(copy, holdsNeither(copy / "talk.fcpxml"));
  Pipeline::recut(test::recutOf(copy / "talk.kestrane.json", CutTightness::tight));
  EXPECT_TRUE(hiddenNames(copy).empty());

  // Killed once its session moved, before the earlier movie went: the user's own movie put there
  // since stays.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, kAfterSession));
  std::ofstream(dir / "talk rough cut.mp4", std::ios::trunc) << "the user's movie";
  expectSetAsideWhole(dir, holdsNeither(dir / "talk rough cut.mp4"));

  // The same record as an earlier build wrote it, with no identities.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  asAnEarlierBuildWroteIt(dir, 0644);
  expectSetAsideWhole(dir,
                      "an earlier version of Kestrane wrote, which names too little of the files it moves to prove it "
                      "its run's own");

  // With another name, which may be in another package.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  const fs::path otherName = stored.root.path() / "another name";
  ASSERT_EQ(::link((dir / ".kestrane.move").c_str(), otherName.c_str()), 0);
  expectSetAsideWhole(dir, "can't be proven this folder's, as it has another name too");
  fs::remove(otherName);

  // Written where file times are whole seconds, so a file written in the same second could pass
  // for a staged one.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 2));
  stagedInWholeSeconds(dir, 3);
  expectSetAsideWhole(dir,
                      "can't be proven its run's own, as the disk keeps file times too coarse to tell the files that "
                      "run staged from others");

  // Some staged files landing on a whole second, as one in a hundred does on a disk that keeps
  // hundredths, is no sign of a coarse disk.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 2));
  stagedInWholeSeconds(dir, 2);
  EXPECT_EQ(openedSaying(dir), "");
  EXPECT_TRUE(wholeRecut(dir, session));
}

// A staged name whose file is not the one the run staged (gone, another file there, or the
// staged file with a second name through which it may have been written): a move still to make through
// it is not made and the file stays, while the rest of the move is finished and the run stops
// saying what the package holds; one whose move was made already is none of the record's, and
// the move is finished whole and silently.
TEST_F(MoveRecordProof, AFileAtAStagedNameIsMovedOnlyWhenItIsTheOneTheRunStaged) {
  const fs::path elsewhere = stored.root.path() / "elsewhere";

  // Its file gone, another file put there, or the staged file given a second name.
  for (const int linked : {-1, 0, 1}) {
    earlierCut(dir, session);
    ASSERT_TRUE(killedRecut(dir, session, 3));
    const std::string staged = stagedFor(dir, "transcript.md");
    const std::string transcript = (dir / "transcript.md").string(), at = (dir / staged).string();
    std::string why;
    if (linked == 1) {
      ASSERT_EQ(::link((dir / staged).c_str(), elsewhere.c_str()), 0);
      why = "the file that run staged for " + transcript + ", " + at +
            ", has another name too, through which it may have been changed since";
    } else {
      fs::remove(dir / staged);
      if (linked == 0) std::ofstream(dir / staged) << "tight transcript";
      why = linked == 0 ? at + " holds another file than the one that run staged for " + transcript
                        : "the file that run staged for " + transcript + " is no longer at " + at;
    }
    const std::string other = linked == -1 ? "" : readFile(dir / staged);
    EXPECT_EQ(openedSaying(dir), "stopped: " + (dir / ".kestrane.move").string() +
                                     " recorded a move into place that a Kestrane run was interrupted in, and " + why +
                                     ", so " + transcript + " was left as it is and the rest of the move was finished" +
                                     std::string(kMixed))
        << linked;
    EXPECT_EQ(readFile(dir / "transcript.md"), "natural transcript") << linked;
    EXPECT_EQ(readFile(dir / "talk.kestrane.json"), session + " ") << linked;
    EXPECT_FALSE(fs::exists(dir / "talk rough cut.mp4")) << linked;
    if (linked != -1) {
      EXPECT_EQ(readFile(dir / staged), other) << linked;
    }
    EXPECT_FALSE(fs::exists(dir / ".kestrane.move")) << linked;
    fs::remove(elsewhere);
    // The next run takes the leftover away and goes on saying the package may be mixed, until a
    // re-cut makes it whole.
    EXPECT_EQ(openedSaying(dir), "");
    EXPECT_EQ(hiddenNames(dir), std::set<std::string>{".kestrane.mixed"});
    EXPECT_EQ(Pipeline::mixedPackageNote(dir), mixedNote(dir));
    fs::remove(dir / ".kestrane.mixed");
  }

  // Made already, so its staged name is free: a file there is no business of the record's.
  for (const int when : {4, kAfterSession}) {
    earlierCut(dir, session);
    ASSERT_TRUE(killedRecut(dir, session, when));
    const std::string staged = stagedFor(dir, when == 4 ? "transcript.md" : "talk.kestrane.json");
    std::ofstream(dir / staged) << "someone's file";
    EXPECT_EQ(openedSaying(dir), "") << when;
    EXPECT_EQ(readFile(dir / "transcript.md"), "tight transcript") << when;
    EXPECT_EQ(readFile(dir / "talk.kestrane.json"), session + " ") << when;
    EXPECT_FALSE(fs::exists(dir / "talk rough cut.mp4")) << when;
    EXPECT_FALSE(fs::exists(dir / ".kestrane.move")) << when;
  }
}

// A free name loses nothing to a move (a user may clear a folder out of the way, as a refusal
// asks), and a removal made before the kill needs nothing more: both are finished silently.
TEST_F(MoveRecordProof, AFreeNameAndARemovalAlreadyMadeAreFinished) {
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  fs::remove(dir / "transcript.md");
  EXPECT_EQ(openedSaying(dir), "");
  EXPECT_TRUE(wholeRecut(dir, session));

  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, kAfterSession));
  fs::remove(dir / "talk rough cut.mp4");
  EXPECT_EQ(openedSaying(dir), "");
  EXPECT_TRUE(wholeRecut(dir, session));
}

// A file at the movie's name that no run of ours made is set aside as part of the recorded move:
// a re-cut killed as its record lands, as its files move or once they have leaves the next run to
// finish the move, and the file is kept under its free name. A record that would set aside another
// of the package's files, or under a name the writer gives no file, is none of ours: it is set
// aside unread, and nothing it names is touched.
TEST_F(MoveRecordProof, AFileSetAsideIsKeptWhereverTheRunWasKilled) {
  for (const int when : {kAfterRecord, 2, 4, kAfterSession}) {
    SCOPED_TRACE(when);
    earlierCut(dir, session);
    ASSERT_TRUE(killedRecut(dir, session, when, 022, 0, AtTheMoviesName::setAside));
    EXPECT_EQ(openedSaying(dir), "");
    EXPECT_TRUE(wholeRecut(dir, session));
    EXPECT_EQ(readFile(dir / kSetAsideMovie), "earlier movie");
    fs::remove(dir / kSetAsideMovie);
  }

  earlierCut(dir, session);
  for (const auto& [name, as] : {std::pair<std::string, std::string>{"talk.fcpxml", kSetAsideMovie.string()},
                                 {"talk rough cut.mp4", "talk rough cut (kept).mp4"}}) {
    SCOPED_TRACE(name + " as " + as);
    MoveRecord record;
    record.setAsides.push_back({name, as, Pipeline::detail::identityOf(*Pipeline::detail::heldAt(dir / name).st)});
    test::writeRecord(dir, Pipeline::detail::recordText(record));
    const auto before = snapshot(dir);
    EXPECT_EQ(openedSaying(dir),
              "The package held a record of an unfinished move that this program can't have "
              "written, so it was set aside as " +
                  (dir / ".kestrane.move-unread").string() + " and nothing it names was moved or removed.");
    auto unread = before;
    unread[".kestrane.move-unread"] = unread[".kestrane.move"];
    unread.erase(".kestrane.move");
    EXPECT_EQ(snapshot(dir), unread);
    fs::remove(dir / ".kestrane.move-unread");
  }
}

// Where every account may already write the package's files and make and remove names in its
// folder (NTFS through ntfs-3g, a share mounted 0777), a record any account may write gives none
// of them anything: the owner's own killed re-cut is finished whole and silently. Where write was
// given to the group alone (the package shared after the kill, even in a folder every account
// may write), or the folder is sticky, or an earlier build wrote the record, the run stops saying
// the package may be mixed.
TEST_F(MoveRecordProof, ModesEveryAccountHasProveNothingEitherWay) {
  const auto chmodAll = [&](mode_t files, mode_t folder) {
    for (const auto& entry : fs::directory_iterator(dir)) ::chmod(entry.path().c_str(), files);
    ::chmod(dir.c_str(), folder);
  };
  for (const int when : {2, 3, 4, kAfterSession}) {
    earlierCut(dir, session);
    ASSERT_TRUE(killedRecut(dir, session, when));
    chmodAll(0777, 0777);
    EXPECT_EQ(openedSaying(dir), "") << when;
    EXPECT_TRUE(wholeRecut(dir, session)) << when;
    EXPECT_FALSE(Pipeline::mixedPackageNote(dir)) << when;
  }
  for (const auto& [files, folder] : {std::pair(0664, 0775), {0664, 0777}, {0777, 01777}, {0666, 0755}}) {
    earlierCut(dir, session);
    ASSERT_TRUE(killedRecut(dir, session, 3));
    chmodAll(static_cast<mode_t>(files), static_cast<mode_t>(folder));
    expectSetAsideWhole(dir, kPastOwner);
  }
  ::chmod(dir.c_str(), 0755);

  // An earlier build's record, written under a login shell's umask.
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  asAnEarlierBuildWroteIt(dir, 0664);
  expectSetAsideWhole(dir, kPastOwner);
}

// Once a record is set aside so, every later run that leaves the package as it is says so and
// fails (placing graphics), or opens it saying so (as the app does), until a re-cut has written
// every file anew; a re-cut killed as it moves its files leaves the next run to finish taking
// the mark away.
TEST_F(MoveRecordProof, AMixedPackageIsSaidSoUntilARecutMakesItWhole) {
  Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::natural));
  const std::string cut = readFile(stored.sessionFile);
  earlierCut(dir, cut);
  ASSERT_TRUE(killedRecut(dir, cut, kAfterSession));
  std::ofstream(dir / "talk.kestrane.json", std::ios::app) << " ";  // an editor's save since
  expectSetAsideWhole(dir, holdsNeither(dir / "talk.kestrane.json"));
  std::ofstream(dir / ".kestrane.mixed") << kMixedMark;

  const auto placed = [&] {
    try {
      Pipeline::placeGraphics(stored.sessionFile);
      return std::string("placed");
    } catch (const Pipeline::PackageMayBeMixed& e) {
      return std::string(e.what());
    }
  };
  for (int run = 0; run < 2; ++run) {
    const auto before = snapshot(dir);
    EXPECT_EQ(placed(), *mixedNote(dir)) << run;
    EXPECT_EQ(snapshot(dir), before) << run;
    const auto opened = Pipeline::openPackage(dir).contents.warnings;
    EXPECT_EQ(opened, std::vector{*mixedNote(dir)}) << run;
  }

  // A re-cut killed as it moves its files, the mark's removal recorded with them.
  const int killed = inChild([&] {
    if (test::killAtRename("/.kestrane.move", 3))
      Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::tight));
  });
  ASSERT_TRUE(WIFSIGNALED(killed));
  EXPECT_EQ(Pipeline::mixedPackageNote(dir), mixedNote(dir)) << "still mixed while the move is half made";
  EXPECT_EQ(openedSaying(dir), "");
  EXPECT_FALSE(Pipeline::mixedPackageNote(dir));
  EXPECT_EQ(placed(), "placed");

  // And a re-cut that runs through does the same.
  std::ofstream(dir / ".kestrane.mixed") << kMixedMark;
  Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::natural));
  EXPECT_FALSE(Pipeline::mixedPackageNote(dir));
  EXPECT_TRUE(hiddenNames(dir).empty());
  EXPECT_EQ(placed(), "placed");
}

// A mark that can't be written (a full disk) leaves the record at its name and refuses the run
// with nothing changed, so no later run finds the package unmarked with the record gone; with
// room again, the run sets the record aside and marks the package.
TEST_F(MoveRecordProof, AMarkThatCantBeWrittenLeavesTheRecordAndRefusesTheRun) {
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  std::ofstream(dir / "transcript.md", std::ios::app) << " edited since";
  const auto before = snapshot(dir);
  const std::string refused = "refused: " + (dir / ".kestrane.move").string() +
                              " records a move into place that a Kestrane run was interrupted in, which can't be "
                              "finished whole, and the package can't be marked as maybe holding parts of two cuts "
                              "(File too large), so nothing was changed — try again once a file can be written there.";
  for (int run = 0; run < 2; ++run) {
    const int ended = inChild([&] {
      // No file may grow past a few bytes, as on a disk that is full.
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit room{8, 8};
      if (::setrlimit(RLIMIT_FSIZE, &room) != 0) ::_exit(3);
      const std::string said = openedSaying(dir);
      if (said != refused) std::fprintf(stderr, "%s\n", said.c_str());
      ::_exit(said == refused ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(ended));
    ASSERT_NE(WEXITSTATUS(ended), 3) << "can't limit the size of files here";
    EXPECT_EQ(WEXITSTATUS(ended), 0) << run;
    EXPECT_EQ(snapshot(dir), before) << run;
  }
  expectSetAsideWhole(dir, holdsNeither(dir / "transcript.md"));
}

// Something no re-cut can take away at the mark's name (a folder, a FIFO) is named, with what to
// do, by every run that says the package may be mixed, and a re-cut refuses at once with the
// package as it was; once it is removed, the re-cut makes the package whole.
TEST_F(MoveRecordProof, AMarkNoRecutCanTakeAwaySaysToRemoveIt) {
  for (const bool folder : {true, false}) {
    const fs::path mark = dir / ".kestrane.mixed";
    ASSERT_EQ(folder ? ::mkdir(mark.c_str(), 0755) : ::mkfifo(mark.c_str(), 0644), 0);
    const std::string said = "A Kestrane run was interrupted while moving the files of " + dir.string() +
                             " into place, and its move could not be finished — the package may hold parts of two "
                             "cuts, and " +
                             mark.string() + ", the name that marks it so, holds " + (folder ? "a folder" : "a FIFO") +
                             " rather than the file Kestrane writes there: remove it, then run the re-cut again, "
                             "which makes the package whole.";
    EXPECT_EQ(Pipeline::mixedPackageNote(dir), said) << folder;
    const auto before = snapshot(dir);
    try {
      Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::tight));
      ADD_FAILURE() << "re-cut over what it can't take away";
    } catch (const Pipeline::PackageMayBeMixed& e) {
      EXPECT_EQ(e.what(), said) << folder;
    }
    EXPECT_EQ(snapshot(dir), before) << folder;
    fs::remove(mark);
    Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::tight));
    EXPECT_FALSE(Pipeline::mixedPackageNote(dir)) << folder;
  }
}

// A run whose own move fails once under way (a rename refused after its record is written) says
// the package may hold parts of two cuts, as the next run would; that run finishes the move
// whole. A new package that fails so is taken away whole, and its run says only what failed.
TEST_F(MoveRecordProof, ARunWhoseOwnMoveFailsPartwaySaysThePackageMayBeMixed) {
  const auto recutFailing = [&](std::optional<std::string> name, const std::string& expected) {
    const int ended = inChild([&] {
      Pipeline::RecutRequest request = test::recutOf(stored.sessionFile, CutTightness::tight);
      request.projectName = name;
      if (!test::failAtRename("/.kestrane.move", 3, EACCES)) ::_exit(3);
      try {
        Pipeline::recut(request);
      } catch (const std::exception& e) {
        if (e.what() != expected) std::fprintf(stderr, "%s\n", e.what());
        ::_exit(e.what() == expected ? 0 : 1);
      }
      ::_exit(2);
    });
    ASSERT_TRUE(WIFEXITED(ended));
    EXPECT_EQ(WEXITSTATUS(ended), 0);
  };
  recutFailing(std::nullopt, "Couldn't move " + (dir / "transcript.md").string() +
                                 " into place (Permission denied) once this run had begun moving its files, so the "
                                 "record of the move and the files not yet moved were left for the next run" +
                                 std::string(kMixed));
  EXPECT_TRUE(fs::exists(dir / ".kestrane.move"));
  EXPECT_EQ(openedSaying(dir), "");
  EXPECT_TRUE(hiddenNames(dir).empty());
  EXPECT_EQ(KestraneSession::read(stored.sessionFile).settings.speechPadding, 0.1);

  const fs::path fresh = stored.root.path() / "Another Kestrane.kestrane";
  recutFailing("Another", "Couldn't write " + (fresh / "transcript.md").string() + " — Permission denied");
  EXPECT_FALSE(fs::exists(fresh));
}

// Killed once its session moved, before the earlier movie went, then copied without its times:
// the record can't be proven, and the advised re-cut leaves no earlier movie claimed as showing
// its cut; the same where the disk keeps whole seconds.
TEST_F(MoveRecordProof, TheAdvisedRecutClaimsNoEarlierMovie) {
  Pipeline::recut(test::recutOf(stored.sessionFile, CutTightness::natural));
  const std::string cut = readFile(stored.sessionFile);
  const fs::path copy = stored.root.path() / "Copy Kestrane.kestrane";
  for (const bool wholeSeconds : {false, true}) {
    earlierCut(dir, cut);
    ASSERT_TRUE(killedRecut(dir, cut, kAfterSession));
    fs::remove_all(copy);
    ASSERT_EQ(std::system(
                  ("cp " + std::string(wholeSeconds ? "-a" : "-r") + " '" + dir.string() + "' '" + copy.string() + "'")
                      .c_str()),
              0);
    if (wholeSeconds) {
      // As the run would have left it on a disk that keeps whole seconds.
      auto record = Pipeline::detail::parsedRecord(readFile(copy / ".kestrane.move"));
      ASSERT_TRUE(record);
      for (const auto& entry : fs::directory_iterator(copy)) ASSERT_TRUE(toWholeSeconds(entry.path()));
      for (MoveRecord::Move& move : record->moves) move.staged.modified.tv_nsec = 0;
      for (MoveRecord::Removal& removal : record->removals) removal.before->modified.tv_nsec = 0;
      test::writeRecord(copy, Pipeline::detail::recordText(*record));
    }
    EXPECT_TRUE(openedSaying(copy).starts_with("stopped: ")) << wholeSeconds;
    // The same settings as the cut whose session the copy holds, so the cut plays its frames.
    const Pipeline::Output out = Pipeline::recut(test::recutOf(copy / "talk.kestrane.json", CutTightness::natural));
    EXPECT_FALSE(out.session.roughCutCutList) << wholeSeconds;
    EXPECT_FALSE(KestraneSession::read(copy / "talk.kestrane.json").roughCutCutList) << wholeSeconds;
    EXPECT_FALSE(fs::exists(copy / "talk rough cut.mp4")) << wholeSeconds;
    EXPECT_FALSE(Pipeline::mixedPackageNote(copy)) << wholeSeconds;
  }
}

#if defined(__x86_64__)
// From now on this process's renames that would replace nothing, and its hard links, fail as
// they do on a disk that keeps neither (exFAT through FUSE). Other renames are left alone.
bool withoutSafeRenameOrLinks() {
  return test::withSyscallFilter({
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 4),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, RENAME_NOREPLACE, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_link, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_linkat, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
  });
}

// There a record is still set aside under a name that replaces nothing, and the run stops
// saying the package may be mixed, rather than asking the user to move the record themselves.
TEST_F(MoveRecordProof, ARecordIsSetAsideWhereTheDiskCanNeitherRenameSafelyNorLink) {
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  std::ofstream(dir / "transcript.md", std::ios::app) << " edited since";
  std::ofstream(dir / ".kestrane.move-unread") << "set aside before";
  auto expected = snapshot(dir);
  expected[".kestrane.move-unread-2"] = expected[".kestrane.move"];
  expected.erase(".kestrane.move");
  expected[".kestrane.mixed"] = kMixedMark;
  const std::string said = "The package held a record of an unfinished move that " +
                           holdsNeither(dir / "transcript.md") + ", so it was set aside as " +
                           (dir / ".kestrane.move-unread-2").string() + " and nothing it names was moved or removed" +
                           std::string(kMixed);
  const int ended = inChild([&] {
    if (!withoutSafeRenameOrLinks()) ::_exit(3);
    ::_exit(openedSaying(dir) == "stopped: " + said ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't take renames and links away here";
  EXPECT_EQ(WEXITSTATUS(ended), 0);
  EXPECT_EQ(snapshot(dir), expected);
}

// Where the record can't then be renamed onto the name it took, the name is given back: no
// placeholder is left, the record stays at its name beside the mark, and the run is refused
// saying so, not that nothing was changed.
TEST_F(MoveRecordProof, ARecordThatCantBeSetAsideLeavesNoPlaceholder) {
  earlierCut(dir, session);
  ASSERT_TRUE(killedRecut(dir, session, 3));
  std::ofstream(dir / "transcript.md", std::ios::app) << " edited since";
  auto expected = snapshot(dir);
  expected[".kestrane.mixed"] = kMixedMark;
  const std::string said = "refused: " + (dir / ".kestrane.move").string() +
                           " is a record of an unfinished move that " + holdsNeither(dir / "transcript.md") +
                           ", and it couldn't be set aside (Input/output error), so it was left at its name and the "
                           "package was marked as maybe holding parts of two cuts — move it out of the folder and try "
                           "again.";
  const int ended = inChild([&] {
    if (!withoutSafeRenameOrLinks() || !test::failAtRename("/.kestrane.move-unread", 1, EIO)) ::_exit(3);
    const std::string opened = openedSaying(dir);
    if (opened != said) std::fprintf(stderr, "%s\n", opened.c_str());
    ::_exit(opened == said ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't take renames and links away here";
  EXPECT_EQ(WEXITSTATUS(ended), 0);
  EXPECT_EQ(snapshot(dir), expected);
}
#endif

namespace {

using test::kFirstAccount;
using test::kSecondAccount;
using test::kSharedGroup;

// A team's folder (its group may write it, not sticky) holding the owner's notes, written from a
// login shell under umask 002 so the group may write them, and the owner's package, whose folder
// is theirs and sticky as a group's packages are. The test runs in the team's folder.
class SharedPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
    team_ = root_.path() / "team";
    fs::create_directories(team_ / "Shared Kestrane.kestrane");
    if (::chown(team_.c_str(), 0, kSharedGroup) != 0 || ::chmod(team_.c_str(), 02775) != 0)
      GTEST_SKIP() << "can't share a folder";
    test::storedSession(root_.path() / "talk.mov").write(team_ / "session");
    session_ = readFile(team_ / "session");
    fs::remove(team_ / "session");
    cwd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::chdir(team_.c_str()), 0);
    if (!asOwner(002, [] { return static_cast<bool>(std::ofstream("note1.txt") << "the owner's first note"); }))
      GTEST_SKIP() << "can't act as two ordinary users here";
    ASSERT_TRUE(
        asOwner(002, [] { return static_cast<bool>(std::ofstream("note2.txt") << "the owner's second note"); }));
    ownersCut(kPackage, 03775);
  }
  void TearDown() override {
    if (cwd_ >= 0) (void)!::fchdir(cwd_);
    if (cwd_ >= 0) ::close(cwd_);
  }

  static constexpr const char* kPackage = "Shared Kestrane.kestrane";

  bool asOwner(mode_t umask, const std::function<bool()>& act) {
    return test::asAccount(kFirstAccount, kSharedGroup, umask, act);
  }
  bool asMember(const std::function<bool()>& act) { return test::asAccount(kSecondAccount, kSharedGroup, 022, act); }

  // The owner's last cut of the package `dir` (its timeline `timeline`), whose folder has `mode`.
  void ownersCut(const fs::path& dir, mode_t mode, const std::string& timeline = "natural timeline") {
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
    ASSERT_EQ(::chown(dir.c_str(), kFirstAccount, kSharedGroup), 0);
    ASSERT_EQ(::chmod(dir.c_str(), mode), 0);
    ASSERT_TRUE(asOwner(022, [&] {
      earlierCut(dir, session_);
      std::ofstream(dir / "talk.fcpxml", std::ios::trunc) << timeline;
      return true;
    }));
  }

  // What the owner's next run on `dir` is told, and how it ends.
  std::string ownerTold(int ended, const fs::path& dir = kPackage) {
    std::string told;
    EXPECT_EQ(test::lockAs(kFirstAccount, kSharedGroup, &told, -1, -1, dir), ended);
    return told;
  }

  // The member's link `as` to the owner's note `note`, through which it writes `bytes`.
  bool writeThroughNote(const std::string& note, const std::string& bytes, const fs::path& as) {
    return test::writeThroughAndLink(kSecondAccount, kSharedGroup, note, bytes, as);
  }

  // What the owner's run says, stopping, of a record another account could have written.
  std::string setAsidePastOwner() { return "stopped: " + ownerTold(test::mixed); }

  test::TempDir root_;
  fs::path team_;
  std::string session_;
  int cwd_ = -1;
};

}  // namespace

// Through links to the owner's group-writable notes, a member writes a record (its own, or a
// copy of a genuine one of the owner's) and a session: the owner's next run sets the record
// aside and moves and removes nothing, with the notes' own names kept or not.
TEST_F(SharedPackage, ARecordAnotherAccountCouldWriteIsNeverActedOn) {
  const fs::path pkg = kPackage;
  const std::string staged = ".kestrane-staged-1-0123456789abcdef";
  for (const bool notesKept : {true, false}) {
    ownersCut(pkg, 03775);
    ASSERT_TRUE(asOwner(002, [] {
      return static_cast<bool>(std::ofstream("note1.txt") << "1") &&
             static_cast<bool>(std::ofstream("note2.txt") << "2");
    }));
    // A session naming the owner's recording, and a record, laid out as the owner's run would.
    ASSERT_TRUE(writeThroughNote("note2.txt", session_ + "  ", pkg / staged));
    const std::string forged = test::recordIn(pkg, {{staged, "talk.kestrane.json"}}, {"transcript.md"});
    ASSERT_TRUE(writeThroughNote("note1.txt", forged, pkg / ".kestrane.move"));
    if (!notesKept) {
      ASSERT_TRUE(asMember([] { return ::unlink("note1.txt") == 0 && ::unlink("note2.txt") == 0; }));
    }
    EXPECT_EQ(setAsidePastOwner(), setAsideMixed(pkg, kPastOwner)) << notesKept;
    EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_) << notesKept;
    EXPECT_EQ(readFile(pkg / "transcript.md"), "natural transcript") << notesKept;
  }

  // A genuine record of the owner's, from another package's re-cut killed under umask 002,
  // copied byte for byte, with the owner's notes linked at the staged names it lists.
  const fs::path other = "Other Kestrane.kestrane";
  ownersCut(other, 02775, "the other natural timeline");
  ASSERT_TRUE(killedRecut(other, session_, 3, 002, kFirstAccount));
  ownersCut(pkg, 03775);
  ASSERT_TRUE(asOwner(002, [] {
    return static_cast<bool>(std::ofstream("note1.txt") << "1") && static_cast<bool>(std::ofstream("note2.txt") << "2");
  }));
  ASSERT_TRUE(writeThroughNote("note1.txt", readFile(other / ".kestrane.move"), pkg / ".kestrane.move"));
  ASSERT_TRUE(asMember([&] {
    return ::link("note2.txt", (pkg / stagedFor(other, "transcript.md")).c_str()) == 0 &&
           ::link("note2.txt", (pkg / stagedFor(other, "talk.kestrane.json")).c_str()) == 0;
  }));
  EXPECT_EQ(setAsidePastOwner(), setAsideMixed(pkg, kPastOwner));
  EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_);
  EXPECT_EQ(readFile(pkg / "transcript.md"), "natural transcript");
}

// The owner's genuine record and its staged files, moved by a member out of another package of
// the same footage (where the member may rename files) into this one, find this package's files
// where the other's were: set aside, with nothing moved or removed, and the run stops.
TEST_F(SharedPackage, AGenuineRecordCarriedInFromAnotherPackageIsSetAside) {
  const fs::path pkg = kPackage, other = "Other Kestrane.kestrane";
  ownersCut(other, 02775, "the other natural timeline");
  ASSERT_TRUE(killedRecut(other, session_, 3, 002, kFirstAccount));
  const std::string transcript = stagedFor(other, "transcript.md"), session = stagedFor(other, "talk.kestrane.json");
  ASSERT_TRUE(asMember([&] {
    for (const std::string& name : {transcript, session, ".kestrane.move"s}) {
      if (::rename((other / name).c_str(), (pkg / name).c_str()) != 0) return false;
    }
    return true;
  }));
  const auto before = snapshot(pkg);
  EXPECT_EQ("stopped: " + ownerTold(test::mixed), setAsideMixed(pkg, holdsNeither(pkg / "talk.fcpxml")));
  EXPECT_EQ(snapshot(pkg), withRecordAside(before));
}

// A member's file at a staged name the record lists: where the move through it was made, the
// owner's next run finishes the rest whole and silently and leaves the file; where it was still
// to make (the member renamed the owner's staged file away, in a folder that lets it), that move
// is not made, the rest is, and the run stops saying so.
TEST_F(SharedPackage, AMembersFileAtAStagedNameIsNeverMovedIntoPlace) {
  const fs::path pkg = kPackage;
  // Killed at its session's rename, the transcript's made; or once its session moved, with an
  // owner's note the member links at the session's staged name.
  for (const int when : {4, kAfterSession}) {
    ownersCut(pkg, 03775);
    ASSERT_TRUE(killedRecut(pkg, session_, when, 022, kFirstAccount));
    const std::string name = stagedFor(pkg, when == 4 ? "transcript.md" : "talk.kestrane.json");
    ASSERT_TRUE(asMember([&] {
      if (when == 4) return static_cast<bool>(std::ofstream(pkg / name) << session_ << "  ");
      return ::link("note1.txt", (pkg / name).c_str()) == 0;
    }));
    EXPECT_EQ(ownerTold(test::locked), "") << when;
    EXPECT_EQ(readFile(pkg / "transcript.md"), "tight transcript") << when;
    EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_ + " ") << when;
    EXPECT_FALSE(fs::exists(pkg / "talk rough cut.mp4")) << when;
    EXPECT_FALSE(fs::exists(pkg / ".kestrane.move")) << when;
    if (when == 4) {
      EXPECT_EQ(readFile(pkg / name), session_ + "  ");
    }
  }
  EXPECT_EQ(readFile("note1.txt"), "the owner's first note");

  // Its own file of the staged one's size and time, which a member may give a file of its own.
  ownersCut(pkg, 02775);
  ASSERT_TRUE(killedRecut(pkg, session_, 3, 022, kFirstAccount));
  const std::string name = stagedFor(pkg, "transcript.md");
  ASSERT_TRUE(asMember([&] {
    struct stat st {};
    if (::rename((pkg / name).c_str(), "taken away") != 0 || ::stat("taken away", &st) != 0) return false;
    if (!(std::ofstream(pkg / name) << "the member's one")) return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, (pkg / name).c_str(), times, 0) == 0;
  }));
  const std::string told = ownerTold(test::mixed);
  EXPECT_TRUE(told.ends_with(", and " + (pkg / name).string() +
                             " holds another file than the one that run staged for " +
                             (pkg / "transcript.md").string() + ", so " + (pkg / "transcript.md").string() +
                             " was left as it is and the rest of the move was finished" + std::string(kMixed)))
      << told;
  EXPECT_EQ(readFile(pkg / "transcript.md"), "natural transcript");
  EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_ + " ");
  EXPECT_EQ(readFile(pkg / name), "the member's one");
}

// A killed re-cut's package that whoever opens it can't write (made read-only by its owner, or
// opened by another account): the record stays, and every run says the package may hold parts
// of two cuts and who can make it whole; opened as the app does, it opens saying so, for its
// re-cut. Writable again, the owner's next run finishes the move whole and silently.
TEST_F(SharedPackage, AKilledPackageNoOneHereCanWriteIsSaidMaybeMixed) {
  const fs::path pkg = kPackage;
  ownersCut(pkg, 02775);
  ASSERT_TRUE(killedRecut(pkg, session_, 3, 022, kFirstAccount));
  ASSERT_EQ(std::system(("chmod -R a-w '" + pkg.string() + "'").c_str()), 0);
  const auto before = snapshot(pkg);
  const std::string leftAsItIs =
      " was interrupted in, and this user can write nothing in the package, so it was left as "
      "it is — the package may hold parts of two cuts, and a re-cut by an account that can "
      "write it makes it whole.";
  const std::string record = (pkg / ".kestrane.move").string() + " records a move into place that a Kestrane run";
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(ownerTold(test::mixed, pkg), record + leftAsItIs) << run;
    std::string told;
    EXPECT_EQ(test::lockAs(kSecondAccount, kSharedGroup, &told, -1, -1, pkg), test::mixed) << run;
    EXPECT_EQ(told, record + " of another account" + leftAsItIs) << run;
    EXPECT_TRUE(asOwner(022, [&] {
      const Pipeline::OpenedPackage opened = Pipeline::openPackage(pkg);
      return opened.mayBeMixed && opened.contents.warnings == std::vector{record + leftAsItIs} &&
             opened.contents.fcpxml && opened.session.transcript;
    })) << run;
    EXPECT_EQ(snapshot(pkg), before) << run;
  }

  ASSERT_EQ(std::system(("chmod -R u+w '" + pkg.string() + "'").c_str()), 0);
  EXPECT_EQ(ownerTold(test::locked, pkg), "");
  EXPECT_EQ(readFile(pkg / "transcript.md"), "tight transcript");
  EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_ + " ");
  EXPECT_FALSE(fs::exists(pkg / ".kestrane.move"));
}

// A killed re-cut's package its owner can write but not list (mode -wx): what the record moves
// onto can't be told, so every run is refused saying so, with the record and everything else as
// they were. Once the folder can be listed, the owner's next run finishes the move whole.
TEST_F(SharedPackage, AKilledPackageItsOwnerCantListIsRefusedUntilItCanBe) {
  const fs::path pkg = kPackage;
  ownersCut(pkg, 02775);
  ASSERT_TRUE(killedRecut(pkg, session_, 3, 022, kFirstAccount));
  ASSERT_EQ(::chmod(pkg.c_str(), 0300), 0);
  const auto before = snapshot(pkg);
  const std::string refused = (pkg / ".kestrane.move").string() +
                              " records a move into place that a Kestrane run was interrupted in, and the package "
                              "can't be listed (Permission denied), so nothing was changed — let this user read " +
                              pkg.string() + " and try again.";
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(ownerTold(test::refused, pkg), refused) << run;
    EXPECT_EQ(snapshot(pkg), before) << run;
  }

  ASSERT_EQ(::chmod(pkg.c_str(), 02775), 0);
  EXPECT_EQ(ownerTold(test::locked, pkg), "");
  EXPECT_EQ(readFile(pkg / "transcript.md"), "tight transcript");
  EXPECT_EQ(readFile(pkg / "talk.kestrane.json"), session_ + " ");
  EXPECT_FALSE(fs::exists(pkg / "talk rough cut.mp4"));
  EXPECT_FALSE(fs::exists(pkg / ".kestrane.move"));
}
