#include "kestrane/platform/MediaFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

std::shared_ptr<const MediaFile> MediaFile::open(const std::string& path) {
  // Without O_NONBLOCK a FIFO would hold the caller until a writer came along.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw openFailure(path, errno);
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) problem = std::strerror(errno);
  else if (S_ISDIR(st.st_mode)) problem = "it is a folder";
  else if (!S_ISREG(st.st_mode)) problem = "it is not a regular file";
  else if (st.st_size == 0) problem = "the file is empty";
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

}  // namespace kestrane::platform
