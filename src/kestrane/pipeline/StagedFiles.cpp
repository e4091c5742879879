#include "kestrane/pipeline/StagedFiles.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

// The record: a header, then "move" with the hidden name and the destination's name, or
// "remove" with a name, every field ended by a NUL, which no file name holds.
constexpr std::string_view kRecordHeader = "kestrane move 1";
// A package write moves a handful of files; a record far beyond that is none of ours.
constexpr off_t kLargestRecord = 64 * 1024;
constexpr std::string_view kSetAsideName = ".kestrane.move-unread";

void addField(std::string& record, std::string_view field) {
  record += field;
  record += '\0';
}

// Why `destination` can't take a file moved into the folder, if it can't: a folder (or
// anything else that isn't a file or a link) in its place, or a sticky folder where another
// user's file stands.
std::optional<int> inTheWay(const fs::path& destination, const struct stat& folder) {
  struct stat st {};
  if (::lstat(destination.c_str(), &st) != 0) return errno == ENOENT ? std::nullopt : std::optional(errno);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return EEXIST;
  const uid_t me = ::geteuid();
  if ((folder.st_mode & S_ISVTX) != 0 && st.st_uid != me && folder.st_uid != me && me != 0) return EPERM;
  return std::nullopt;
}

// So the record is on disk before any file is replaced.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::vector<std::string> fieldsOf(const std::string& record) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(record.substr(start, end - start));
  }
  return fields;
}

}  // namespace

StagedFiles::~StagedFiles() {
  // Once the move is recorded, the files not moved belong to the record.
  if (recorded_) return;
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::remove(aside.path().string());
}

void StagedFiles::write(const fs::path& destination, std::string_view bytes) {
  AtomicFile::Aside aside = AtomicFile::writeAside(destination, bytes);
  platform::ScratchFiles::add(aside.path().string());
  written_.emplace_back(std::move(aside), destination);
}

void StagedFiles::adopt(AtomicFile::Aside aside, const fs::path& destination) {
  platform::ScratchFiles::add(aside.path().string());
  written_.emplace_back(std::move(aside), destination);
}

void StagedFiles::removeOnCommit(const fs::path& destination) { removals_.push_back(destination); }

void StagedFiles::commit() {
  // Every destination is checked before the first move, so one that can't take its file leaves
  // the package as it was instead of half replaced.
  struct stat folder {};
  if (::stat(folder_.c_str(), &folder) != 0) throw AtomicFile::WriteError(folder_, std::strerror(errno));
  if (::access(folder_.c_str(), W_OK | X_OK) != 0) throw AtomicFile::WriteError(folder_, std::strerror(errno));
  for (const auto& [aside, destination] : written_) {
    if (const auto error = inTheWay(destination, folder))
      throw AtomicFile::WriteError(destination, std::strerror(*error));
  }
  for (const auto& path : removals_) {
    if (const auto error = inTheWay(path, folder)) throw AtomicFile::WriteError(path, std::strerror(*error));
  }

  std::string record;
  addField(record, kRecordHeader);
  for (const auto& [aside, destination] : written_) {
    addField(record, "move");
    addField(record, aside.path().filename().string());
    addField(record, destination.filename().string());
  }
  for (const auto& path : removals_) {
    addField(record, "remove");
    addField(record, path.filename().string());
  }
  const fs::path recordPath = folder_ / kMoveRecordName;
  AtomicFile::write(recordPath, record);
  syncFolder(folder_);
  recorded_ = true;
  // A forced exit from here on leaves the staged files for the next run to move.
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::forget(aside.path().string());

  for (const auto& [aside, destination] : written_) {
    if (std::rename(aside.path().c_str(), destination.c_str()) != 0) {
      throw AtomicFile::WriteError(destination, std::strerror(errno));
    }
  }
  for (const auto& path : removals_) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  written_.clear();
  removals_.clear();
  ::unlink(recordPath.c_str());
}

