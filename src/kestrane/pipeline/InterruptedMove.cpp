#include "kestrane/pipeline/InterruptedMove.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/MoveRecord.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;
using Move = MoveRecord::Move;

// A package write moves a handful of files; a record far beyond that is none of ours.
constexpr off_t kLargestRecord = 64 * 1024;
constexpr std::string_view kSetAsideName = ".kestrane.move-unread";

// Why a record is set aside rather than acted on, where no run of ours can have left it.
constexpr std::string_view kNotOurs = "this program can't have written";
// Why one of this package's, which may be a run's own, can't be proven its owner's run's and
// this folder's.
constexpr std::string_view kWrittenPastOwner = "an account other than its owner could have written";
constexpr std::string_view kEarlierBuild =
    "an earlier version of Kestrane wrote, which names too little of the files it moves to prove it its run's own";
constexpr std::string_view kLinkedElsewhere = "can't be proven this folder's, as it has another name too";
constexpr std::string_view kCoarseTimes =
    "can't be proven its run's own, as the disk keeps file times too coarse to tell the files that run staged from "
    "others";

// The record as found: its bytes (none when it is no file of a record's size, a link or a
// folder, say) and its owner and mode.
struct RecordFile {
  struct stat st {};
  std::optional<std::string> bytes;
  bool unreadable = false;  // this user may not read it
};

// Read without following a link, and never more than a record can hold.
RecordFile readRecord(const fs::path& recordPath, const struct stat& found) {
  RecordFile file{found};
  const int fd = ::open(recordPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    file.unreadable = errno == EACCES;
    return file;
  }
  if (::fstat(fd, &file.st) == 0 && S_ISREG(file.st.st_mode) && file.st.st_size <= kLargestRecord) {
    std::string text(static_cast<std::size_t>(file.st.st_size), '\0');
    if (::read(fd, text.data(), text.size()) == file.st.st_size) file.bytes = std::move(text);
  }
  ::close(fd);
  return file;
}

bool mayNotRead(const fs::path& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0 && errno == EACCES;
}

