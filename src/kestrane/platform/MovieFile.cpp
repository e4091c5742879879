#include "kestrane/platform/MovieFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/platform/MediaFile.hpp"

extern "C" {
#include <libavutil/hash.h>
}

namespace kestrane::platform {

namespace {

constexpr std::int64_t kEnd = 1 << 20;     // the first and the last MiB
constexpr std::int64_t kBlock = 64 << 10;  // each block between them
constexpr std::int64_t kBlocks = 32;
constexpr std::int64_t kSampled = 2 * kEnd + kBlocks * kBlock;

struct HashCloser {
  void operator()(AVHashContext* ctx) const { av_hash_freep(&ctx); }
};

// Adds `length` bytes of the file from `offset` to the hash; false when they can't all be read.
bool hashBytes(AVHashContext* hash, int fd, std::int64_t offset, std::int64_t length,
               std::vector<std::uint8_t>& buffer) {
  while (length > 0) {
    const auto want =
        static_cast<std::size_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(buffer.size())));
    const ssize_t got = ::pread(fd, buffer.data(), want, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    av_hash_update(hash, buffer.data(), static_cast<std::size_t>(got));
    offset += got;
    length -= got;
  }
  return true;
}

// The plain file at `path`, open for reading without following a link or waiting on a FIFO;
// -1 when no plain file is there or it can't be opened. `st` is its status.
int openPlainFile(const std::filesystem::path& path, struct stat& st) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Closer {
  int fd;
  ~Closer() {
    if (fd >= 0) ::close(fd);
  }
};

MovieIdentity identityOf(const struct stat& st) {
  return {static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
          static_cast<std::int64_t>(st.st_mtim.tv_nsec), std::nullopt};
}

}  // namespace

std::optional<std::string> sampledSHA256(int fd, std::int64_t size) {
  AVHashContext* raw = nullptr;
  if (size < 0 || av_hash_alloc(&raw, "SHA256") < 0) return std::nullopt;
  const std::unique_ptr<AVHashContext, HashCloser> hash(raw);
  av_hash_init(hash.get());
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kBlock));
  bool read = true;
  if (size <= kSampled) {
    read = hashBytes(hash.get(), fd, 0, size, buffer);
  } else {
    read = hashBytes(hash.get(), fd, 0, kEnd, buffer);
    const std::int64_t span = size - 2 * kEnd - kBlock;
    for (std::int64_t i = 0; read && i < kBlocks; ++i) {
      read = hashBytes(hash.get(), fd, kEnd + span * (2 * i + 1) / (2 * kBlocks), kBlock, buffer);
    }
    read = read && hashBytes(hash.get(), fd, size - kEnd, kEnd, buffer);
  }
  if (!read) return std::nullopt;
  std::uint8_t hex[2 * AV_HASH_MAX_SIZE + 1] = {};
  av_hash_final_hex(hash.get(), hex, sizeof hex);
  return std::string(reinterpret_cast<const char*>(hex));
}

std::optional<MovieIdentity> movieIdentity(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  MovieIdentity identity = identityOf(st);
  identity.sampledSHA256 = sampledSHA256(fd, identity.size);
  if (!identity.sampledSHA256) {
    // A file written through another opening of it can't be read back through this one on some
    // disks (FAT through FUSE refuses it); a new opening of the very same file can.
    const Closer again{::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat reopened {};
    if (again.fd >= 0 && ::fstat(again.fd, &reopened) == 0 && reopened.st_dev == st.st_dev &&
        reopened.st_ino == st.st_ino) {
      identity.sampledSHA256 = sampledSHA256(again.fd, identity.size);
    }
  }
  return identity;
}

std::optional<MovieIdentity> movieIdentityAt(const std::filesystem::path& path) {
  struct stat st {};
  const Closer file{openPlainFile(path, st)};
  if (file.fd >= 0) return movieIdentity(file.fd);
  // A plain file this user may not read is still known by its size and time.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return identityOf(st);
}

std::optional<double> mediaSecondsAt(const std::filesystem::path& path) {
  struct stat st {};
  const Closer file{openPlainFile(path, st)};
  if (file.fd < 0) return std::nullopt;
  // Read through the file held open, so nothing put at the name since (a FIFO that would never
  // answer) is opened instead; by its name only where /proc is not there.
  const std::string held = "/proc/self/fd/" + std::to_string(file.fd);
  std::optional<MediaFacts> facts;
  try {
    facts = readMediaFacts(MediaFile::open(::access(held.c_str(), R_OK) == 0 ? held : path.string()));
  } catch (const MediaFileError&) {
    return std::nullopt;
  } catch (const MediaReadError&) {
    return std::nullopt;
  }
  if (!facts || facts->durationSeconds <= 0) return std::nullopt;
  return facts->durationSeconds;
}

}  // namespace kestrane::platform