namespace {

struct Move {
  std::string from, to;
};
struct Record {
  std::vector<Move> moves;
  std::vector<std::string> removals;
};

// One file in the folder itself: a record naming a path elsewhere is none of ours.
bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// The record's moves and removals, or nothing when it is not laid out as this program writes
// one: every move takes one of its own staged files to a name in the folder.
std::optional<Record> parsedRecord(const std::string& bytes) {
  const std::vector<std::string> fields = fieldsOf(bytes);
  if (fields.empty() || fields.front() != kRecordHeader) return std::nullopt;
  Record record;
  for (std::size_t i = 1; i < fields.size();) {
    if (fields[i] == "move" && i + 2 < fields.size()) {
      if (!AtomicFile::isAsideName(fields[i + 1]) || !isPlainName(fields[i + 2])) return std::nullopt;
      record.moves.push_back({fields[i + 1], fields[i + 2]});
      i += 3;
    } else if (fields[i] == "remove" && i + 1 < fields.size()) {
      if (!isPlainName(fields[i + 1])) return std::nullopt;
      record.removals.push_back(fields[i + 1]);
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return record;
}

// What a record can't be judged without, and this user can't read: the record of another
// account's run, or the session it leaves in place.
struct Unreadable {
  fs::path path;
  int error = 0;
};

// The stem of the footage `sessionFile` was cut from, which names every other file of its
// package whatever the session file is called. Nothing when it is no session of this program's.
std::optional<std::string> footageStem(const fs::path& sessionFile) {
  if (::faccessat(AT_FDCWD, sessionFile.c_str(), R_OK, AT_EACCESS) != 0 && errno == EACCES) {
    throw Unreadable{sessionFile, EACCES};
  }
  try {
    return sourceStem(KestraneSession::read(sessionFile).source.path);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// True when the record acts only on the files the writer of the package in `folder` gives its
// own names: one session file (one the folder holds, if it holds any: a user may keep copies
// of the session beside it), the files named after the footage of the session it leaves in
// place and the fixed names, and never removes the session. The folder must hold that
// package: its name says so, or it holds its timeline.
bool actsOnlyOnThisPackage(const Record& record, const fs::path& folder) {
  std::error_code ec;
  const std::vector<fs::path> held = sessionFilesIn(folder, ec);
  if (ec) return false;
  const auto isHeld = [&](const std::string& name) {
    return held.empty() || std::ranges::any_of(held, [&](const fs::path& p) { return p.filename() == name; });
  };
  std::optional<std::string> session;
  if (held.size() == 1) session = held.front().filename().string();
  // The session the record leaves in place: the one it moves there, while that is still staged.
  std::optional<fs::path> leftInPlace;
  for (const Move& move : record.moves) {
    if (!isSessionFileName(move.to)) continue;
    if (!isHeld(move.to) || (session && *session != move.to)) return false;
    session = move.to;
    struct stat st {};
    if (::lstat((folder / move.from).c_str(), &st) == 0 && S_ISREG(st.st_mode)) leftInPlace = folder / move.from;
  }
  if (!session || !isSessionFileName(*session)) return false;
  const std::optional<std::string> stem = footageStem(leftInPlace.value_or(folder / *session));
  if (!stem) return false;
  std::error_code ignored;
  if (!isPackageFolder(folder) && !fs::is_regular_file(folder / (*stem + ".fcpxml"), ignored)) return false;
  const auto ours = [&](const std::string& name) { return name == *session || isPackageFileName(name, *stem); };
  for (const Move& move : record.moves) {
    if (!ours(move.to)) return false;
  }
  for (const std::string& name : record.removals) {
    if (isSessionFileName(name) || !ours(name)) return false;
  }
  return true;
}

// Renames without replacing anything: false with errno set (EEXIST when `to` is taken).
bool renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A file system that can't rename so: a file is linked under the new name, which fails when
  // it is taken, and then unlinked under the old.
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = ENOTSUP;
    return false;
  }
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// Moves a record that is not acted on out of the way, under the first free name of its own so
// that nothing is replaced; the sentence that says so. Where this user can write nothing it
// stays, and that is said; otherwise one that can't be moved stops the run (PackageUnlockable)
// with nothing touched.
std::string setAside(const fs::path& folder, const fs::path& recordPath, bool isPackage) {
  int error = 0;
  for (int n = 1; n <= 100; ++n) {
    const fs::path aside = folder / (n == 1 ? std::string(kSetAsideName) : fmt::format("{}-{}", kSetAsideName, n));
    if (renameNoReplace(recordPath, aside)) {
      return fmt::format(
          "The {} held a record of an unfinished move that this program can't have written, so it was set aside as {} "
          "and nothing it names was moved or removed.",
          isPackage ? "package" : "folder", aside.string());
    }
    error = errno;
    if (error != EEXIST) break;
  }
  // Where this user can write nothing, no run of theirs can replace it either.
  if (detail::closedToThisUser(folder, error)) {
    return fmt::format(
        "The {} holds a record of an unfinished move that this program can't have written, {}, and nothing can be "
        "written there, so it was left as it is and nothing it names was moved or removed.",
        isPackage ? "package" : "folder", recordPath.string());
  }
  throw PackageUnlockable(fmt::format(
      "{} is a record of an unfinished move that this program can't have written, and it couldn't be set aside ({}), "
      "so nothing was changed — move it out of the folder and try again.",
      recordPath.string(), std::strerror(error)));
}

// The record's bytes, read without following a link and never more than a record can hold.
std::optional<std::string> recordBytes(const fs::path& recordPath) {
  const int fd = ::open(recordPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) throw Unreadable{recordPath, EACCES};
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kLargestRecord) {
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    if (n == st.st_size) bytes = std::move(text);
  }
  ::close(fd);
  return bytes;
}

std::string_view whoseRun(bool another) { return another ? "a Kestrane run of another account" : "a Kestrane run"; }

// Where this user can write nothing, no run of theirs can finish the record either: it stays,
// and that is said.
std::string leftAsItIs(const fs::path& folder, const fs::path& recordPath, bool another) {
  return fmt::format(
      "The {} holds {}, the record of a move into place that {} was interrupted in, and nothing can be written "
      "there, so it was left as it is.",
      isPackageFolder(folder) ? "package" : "folder", recordPath.string(), whoseRun(another));
}

// A name the record's move can't be finished on: the record and the files not yet moved stay
// for a run after the user has cleared the way.
[[noreturn]] void refuseUnfinished(const fs::path& recordPath, bool another, const fs::path& name,
                                   std::string_view what, int error) {
  throw PackageUnlockable(fmt::format(
      "{} records a move into place that {} was interrupted in, and {} {} ({}), so the record and the files not yet "
      "moved were left as they are — move {} out of the folder and try again.",
      recordPath.string(), whoseRun(another), name.string(), what, std::strerror(error), name.string()));
}

}  // namespace

std::optional<std::string> finishInterruptedMove(const fs::path& folder) {
  const fs::path recordPath = folder / kMoveRecordName;
  struct stat st {};
  if (::lstat(recordPath.c_str(), &st) != 0) return std::nullopt;
  const bool another = st.st_uid != ::geteuid();
  std::optional<Record> record;
  std::optional<std::string> note;
  try {
    const auto bytes = recordBytes(recordPath);
    record = bytes ? parsedRecord(*bytes) : std::nullopt;
    if (record && !actsOnlyOnThisPackage(*record, folder)) record.reset();
  } catch (const Unreadable& unreadable) {
    // Another account's run, killed as it moved its files, left a record this user can't judge:
    // setting it aside would leave the package mixed for good, so it stays for that account.
    if (!another) return setAside(folder, recordPath, isPackageFolder(folder));
    if (closedToThisUser(folder, EACCES)) return leftAsItIs(folder, recordPath, another);
    throw PackageUnlockable(fmt::format(
        "{} records a move into place that a Kestrane run of another account was interrupted in, and this user can't "
        "read {} ({}), so nothing was changed — once that account has opened the package with Kestrane, try again.",
        recordPath.string(), unreadable.path.string(), std::strerror(unreadable.error)));
  }
  if (!record) return setAside(folder, recordPath, isPackageFolder(folder));
  if (closedToThisUser(folder, EACCES)) return leftAsItIs(folder, recordPath, another);
  struct stat dir {};
  const bool folderRead = ::stat(folder.c_str(), &dir) == 0;
  if (another) {
    // The moves its owner's next run would make, which anyone who can write the folder could
    // make; not in a folder that lets only each file's owner move it.
    if (!folderRead || (dir.st_mode & S_ISVTX) != 0) {
      throw PackageUnlockable(
          fmt::format("{} records a move into place that a Kestrane run of another account was interrupted in, and "
                      "in this folder only that account can finish it, so nothing was changed — once that account "
                      "has opened the package with Kestrane, try again.",
                      recordPath.string()));
    }
    note =
        "Finished moving into place the files of a Kestrane run of another account that was interrupted, so the "
        "package holds that run's cut.";
  }
  // One whose staged file is gone was moved before the run ended.
  std::vector<Move> pending;
  for (const Move& move : record->moves) {
    struct stat staged {};
    if (::lstat((folder / move.from).c_str(), &staged) == 0 && S_ISREG(staged.st_mode)) pending.push_back(move);
  }
  // Every name is checked before the first move, so one in the way leaves the package no more
  // mixed than the run left it.
  for (const Move& move : pending) {
    if (const auto error = inTheWay(folder / move.to, dir))
      refuseUnfinished(recordPath, another, folder / move.to, "can't take its file", *error);
  }
  for (const auto& name : record->removals) {
    if (const auto error = inTheWay(folder / name, dir))
      refuseUnfinished(recordPath, another, folder / name, "can't be removed", *error);
  }
  for (const Move& move : pending) {
    if (std::rename((folder / move.from).c_str(), (folder / move.to).c_str()) != 0) {
      const int error = errno;
      refuseUnfinished(recordPath, another, folder / move.to, "can't take its file", error);
    }
  }
  for (const auto& name : record->removals) {
    if (::unlink((folder / name).c_str()) != 0 && errno != ENOENT) {
      const int error = errno;
      refuseUnfinished(recordPath, another, folder / name, "can't be removed", error);
    }
  }
  ::unlink(recordPath.c_str());
  return note;
}

}  // namespace kestrane::Pipeline::detail
