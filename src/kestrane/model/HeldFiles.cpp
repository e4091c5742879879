#include "kestrane/model/HeldFiles.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrane::HeldFiles {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

Lock tryLock(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return Lock::heldElsewhere;
    if (errno != EINTR) return Lock::unavailable;
  }
  return Lock::taken;
}

bool stillNamed(int fd, const std::filesystem::path& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && sameFile(opened, named);
}

bool removeIfAbandoned(const std::filesystem::path& path, bool folder) {
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0) return false;
  const bool kindFits = folder ? S_ISDIR(named.st_mode) : S_ISREG(named.st_mode);
  if (!kindFits || named.st_uid != ::geteuid()) return false;
  // No link is followed and no device or pipe is waited on, even if one took the name meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  struct stat opened {};
  bool removed = false;
  if (::fstat(fd, &opened) == 0 && sameFile(opened, named) && tryLock(fd) == Lock::taken && stillNamed(fd, path)) {
    if (folder) {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
      removed = !ec;
    } else {
      removed = ::unlink(path.c_str()) == 0;
    }
  }
  ::close(fd);
  return removed;
}

}  // namespace kestrane::HeldFiles
