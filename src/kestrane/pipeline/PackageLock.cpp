#include "kestrane/pipeline/PackageLock.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/HeldFiles.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

// Every folder of a package that files are written aside in.
void sweepLeftovers(const std::filesystem::path& dir) {
  const std::filesystem::path assets = PackageLayout{dir, ""}.assets();
  for (const auto& folder : {dir, assets, assets / ".compositions"}) AtomicFile::sweepAbandoned(folder);
}

// The lock file, opened without following a link or waiting on a pipe; -1 when the folder can't
// take one (so nothing can be written there either). Throws when the name is taken by anything
// but a plain file, which no run can hold.
int openLockFile(const std::filesystem::path& file) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  // Another user's lock file is held just as well through a read-only opening.
  if (fd < 0 && errno == EACCES) fd = ::open(file.c_str(), O_RDONLY | kFlags);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
  if (fd >= 0) ::close(fd);
  if (fd < 0 && ::lstat(file.c_str(), &st) != 0) return -1;
  if (fd < 0 && S_ISREG(st.st_mode)) return -1;
  throw PackageUnlockable("Can't lock the package: " + file.string() +
                          " is not a plain file, so another run could not be kept out — remove it and try again.");
}

}  // namespace

PackageLock::PackageLock(const std::filesystem::path& dir) : file_(dir / ".kestrane.lock") {
  // The run before may have removed the file it held just as this one opened it: then this one
  // holds a file no longer in the folder, and opens it again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = openLockFile(file_);
    if (fd < 0) return;
    const HeldFiles::Lock lock = HeldFiles::tryLock(fd);
    if (lock == HeldFiles::Lock::heldElsewhere) {
      ::close(fd);
      throw PackageBusy("Another Kestrane job is writing the package " + dir.string() +
                        " — try again once it has finished.");
    }
    // Where the file system keeps no locks, nothing can be told about other writers.
    if (lock == HeldFiles::Lock::unavailable) {
      ::close(fd);
      return;
    }
    if (HeldFiles::stillNamed(fd, file_)) {
      fd_ = fd;
      break;
    }
    ::close(fd);
  }
  if (fd_ < 0) return;
  // A forced exit takes the file away too.
  platform::ScratchFiles::add(file_.string());
  if (auto warning = finishInterruptedMove(dir)) warnings_.push_back(std::move(*warning));
  sweepLeftovers(dir);
}

PackageLock::~PackageLock() {
  if (fd_ < 0) return;
  // Removed while still held, so a run that opened it meanwhile sees it went and opens anew.
  platform::ScratchFiles::remove(file_.string());
  ::close(fd_);
}

}  // namespace kestrane::Pipeline::detail
