#include "kestrane/model/AtomicFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/HeldFiles.hpp"

namespace kestrane::AtomicFile {

namespace {

constexpr std::string_view kAsideLead = ".kestrane-staged-";
constexpr std::size_t kAsideRandomDigits = 16;

[[noreturn]] void fail(const std::filesystem::path& path, int error) { throw WriteError(path, std::strerror(error)); }

// umask() can only be read by setting it, for the whole process at once; the kernel's status
// report shows it without that.
std::optional<mode_t> reportedUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (!line.starts_with("Umask:")) continue;
    try {
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

Aside::Aside(Aside&& other) noexcept : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

Aside& Aside::operator=(Aside&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Aside::~Aside() {
  if (fd_ >= 0) ::close(fd_);
}

void write(const std::filesystem::path& path, std::string_view bytes) { write(path, bytes, newFileMode()); }

void write(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
  const Aside aside = writeAside(path, bytes, mode);
  if (::rename(aside.path().c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(aside.path().c_str());
    fail(path, error);
  }
}

Aside createAside(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  for (int attempt = 0;; ++attempt) {
    // A short name of its own, so a destination whose name is long but valid never makes it fail.
    const std::string name = (folder / newAsideName()).string();
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST && attempt < 100) continue;
    if (fd < 0) fail(path, errno);
    // A sweep that came upon the new file before it was held takes it away: make another.
    if (HeldFiles::tryLock(fd) != HeldFiles::Lock::heldElsewhere && HeldFiles::stillNamed(fd, name)) {
      return Aside(name, fd);
    }
    ::close(fd);
    if (attempt == 100) fail(path, EBUSY);
  }
}

mode_t newFileMode() {
  std::optional<mode_t> mask = reportedUmask();
  if (!mask) {
    // Without that report, a moment of the tightest mask, which can only make a file another
    // thread creates meanwhile more private, never less.
    static std::mutex probing;
    const std::lock_guard lock(probing);
    mask = ::umask(077);
    ::umask(*mask);
  }
  return 0666 & ~*mask;
}

void share(int fd) { ::fchmod(fd, newFileMode()); }

Aside writeAside(const std::filesystem::path& path, std::string_view bytes) {
  return writeAside(path, bytes, newFileMode());
}

Aside writeAside(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
  Aside aside = createAside(path);
  const int fd = aside.fd();
  const auto failAndRemove = [&](int error) {
    ::unlink(aside.path().c_str());
    fail(path, error);
  };
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  // A session of a long recording runs to hundreds of megabytes: it goes out in pieces, and a
  // job asked to stop meanwhile leaves no file behind.
  constexpr std::size_t kPiece = 1u << 20;
  while (left > 0) {
    if (left < bytes.size()) {
      try {
        checkpoint();
      } catch (const Cancelled&) {
        ::unlink(aside.path().c_str());
        throw;
      }
    }
    const ssize_t n = ::write(fd, data, std::min(left, kPiece));
    if (n < 0) {
      if (errno == EINTR) continue;
      failAndRemove(errno);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  ::fchmod(fd, mode & 0666);
  if (::fsync(fd) != 0) failAndRemove(errno);
  return aside;
}

std::string newAsideName() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return fmt::format("{}{}-{:016x}", kAsideLead, ::getpid(), random());
}

bool isAsideName(std::string_view name) {
  if (!name.starts_with(kAsideLead)) return false;
  name.remove_prefix(kAsideLead.size());
  const std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 10) return false;
  const std::string_view pid = name.substr(0, dash), digits = name.substr(dash + 1);
  const auto isHex = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); };
  return std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
         digits.size() == kAsideRandomDigits && std::all_of(digits.begin(), digits.end(), isHex);
}

std::size_t sweepAbandoned(const std::filesystem::path& folder) {
  std::size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (isAsideName(it->path().filename().string()) && HeldFiles::removeIfAbandoned(it->path())) ++removed;
  }
  return removed;
}

}  // namespace kestrane::AtomicFile
