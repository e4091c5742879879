#include "kestrane/model/AtomicFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kestrane::AtomicFile {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) { throw WriteError(path, std::strerror(error)); }

}  // namespace

void write(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path aside = writeAside(path, bytes);
  if (::rename(aside.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(aside.c_str());
    fail(path, error);
  }
}

std::filesystem::path writeAside(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  // A short name of its own, so a destination whose name is long but valid never makes it fail.
  std::string aside = (folder / ".kestrane-XXXXXX").string();
  const int fd = ::mkstemp(aside.data());
  if (fd < 0) fail(path, errno);

  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      ::unlink(aside.c_str());
      fail(path, error);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; a document is as readable as any other file we write.
  ::fchmod(fd, 0644);
  int error = ::fsync(fd) == 0 ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(aside.c_str());
    fail(path, error);
  }
  return aside;
}

}  // namespace kestrane::AtomicFile
