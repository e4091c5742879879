#include "kestrane/platform/PcmWavReader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kestrane::platform {

namespace {

std::uint32_t le(const unsigned char* at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | at[i];
  return v;
}

bool readAt(int fd, void* into, std::size_t bytes, std::uint64_t offset) {
  auto* p = static_cast<unsigned char*>(into);
  while (bytes > 0) {
    const ssize_t got = ::pread(fd, p, bytes, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    bytes -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

std::optional<PcmWavReader> PcmWavReader::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  unsigned char head[12];
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !readAt(fd, head, 12, 0) ||
      std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  int rate = 0;
  bool format = false;
  // Walk the chunks: "fmt " must say 16-bit mono PCM before "data" counts.
  for (std::uint64_t at = 12; at + 8 <= size;) {
    unsigned char chunk[24];
    if (!readAt(fd, chunk, 8, at)) break;
    const std::uint64_t length = le(chunk + 4, 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16 && readAt(fd, chunk + 8, 16, at + 8)) {
      const unsigned char* f = chunk + 8;
      format = le(f, 2) == 1 && le(f + 2, 2) == 1 && le(f + 14, 2) == 16;
      rate = static_cast<int>(le(f + 4, 4));
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!format || rate <= 0) break;
      // A writer that never finished its header leaves the length short; trust the file.
      const std::uint64_t available = size - (at + 8);
      return PcmWavReader(fd, rate, at + 8, static_cast<std::size_t>(std::min(length, available) / 2));
    }
    at += 8 + length + (length & 1);
  }
  ::close(fd);
  return std::nullopt;
}

PcmWavReader::PcmWavReader(PcmWavReader&& other) noexcept
    : fd_(other.fd_), rate_(other.rate_), dataOffset_(other.dataOffset_), count_(other.count_) {
  other.fd_ = -1;
}

PcmWavReader::~PcmWavReader() {
  if (fd_ >= 0) ::close(fd_);
}

void PcmWavReader::read(std::size_t first, std::size_t count, std::vector<std::int16_t>& out) const {
  first = std::min(first, count_);
  count = std::min(count, count_ - first);
  out.resize(count);
  // WAV is little-endian, as are the hosts this runs on.
  if (count > 0 && !readAt(fd_, out.data(), count * 2, dataOffset_ + first * 2))
    throw std::runtime_error("The audio could not be read back: " + std::string(std::strerror(errno)));
}

}  // namespace kestrane::platform
