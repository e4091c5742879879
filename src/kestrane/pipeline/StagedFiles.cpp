#include "kestrane/pipeline/StagedFiles.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

// The stem of the footage the session file in `folder` was cut from: a re-cut of a session
// file renamed by hand still names the package's other files after it. Nothing when it can't
// be read.
std::optional<std::string> footageStem(const fs::path& sessionFile) {
  try {
    return sourceStem(KestraneSession::read(sessionFile).source.path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// True when the record acts only on the files the writer of the package in `folder` gives its
// own names: one session file (the one the folder holds, if it holds one), the files named
// after that session's stem (or its footage's) and the fixed names, and never removes the
// session. The folder must hold that package: its name says so, or it holds its timeline.
bool actsOnlyOnThisPackage(const Record& record, const fs::path& folder) {
  std::error_code ec;
  const std::vector<fs::path> held = sessionFilesIn(folder, ec);
  if (ec || held.size() > 1) return false;
  std::optional<std::string> session;
  if (!held.empty()) session = held.front().filename().string();
  for (const Move& move : record.moves) {
    if (!isSessionFileName(move.to)) continue;
    if (session && *session != move.to) return false;
    session = move.to;
  }
  if (!session || !isSessionFileName(*session)) return false;
  const bool isPackage = isPackageFolder(folder);
  const auto namedAfter = [&](const std::string& stem) {
    std::error_code ignored;
    if (!isPackage && !fs::is_regular_file(folder / (stem + ".fcpxml"), ignored)) {
      return false;
    }
    const auto ours = [&](const std::string& name) { return name == *session || isPackageFileName(name, stem); };
    for (const Move& move : record.moves) {
      if (!ours(move.to)) return false;
    }
    for (const std::string& name : record.removals) {
      if (name.ends_with(".kestrane.json") || !ours(name)) return false;
    }
    return true;
  };
  if (namedAfter(sessionStem(*session))) return true;
  if (held.empty()) return false;
  const std::optional<std::string> stem = footageStem(held.front());
  return stem && namedAfter(*stem);
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

}  // namespace

std::optional<std::string> finishInterruptedMove(const fs::path& folder) {
  const fs::path recordPath = folder / kMoveRecordName;
  struct stat st {};
  if (::lstat(recordPath.c_str(), &st) != 0) return std::nullopt;
  const auto bytes = recordBytes(recordPath);
  std::optional<Record> record = bytes ? parsedRecord(*bytes) : std::nullopt;
  if (record && (st.st_uid != ::geteuid() || !actsOnlyOnThisPackage(*record, folder))) record.reset();
  if (!record) return setAside(folder, recordPath, isPackageFolder(folder));
  for (const Move& move : record->moves) {
    struct stat staged {};
    // One that is gone was moved before the run ended.
    if (::lstat((folder / move.from).c_str(), &staged) == 0 && S_ISREG(staged.st_mode)) {
      std::rename((folder / move.from).c_str(), (folder / move.to).c_str());
    }
  }
  for (const auto& name : record->removals) ::unlink((folder / name).c_str());
  ::unlink(recordPath.c_str());
  return std::nullopt;
}

}  // namespace kestrane::Pipeline::detail
