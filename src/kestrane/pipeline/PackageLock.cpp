#include "kestrane/pipeline/PackageLock.hpp"

#include <fcntl.h>
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

}  // namespace

PackageLock::PackageLock(const std::filesystem::path& dir) : file_(dir / ".kestrane.lock") {
  // The run before may have removed the file it held just as this one opened it: then this one
  // holds a file no longer in the folder, and opens it again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
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
  finishInterruptedMove(dir);
  sweepLeftovers(dir);
}

PackageLock::~PackageLock() {
  if (fd_ < 0) return;
  // Removed while still held, so a run that opened it meanwhile sees it went and opens anew.
  platform::ScratchFiles::remove(file_.string());
  ::close(fd_);
}

}  // namespace kestrane::Pipeline::detail
