#include "kestrane/pipeline/StagedFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestrane/pipeline/PackageContents.hpp"
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

// The record's moves and removals, or nothing when it is not a record this program would
// write: every move takes one of its own staged files to a package file's name, and every
// removal is of a package file.
std::optional<Record> parsedRecord(const std::string& bytes) {
  const std::vector<std::string> fields = fieldsOf(bytes);
  if (fields.empty() || fields.front() != kRecordHeader) return std::nullopt;
  Record record;
  for (std::size_t i = 1; i < fields.size();) {
    if (fields[i] == "move" && i + 2 < fields.size()) {
      if (!AtomicFile::isAsideName(fields[i + 1]) || !isPackageFileName(fields[i + 2])) return std::nullopt;
      record.moves.push_back({fields[i + 1], fields[i + 2]});
      i += 3;
    } else if (fields[i] == "remove" && i + 1 < fields.size()) {
      if (!isPackageFileName(fields[i + 1])) return std::nullopt;
      record.removals.push_back(fields[i + 1]);
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return record;
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
  const std::optional<Record> record = bytes ? parsedRecord(*bytes) : std::nullopt;
  if (!record || st.st_uid != ::geteuid()) {
    const fs::path setAside = folder / kSetAsideName;
    if (std::rename(recordPath.c_str(), setAside.c_str()) != 0) {
      std::error_code ignored;
      fs::remove_all(recordPath, ignored);
    }
    return "The package held a record of an unfinished move that this program can't have written, so it was set "
           "aside as " +
           setAside.string() + " and nothing it names was moved or removed.";
  }
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
