#include "kestrane/pipeline/StagedFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kestrane/pipeline/MoveRecord.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

// So the record is on disk before any file is replaced.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

FileIdentity stagedIdentity(const AtomicFile::Aside& aside) {
  struct stat st {};
  const int found = aside.fd() >= 0 ? ::fstat(aside.fd(), &st) : ::lstat(aside.path().c_str(), &st);
  if (found != 0) throw AtomicFile::WriteError(aside.path(), std::strerror(errno));
  return identityOf(st);
}

// What `path` holds before the move: nothing, or a file.
std::optional<FileIdentity> heldNow(const fs::path& path) {
  const Held held = heldAt(path);
  if (!held.known()) throw AtomicFile::WriteError(path, std::strerror(held.error));
  return held.st ? std::optional(identityOf(*held.st)) : std::nullopt;
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

void StagedFiles::setAside(const fs::path& name, const fs::path& as) { setAsides_.emplace_back(name, as); }

void StagedFiles::commit() {
  struct stat folder {};
  if (::stat(folder_.c_str(), &folder) != 0) throw AtomicFile::WriteError(folder_, std::strerror(errno));
  if (::access(folder_.c_str(), W_OK | X_OK) != 0) throw AtomicFile::WriteError(folder_, std::strerror(errno));
  MoveRecord record;
  std::vector<fs::path> destinations, vacated = removals_, freeNames;
  for (const auto& [aside, destination] : written_) destinations.push_back(destination);
  for (const auto& [name, as] : setAsides_) {
    // Only a plain file is kept so: one gone meanwhile needs nothing.
    const std::optional<FileIdentity> file = heldNow(name);
    if (!file || file->kind != S_IFREG) continue;
    record.setAsides.push_back({name.filename().string(), as.filename().string(), *file});
    vacated.push_back(name);
    freeNames.push_back(as);
  }
  if (const auto obstacle = firstObstacle(destinations, vacated, folder, freeNames))
    throw AtomicFile::WriteError(obstacle->name, std::strerror(obstacle->error));

  for (const auto& [aside, destination] : written_) {
    record.moves.push_back({aside.path().filename().string(), destination.filename().string(), stagedIdentity(aside),
                            heldNow(destination)});
  }
  for (const auto& path : removals_) record.removals.push_back({path.filename().string(), heldNow(path)});

  // Off the list a forced exit (a second stop) clears before the record exists, so no record
  // ever outlives a staged file it still has to move: an exit before the record leaves them to
  // the next run's sweep, one after it leaves them for the next run to move. A record that can't
  // be written leaves them to the destructor.
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::forget(aside.path().string());
  const fs::path recordPath = folder_ / kMoveRecordName;
  // Writable by no account but this one, whatever the umask, so no other can have written it.
  AtomicFile::write(recordPath, recordText(record), AtomicFile::newFileMode() & ~(S_IWGRP | S_IWOTH));
  syncFolder(folder_);
  recorded_ = true;

  for (const MoveRecord::SetAside& setAside : record.setAsides) {
    if (!renameNoReplace(folder_ / setAside.name, folder_ / setAside.as)) {
      throw MoveLeftHalfway(folder_ / setAside.as, std::strerror(errno));
    }
  }
  for (const auto& [aside, destination] : written_) {
    if (std::rename(aside.path().c_str(), destination.c_str()) != 0) {
      throw MoveLeftHalfway(destination, std::strerror(errno));
    }
  }
  for (const auto& path : removals_) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  written_.clear();
  removals_.clear();
  setAsides_.clear();
  ::unlink(recordPath.c_str());
}

}  // namespace kestrane::Pipeline::detail