// The stem of the footage `sessionFile` was cut from, which names every other file of its
// package whatever the session file is called. Nothing when it is no session of this program's.
std::optional<std::string> footageStem(const fs::path& sessionFile) {
  try {
    return sourceStem(KestraneSession::read(sessionFile).source.path);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// True when no account but the file's owner can have written it: a plain file its mode lets no
// other write (a link gives no more write than the file's mode does).
bool writtenByOwnerAlone(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool everyAccountMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) == (S_IWGRP | S_IWOTH); }

// True where every account may already change all that the record changes: the folder lets any
// account make, rename and remove files in it, and the session and every file at a name the
// record changes let any account write them (as on a disk that shows every file as 0777). A record
// any account may write gives none of them anything it lacked there, so its mode proves nothing
// either way and the rest of the rule judges it.
bool everyAccountMayAlreadyChange(const fs::path& folder, const struct stat& dir, const MoveRecord& record,
                                  const std::string& session) {
  if (!everyAccountMayWrite(dir) || (dir.st_mode & S_ISVTX) != 0) return false;
  std::vector<std::string> names{session};
  for (const MoveRecord::SetAside& setAside : record.setAsides) {
    names.push_back(setAside.name);
    names.push_back(setAside.as);
  }
  for (const Move& move : record.moves) names.push_back(move.to);
  for (const MoveRecord::Removal& removal : record.removals) names.push_back(removal.name);
  return std::ranges::all_of(names, [&](const std::string& name) {
    const Held held = heldAt(folder / name);
    return held.known() && (!held.st || everyAccountMayWrite(*held.st));
  });
}

std::string_view whoseRun(bool another) { return another ? "a Kestrane run of another account" : "a Kestrane run"; }

std::string_view folderKind(const fs::path& folder) { return isPackageFolder(folder) ? "package" : "folder"; }

// The owner a file this account makes in `folder` is given: its own, except on a disk that keeps
// no owners (NTFS or exFAT mounted by root shows every file as one account's, whoever made it),
// where a record of that account's may well be this account's own run's.
uid_t ownerGivenHere(const fs::path& folder) {
  const uid_t me = ::geteuid();
  const fs::path probe = folder / AtomicFile::newAsideName();
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return me;
  struct stat st {};
  const bool seen = ::fstat(fd, &st) == 0;
  ::close(fd);
  ::unlink(probe.c_str());
  return seen ? st.st_uid : me;
}

// What is said of a record that stays where this user can write nothing: the package may be
// mixed, and only an account that can write it can make it whole.
std::string leftAsItIs(const fs::path& folder, const fs::path& recordPath, bool another) {
  return fmt::format(
      "{} records a move into place that {} was interrupted in, and this user can write nothing in the {}, so it "
      "was left as it is — {}",
      recordPath.string(), whoseRun(another), folderKind(folder), kMayBeMixedForAnother);
}

// Another account's record that only that account can finish.
std::string leftForThatAccount(const fs::path& recordPath, std::string_view why) {
  return fmt::format(
      "{} records a move into place that a Kestrane run of another account was interrupted in, and {}, so nothing "
      "was changed — the package may hold parts of two cuts, and a re-cut by that account makes it whole.",
      recordPath.string(), why);
}

// The folder can't be listed, so what the record moves onto can't be told.
std::string unlistable(const fs::path& folder, const fs::path& recordPath, bool another, const std::error_code& ec) {
  return fmt::format(
      "{} records a move into place that {} was interrupted in, and the {} can't be listed ({}), so nothing was "
      "changed — let this user read {} and try again.",
      recordPath.string(), whoseRun(another), folderKind(folder), ec.message(), folder.string());
}

// A name the move can't be finished on: the record and the files not yet moved stay for a run
// after the user has cleared the way.
std::string unfinishable(const fs::path& recordPath, bool another, const Obstacle& obstacle) {
  const std::string name = obstacle.name.string();
  return fmt::format(
      "{} records a move into place that {} was interrupted in, and {} {} ({}), so the record and the files not yet "
      "moved were left as they are — move {} out of the folder and try again.",
      recordPath.string(), whoseRun(another), name, obstacle.removal ? "can't be removed" : "can't take its file",
      std::strerror(obstacle.error), name);
}

// The session file the move goes onto was renamed (or removed) beside the record: finishing it
// under the old name would leave two sessions, and leaving it would leave the package mixed.
std::string sessionRenamed(const fs::path& recordPath, bool another, const fs::path& session,
                           const std::vector<fs::path>& held) {
  const std::string kept = held.size() == 1 ? held.front().string() : "the package's session file";
  return fmt::format(
      "{} records a move into place that {} was interrupted in, onto the session file {}, which is no longer in the "
      "folder, so the record and the files not yet moved were left as they are — rename {} back to {} and try "
      "again.",
      recordPath.string(), whoseRun(another), session.string(), kept, session.filename().string());
}

// True when the record moves onto, and removes, only the names the writer gives the files of a
// package of footage `stem` whose session file is `session` (and the package's mark of a move
// that could not be finished, which a re-cut takes away), never removes a session file, and sets
// aside only a file at the movie's name, under a name the writer gives such a file.
bool namesOnlyPackageFiles(const MoveRecord& record, const std::string& session, const std::string& stem) {
  const auto ours = [&](const std::string& name) { return name == session || isPackageFileName(name, stem); };
  const std::string movie = PackageLayout{{}, stem}.movie().filename().string();
  for (const MoveRecord::SetAside& setAside : record.setAsides) {
    if (setAside.name != movie || !isSetAsideMovieName(setAside.as, stem)) return false;
  }
  for (const Move& move : record.moves) {
    if (!ours(move.to)) return false;
  }
  for (const MoveRecord::Removal& removal : record.removals) {
    if (isSessionFileName(removal.name) || !(ours(removal.name) || removal.name == kMixedMarkName)) return false;
  }
  return true;
}

// True when every file the record stages has a time of whole seconds: the disk keeps no finer
// ones, so a file written in the same second could pass for a staged one. One in a hundred files
// on a disk that keeps hundredths lands on a whole second.
bool timesAreCoarse(const MoveRecord& record) {
  return std::ranges::all_of(record.moves, [](const Move& move) { return move.staged.modified.tv_nsec == 0; });
}

// What becomes of a record.
enum class Fate {
  finish,      // its moves not yet made are made, and its removals
  refuse,      // the run stops; the record and its files stay
  setAside,    // moved out of the way whole, and said so; nothing it names is touched
  mayBeMixed,  // the same, once the package is marked as maybe mixed, and the run stops: it may
               // be a run's own whose move this one can't finish
  leave,       // this account can't act on it (it can write nothing in the folder, or only the
               // account whose run it was can finish it): it stays, and the run stops saying the
               // package may be mixed
};

struct Judgement {
  Fate fate = Fate::setAside;
  std::string why;  // refuse and leave: what is said; set aside: why it was not acted on
  bool another = false;
  uid_t owner = 0;        // the record's
  MoveProgress progress;  // to finish
};

Judgement judged(Fate fate, std::string_view why) { return {fate, std::string(why)}; }

// The session file a record leaves in place: the one it moves there (a record moves one), or
// the one the folder holds (`held`; a user may keep copies of it beside it). Nothing when it
// names none, or several.
std::optional<std::string> sessionOf(const MoveRecord& record, const std::vector<fs::path>& held) {
  std::optional<std::string> session;
  for (const Move& move : record.moves) {
    if (!isSessionFileName(move.to)) continue;
    if (session && *session != move.to) return std::nullopt;
    session = move.to;
  }
  if (!session && held.size() == 1) session = held.front().filename().string();
  return session;
}

// The file whose footage names the package's files: the staged session while its move is still
// to make, else the one at the session's name.
fs::path sessionLeftInPlace(const fs::path& folder, const MoveProgress& progress, const std::string& session) {
  for (const Move& move : progress.toMake) {
    if (move.to == session) return folder / move.from;
  }
  return folder / session;
}

// Why a record of this package, which may be a run's own, can't be proven its owner's run's and
// this folder's, if it can't: then the package may be left mixed. A record another account could
// have written, where that gives it more than it had, proves nothing.
std::optional<std::string> whyMayBeMixed(const fs::path& folder, const struct stat& dir, const RecordFile& file,
                                         const MoveRecord& record, const std::string& session,
                                         const MoveProgress& progress) {
  if (!writtenByOwnerAlone(file.st) && !everyAccountMayAlreadyChange(folder, dir, record, session))
    return std::string(kWrittenPastOwner);
  // Another name of it may be in another folder, whose run's it is.
  if (file.st.st_nlink != 1) return std::string(kLinkedElsewhere);
  if (record.earlier) return std::string(kEarlierBuild);
  if (timesAreCoarse(record)) return std::string(kCoarseTimes);
  if (!progress.foreign) return std::nullopt;
  return fmt::format(
      "can't be proven this folder's, as {} holds neither what it held before that run nor the file that run staged "
      "for it",
      (folder / *progress.foreign).string());
}

// What becomes of the record read as `file` where this user can write the folder: first whether
// it is this package's at all, then whether it is proven its run's own, then whether its names
// can take what it still moves.
Judgement judgedWhereWritable(const fs::path& folder, const fs::path& recordPath, const RecordFile& file,
                              bool another) {
  // A file it can't be judged without that this user may not read. Another account's run,
  // killed as it moved its files, left it: setting it aside would leave the package mixed for
  // good, so it stays for that account.
  const auto unreadable = [&](const fs::path& path) {
    if (!another) return judged(Fate::setAside, kNotOurs);
    return judged(Fate::leave, leftForThatAccount(recordPath, fmt::format("this user can't read {} ({})", path.string(),
                                                                          std::strerror(EACCES))));
  };
  if (file.unreadable) return unreadable(recordPath);
  const std::optional<MoveRecord> record = file.bytes ? parsedRecord(*file.bytes) : std::nullopt;
  std::error_code ec;
  const std::vector<fs::path> held = sessionFilesIn(folder, ec);
  if (record && ec) return judged(Fate::refuse, unlistable(folder, recordPath, another, ec));
  const std::optional<std::string> session = record ? sessionOf(*record, held) : std::nullopt;
  if (!session) return judged(Fate::setAside, kNotOurs);
  const bool sessionThere = heldAt(folder / *session).st.has_value();
  if (!sessionThere && !held.empty())
    return judged(Fate::refuse, sessionRenamed(recordPath, another, folder / *session, held));

  MoveProgress progress = progressIn(folder, *record, file.st.st_uid);
  const fs::path leftInPlace = sessionLeftInPlace(folder, progress, *session);
  if (mayNotRead(leftInPlace)) return unreadable(leftInPlace);
  const std::optional<std::string> stem = footageStem(leftInPlace);
  if (!stem || !namesOnlyPackageFiles(*record, *session, *stem)) return judged(Fate::setAside, kNotOurs);
  // The folder must hold that package: its name says so, or it holds its timeline.
  if (!isPackageFolder(folder) && !fs::is_regular_file(folder / (*stem + ".fcpxml"), ec))
    return judged(Fate::setAside, kNotOurs);

  struct stat dir {};
  const bool folderRead = ::stat(folder.c_str(), &dir) == 0;
  // The moves its owner's next run would make, which anyone who can write the folder could
  // make; not in a folder that lets only each file's owner move it.
  if (another && (!folderRead || (dir.st_mode & S_ISVTX) != 0))
    return judged(Fate::leave, leftForThatAccount(recordPath, "in this folder only that account can finish it"));
  if (auto why = whyMayBeMixed(folder, dir, file, *record, *session, progress)) return judged(Fate::mayBeMixed, *why);

  std::vector<fs::path> destinations, removals, freeNames;
  for (const MoveRecord::SetAside& setAside : progress.setAsides) {
    removals.push_back(folder / setAside.name);
    freeNames.push_back(folder / setAside.as);
  }
  for (const Move& move : progress.toMake) destinations.push_back(folder / move.to);
  for (const std::string& name : progress.removals) removals.push_back(folder / name);
  if (const auto obstacle = firstObstacle(destinations, removals, dir, freeNames))
    return judged(Fate::refuse, unfinishable(recordPath, another, *obstacle));
  return {Fate::finish, {}, another, file.st.st_uid, std::move(progress)};
}

// The one place that decides what becomes of the record at `recordPath`, found as `found`.
Judgement judge(const fs::path& folder, const fs::path& recordPath, const struct stat& found) {
  const RecordFile file = readRecord(recordPath, found);
  const bool another = file.st.st_uid != ::geteuid() && file.st.st_uid != ownerGivenHere(folder);
  Judgement judgement = judgedWhereWritable(folder, recordPath, file, another);
  // Where this user can write nothing, a record of this package's can be neither acted on nor
  // refused for something the user could clear: it stays, for an account that can write there.
  // One that no run of ours can have left is still set aside, which leaves it as it is there.
  if (judgement.fate != Fate::setAside && closedToThisUser(folder, EACCES))
    return judged(Fate::leave, leftAsItIs(folder, recordPath, another));
  return judgement;
}

// Moves a record that is not acted on, for the reason `why`, out of the way under the first
// free name of its own so that nothing is replaced: the name it took. Nothing where this user can
// write nothing (no run of theirs can replace it either); otherwise one that can't be moved stops
// the run (PackageUnlockable) with nothing else touched but the package's mark, when `marked`.
std::optional<fs::path> movedAside(const fs::path& folder, const fs::path& recordPath, std::string_view why,
                                   bool marked) {
  int error = 0;
  for (int n = 1; n <= 100; ++n) {
    const fs::path aside = folder / (n == 1 ? std::string(kSetAsideName) : fmt::format("{}-{}", kSetAsideName, n));
    if (renameNoReplace(recordPath, aside)) return aside;
    error = errno;
    if (error != EEXIST) break;
  }
  if (closedToThisUser(folder, error)) return std::nullopt;
  throw PackageUnlockable(fmt::format(
      "{} is a record of an unfinished move that {}, and it couldn't be set aside ({}), so {} — move it out of the "
      "folder and try again.",
      recordPath.string(), why, std::strerror(error),
      marked ? "it was left at its name and the package was marked as maybe holding parts of two cuts"
             : "nothing was changed"));
}

// What is said of a record set aside (or left, where nothing can be written) for the reason
// `why`, and one that may be a run's own, set aside once the package is marked as maybe mixed
// (so that moving the record out by hand, as a failure here advises, leaves the mark), stops
// the run.
std::string setAside(const fs::path& folder, const fs::path& recordPath, std::string_view why, Fate fate) {
  if (fate == Fate::mayBeMixed) markMayBeMixed(folder, recordPath);
  const std::optional<fs::path> aside = movedAside(folder, recordPath, why, fate == Fate::mayBeMixed);
  if (!aside) {
    return fmt::format(
        "The {} holds a record of an unfinished move that {}, {}, and nothing can be written there, so it was left "
        "as it is and nothing it names was moved or removed.",
        folderKind(folder), why, recordPath.string());
  }
  const std::string said = fmt::format(
      "The {} held a record of an unfinished move that {}, so it was set aside as {} and nothing it names "
      "was moved or removed",
      folderKind(folder), why, aside->string());
  if (fate == Fate::mayBeMixed) throw PackageMayBeMixed(fmt::format("{} — {}", said, kMayBeMixed));
  return said + ".";
}

// Why the staged name of `move`, whose destination still holds what it held before, can't be
// moved from: its file is gone, another file is there, or the staged file has another name too,
// through which it may have been written since.
std::string whyNotStaged(const fs::path& folder, const Move& move, uid_t owner) {
  const std::string from = (folder / move.from).string(), to = (folder / move.to).string();
  const Held held = heldAt(folder / move.from);
  if (held.known() && !held.st) return fmt::format("the file that run staged for {} is no longer at {}", to, from);
  if (held.st && held.st->st_nlink > 1) {
    struct stat once = *held.st;
    once.st_nlink = 1;
    if (isStagedFile(once, move.staged, owner)) {
      return fmt::format(
          "the file that run staged for {}, {}, has another name too, through which it may have been "
          "changed since",
          to, from);
    }
  }
  return fmt::format("{} holds another file than the one that run staged for {}", from, to);
}

// Makes the moves and removals the judgement found still to make; a name that fails meanwhile
// stops the run with the record and the files not yet moved left as they are. A move whose
// staged file is no longer there is not made, and once the rest is the run stops and says so.
std::optional<std::string> finish(const fs::path& folder, const fs::path& recordPath, const Judgement& judgement) {
  const auto stop = [&](const fs::path& name, bool removal) {
    const int error = errno;
    throw PackageUnlockable(unfinishable(recordPath, judgement.another, {name, removal, error}));
  };
  const MoveProgress& progress = judgement.progress;
  if (!progress.unstaged.empty()) markMayBeMixed(folder, recordPath);
  for (const MoveRecord::SetAside& setAside : progress.setAsides) {
    if (!renameNoReplace(folder / setAside.name, folder / setAside.as)) stop(folder / setAside.as, false);
  }
  for (const Move& move : progress.toMake) {
    if (std::rename((folder / move.from).c_str(), (folder / move.to).c_str()) != 0) stop(folder / move.to, false);
  }
  for (const std::string& name : progress.removals) {
    if (::unlink((folder / name).c_str()) != 0 && errno != ENOENT) stop(folder / name, true);
  }
  ::unlink(recordPath.c_str());
  if (!progress.unstaged.empty()) {
    const Move& unmade = progress.unstaged.front();
    throw PackageMayBeMixed(fmt::format(
        "{} recorded a move into place that {} was interrupted in, and {}, so {} was left as it is and the rest of "
        "the move was finished — {}",
        recordPath.string(), whoseRun(judgement.another), whyNotStaged(folder, unmade, judgement.owner),
        (folder / unmade.to).string(), kMayBeMixed));
  }
  if (!judgement.another) return std::nullopt;
  return "Finished moving into place the files of a Kestrane run of another account that was interrupted, so the "
         "package holds that run's cut.";
}

}  // namespace

std::optional<std::string> finishInterruptedMove(const fs::path& folder) {
  const fs::path recordPath = folder / kMoveRecordName;
  struct stat found {};
  if (::lstat(recordPath.c_str(), &found) != 0) return std::nullopt;
  const Judgement judgement = judge(folder, recordPath, found);
  switch (judgement.fate) {
    case Fate::finish: return finish(folder, recordPath, judgement);
    case Fate::refuse: throw PackageUnlockable(judgement.why);
    case Fate::setAside:
    case Fate::mayBeMixed: return setAside(folder, recordPath, judgement.why, judgement.fate);
    case Fate::leave: break;
  }
  throw PackageMayBeMixed(judgement.why);
}

}  // namespace kestrane::Pipeline::detail
