#include "kestrane/platform/ScratchFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "kestrane/model/HeldFiles.hpp"

namespace kestrane::platform::ScratchFiles {

namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string path;
  int fd = -1;          // held while the file is in use; -1 for a path only remembered
  bool folder = false;  // made by createFolder: removed with what it holds
};

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::vector<Entry>& entries() {
  static std::vector<Entry> list;
  return list;
}

// Takes the entries of `path` out of the list; the caller closes what they hold.
std::vector<Entry> takeLocked(const std::string& path) {
  auto& list = entries();
  std::vector<Entry> taken;
  const auto named = [&](const Entry& e) { return e.path == path; };
  std::copy_if(list.begin(), list.end(), std::back_inserter(taken), named);
  list.erase(std::remove_if(list.begin(), list.end(), named), list.end());
  return taken;
}

void release(const std::vector<Entry>& taken) {
  for (const Entry& e : taken) {
    if (e.fd >= 0) ::close(e.fd);
  }
}

struct Kind {
  std::string_view name;
  std::string_view extension;
  bool folder;
};
constexpr std::array<Kind, 4> kKinds = {
    {{"audio", ".wav", false}, {"dictionary", "", false}, {"hesitations", "", false}, {"graphics", "", true}}};

// A version-4 UUID in its standard upper-case text form.
std::string uuid() {
  static std::mutex guard;
  static std::mt19937_64 random = [] {
    std::random_device device;
    return std::mt19937_64((static_cast<std::uint64_t>(device()) << 32) ^ device());
  }();
  std::uint64_t hi = 0, lo = 0;
  {
    std::lock_guard hold(guard);
    hi = random();
    lo = random();
  }
  const std::uint64_t h = (hi & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;
  const std::uint64_t l = (lo & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;
  return fmt::format("{:08X}-{:04X}-{:04X}-{:04X}-{:012X}", h >> 32, (h >> 16) & 0xFFFF, h & 0xFFFF, l >> 48,
                     l & 0xFFFFFFFFFFFFull);
}

bool isUUID(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The kind of a name create or createFolder makes, exactly: "kestrane-<kind>-<pid>-<UUID><extension>".
const Kind* generatedKind(std::string_view name) {
  constexpr std::string_view lead = "kestrane-";
  if (!name.starts_with(lead)) return nullptr;
  name.remove_prefix(lead.size());
  for (const Kind& kind : kKinds) {
    if (!name.starts_with(kind.name) || name.size() <= kind.name.size() || name[kind.name.size()] != '-') continue;
    std::string_view rest = name.substr(kind.name.size() + 1);
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 10 && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || digits >= rest.size() || rest[digits] != '-') return nullptr;
    rest.remove_prefix(digits + 1);
    if (!rest.ends_with(kind.extension)) return nullptr;
    rest.remove_suffix(kind.extension.size());
    return isUUID(rest) ? &kind : nullptr;
  }
  return nullptr;
}

fs::path temporaryFolder() {
  std::error_code ec;
  fs::path folder = fs::temp_directory_path(ec);
  if (ec) throw CreateError("Can't find the temporary folder: " + ec.message());
  return folder;
}

// Makes a scratch file or folder with `make`, which opens it and returns the descriptor (or -1
// with errno set), holds it and remembers it.
template <class Make>
std::string created(std::string_view kind, std::string_view extension, bool folder, Make make) {
  const fs::path root = temporaryFolder();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = (root / (namePrefix(kind) + uuid() + std::string(extension))).string();
    // Made and remembered under one lock: a forced exit in between would otherwise leave it.
    std::unique_lock guard(lock());
    const int fd = make(path);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int error = errno;
      guard.unlock();
      throw CreateError("Can't create " + path + ": " + std::strerror(error));
    }
    // A sweep that came upon it before it was held takes it away: make another.
    if (HeldFiles::tryLock(fd) != HeldFiles::Lock::heldElsewhere && HeldFiles::stillNamed(fd, path)) {
      entries().push_back({path, fd, folder});
      return path;
    }
    ::close(fd);
  }
  throw CreateError("Can't create a scratch file in " + root.string());
}

}  // namespace

std::string create(std::string_view kind, std::string_view extension) {
  return created(kind, extension, false, [](const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  });
}

std::string createFolder(std::string_view kind) {
  return created(kind, {}, true, [](const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0) return -1;
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  });
}

void add(const std::string& path) {
  std::lock_guard guard(lock());
  entries().push_back({path});
}

void remove(const std::string& path) {
  std::vector<Entry> taken;
  bool folder = false;
  {
    std::lock_guard guard(lock());
    taken = takeLocked(path);
    folder = std::any_of(taken.begin(), taken.end(), [](const Entry& e) { return e.folder; });
    // A file goes while still remembered, so a forced exit meanwhile can't miss it.
    if (!folder) ::unlink(path.c_str());
  }
  if (folder) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  release(taken);
}

void forget(const std::string& path) {
  std::lock_guard guard(lock());
  release(takeLocked(path));
}

namespace {

void removeAllLocked() noexcept {
  auto& list = entries();
  // Newest first, so a folder comes after the files made in it. A folder that still holds
  // files stays for the next sweep.
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (::unlink(it->path.c_str()) != 0 && errno == EISDIR) ::rmdir(it->path.c_str());
    if (it->fd >= 0) ::close(it->fd);
  }
  list.clear();
}

}  // namespace

void removeAll() noexcept {
  // Holders keep the lock only briefly; waiting for it is safe here.
  std::lock_guard guard(lock());
  removeAllLocked();
}

void removeAllAndExit(int status) noexcept {
  lock().lock();
  removeAllLocked();
  ::_exit(status);
}

std::string namePrefix(std::string_view kind) {
  return "kestrane-" + std::string(kind) + "-" + std::to_string(::getpid()) + "-";
}

std::size_t sweepOrphans(const std::filesystem::path& folder) {
  std::size_t removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const Kind* kind = generatedKind(it->path().filename().string());
    if (kind && HeldFiles::removeIfAbandoned(it->path(), kind->folder)) ++removed;
  }
  return removed;
}

std::size_t sweepOrphans() {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  return ec ? 0 : sweepOrphans(folder);
}

}  // namespace kestrane::platform::ScratchFiles
