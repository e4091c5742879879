#include "kestrane/pipeline/PackageLock.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/HeldFiles.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/InterruptedMove.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLockName = ".kestrane.lock";
constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
// Whoever makes the lock file, every user who can reach the package can open it and so be kept
// out by it, whatever umask its maker ran under. Writable too, as a lock over NFS needs a file
// open for writing; it never holds anything.
constexpr mode_t kLockMode = 0666;

// Every folder of a package that files are written aside in.
std::size_t sweepLeftovers(const fs::path& dir) {
  const fs::path assets = PackageLayout{dir, ""}.assets();
  std::size_t swept = 0;
  for (const auto& folder : {dir, assets, assets / ".compositions"}) swept += AtomicFile::sweepAbandoned(folder);
  return swept;
}

[[noreturn]] void refuse(const std::string& why) { throw PackageUnlockable("Can't lock the package: " + why); }

[[noreturn]] void refuseNotPlain(const fs::path& file) {
  refuse(file.string() + " is not a plain file, so another run could not be kept out — remove it and try again.");
}

// A folder this user can't write (or one on a read-only file system, or one that is gone) takes
// no file from this run either, so the run needs no lock there: its writes fail on their own.
bool nothingCanBeWritten(const fs::path& folder, int error) {
  return error == ENOENT || error == ENOTDIR || closedToThisUser(folder, error);
}

// Makes the lock file under a hidden name of the program's own, with its mode and already held,
// and only then gives it the lock's name, so no other run finds it unopenable or free for a
// moment. -1 with errno set when it can't (EEXIST: another run made it meanwhile).
int createLockFile(const fs::path& file) {
  const fs::path staged = file.parent_path() / AtomicFile::newAsideName();
  const int fd = ::open(staged.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, kLockMode);
  if (fd < 0) return -1;
  ::fchmod(fd, kLockMode);
  HeldFiles::tryLock(fd);
  const int linked = ::link(staged.c_str(), file.c_str());
  const int error = errno;
  ::unlink(staged.c_str());
  if (linked == 0) return fd;
  ::close(fd);
  if (error == EEXIST) {
    errno = EEXIST;
    return -1;
  }
  // A file system without hard links: made under its own name, its mode set a moment later.
  const int direct = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, kLockMode);
  if (direct >= 0) ::fchmod(direct, kLockMode);
  return direct;
}

// The lock file, opened without following a link or waiting on a pipe, made when it is not
// there; -1 only when nothing can be written in the folder. Throws PackageUnlockable when the
// name is taken by anything but a plain file, or the file can't be opened or made.
int openLockFile(const fs::path& file) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(file.c_str(), O_RDWR | kFlags);
    // A lock file made before its mode was set for all, or on a read-only disk, is held just as
    // well through a read-only opening.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(file.c_str(), O_RDONLY | kFlags);
    struct stat st {};
    if (fd >= 0) {
      if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
      ::close(fd);
      refuseNotPlain(file);
    }
    const int error = errno;
    if (error == ENOENT) {
      fd = createLockFile(file);
      if (fd >= 0) return fd;
      const int made = errno;
      if (made == EEXIST) continue;
      if (nothingCanBeWritten(file.parent_path(), made)) return -1;
      refuse(
          fmt::format("{} can't be made ({}), so another run could not be kept out — make room for it, or let "
                      "this user write the folder, and try again.",
                      file.string(), std::strerror(made)));
    }
    if (::lstat(file.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // removed by the run that held it just now
      if (nothingCanBeWritten(file.parent_path(), errno)) return -1;
      refuse(fmt::format("{} can't be read ({}), so another run could not be kept out — try again once it can.",
                         file.string(), std::strerror(errno)));
    }
    if (!S_ISREG(st.st_mode)) refuseNotPlain(file);
    refuse(
        fmt::format("this user can't open {} ({}), so another run could not be kept out — once no Kestrane job "
                    "is writing the package, remove it (or have its owner remove it) and try again.",
                    file.string(), std::strerror(error)));
  }
  refuse(fmt::format("{} kept changing while it was being opened, so another run could not be kept out — try again.",
                     file.string()));
}

