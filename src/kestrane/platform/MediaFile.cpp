#include "kestrane/platform/MediaFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace kestrane::platform {

namespace {

FileStamp stampOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
          static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

MediaFileError openFailure(const std::string& path, int error) {
  if (error == ENOENT || error == ENOTDIR) return {path, "no such file", true};
  if (error == EISDIR) return {path, "it is a folder"};
  if (error == EACCES || error == EPERM) return {path, "no permission to read it"};
  return {path, std::strerror(error)};
}

// Why what `st` describes is not a media file to read; empty when it is a plain file with bytes.
std::string problemOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_size == 0) return "the file is empty";
  return {};
}

}  // namespace

std::optional<std::string> MediaFile::problemAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return openFailure(path, errno).reason();
  if (std::string problem = problemOf(st); !problem.empty()) return problem;
  if (::access(path.c_str(), R_OK) != 0) return openFailure(path, errno).reason();
  return std::nullopt;
}

std::shared_ptr<const MediaFile> MediaFile::open(const std::string& path) {
  // Anything but a plain file is refused unopened: opening a FIFO would let a writer waiting on
  // it go on into a pipe nobody reads.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw openFailure(path, errno);
  if (std::string problem = problemOf(st); !problem.empty()) throw MediaFileError(path, problem);
  // Something else may take the name meanwhile: without O_NONBLOCK a FIFO would hold the caller
  // until a writer came along, and what was opened is looked at again.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw openFailure(path, errno);
  std::string problem = ::fstat(fd, &st) != 0 ? std::strerror(errno) : problemOf(st);
  if (!problem.empty()) {
    ::close(fd);
    throw MediaFileError(path, problem);
  }
  // Reads of a plain file never wait anyway; the flag goes so nothing reads it otherwise.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::shared_ptr<const MediaFile>(new MediaFile(path, fd, stampOf(st)));
}

MediaFile::~MediaFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool MediaFile::unchanged() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 && stampOf(st) == stamp_;
}

bool MediaFile::stillAtItsPath() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0 && stampOf(st) == stamp_ && unchanged();
}

}  // namespace kestrane::platform