bool holdsOnlyLeftovers(const fs::path& dir, std::size_t& staged) {
  staged = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (AtomicFile::isAsideName(name)) {
      ++staged;
    } else if (name != kLockName) {
      return false;
    }
  }
  return !ec;
}

std::string hiddenFiles(std::size_t count) { return fmt::format("{} hidden file{}", count, count == 1 ? "" : "s"); }

}  // namespace

bool closedToThisUser(const fs::path& folder, int error) {
  return error == EROFS ||
         ((error == EACCES || error == EPERM) && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0);
}

PackageLock::PackageLock(const fs::path& dir) : file_(dir / kLockName) {
  // The run before may have removed the file it held just as this one opened it: then this one
  // holds a file no longer in the folder, and opens it again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = openLockFile(file_);
    if (fd < 0) {
      // Nothing can be written here, so no run needs keeping out; a move record left here can't
      // be acted on or set aside either: the job hears that it stays, and stops where it may be
      // a run's own, as the package may then hold parts of two cuts.
      if (auto warning = finishInterruptedMove(dir)) warnings_.push_back(std::move(*warning));
      return;
    }
    const HeldFiles::Lock lock = HeldFiles::tryLock(fd);
    const int error = errno;
    if (lock == HeldFiles::Lock::heldElsewhere) {
      ::close(fd);
      throw PackageBusy("Another Kestrane job is writing the package " + dir.string() +
                        " — try again once it has finished.");
    }
    if (lock == HeldFiles::Lock::unavailable) {
      ::close(fd);
      refuse(
          fmt::format("the file system holding {} keeps no locks ({}), so another run could not be kept out — "
                      "move the package to a disk that does and try again.",
                      file_.string(), std::strerror(error)));
    }
    if (HeldFiles::stillNamed(fd, file_)) {
      fd_ = fd;
      break;
    }
    ::close(fd);
  }
  if (fd_ < 0) {
    throw PackageBusy("Another Kestrane job is writing the package " + dir.string() +
                      " — try again once it has finished.");
  }
  // A forced exit takes the file away too.
  platform::ScratchFiles::add(file_.string());
  try {
    if (auto warning = finishInterruptedMove(dir)) warnings_.push_back(std::move(*warning));
    swept_ = sweepLeftovers(dir);
  } catch (...) {
    release();
    throw;
  }
}

PackageLock::~PackageLock() { release(); }

void PackageLock::release() {
  if (fd_ < 0) return;
  // Removed while still held, so a run that opened it meanwhile sees it went and opens anew.
  platform::ScratchFiles::remove(file_.string());
  ::close(fd_);
  fd_ = -1;
}

std::optional<ReclaimedFolder> reclaimAbandonedFolder(const fs::path& dir) {
  // Only hidden files of the program's own: a folder just made by another run holds none yet,
  // and one that holds anything else is a package (or the user's) that is not for taking.
  std::size_t staged = 0;
  if (!holdsOnlyLeftovers(dir, staged) || staged == 0) return std::nullopt;
  auto lock = std::make_shared<const PackageLock>(dir);
  const std::size_t swept = lock->swept();
  if (!holdsOnlyLeftovers(dir, staged) || staged != 0 || swept == 0) return std::nullopt;
  return ReclaimedFolder{std::move(lock),
                         fmt::format("Removed {} that a Kestrane run stopped before any of its files was in place "
                                     "left in {}",
                                     hiddenFiles(swept), dir.string())};
}

std::optional<std::string> clearAbandonedFolder(const fs::path& dir) {
  if (!isPackageFolder(dir)) return std::nullopt;
  std::optional<ReclaimedFolder> reclaimed = reclaimAbandonedFolder(dir);
  if (!reclaimed) return std::nullopt;
  std::string note = std::move(reclaimed->note);
  reclaimed.reset();  // lets the lock go, and its file with it
  if (::rmdir(dir.c_str()) == 0) note += ", and then the folder, which held nothing else";
  return note + ".";
}

}  // namespace kestrane::Pipeline::detail
