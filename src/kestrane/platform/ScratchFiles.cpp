#include "kestrane/platform/ScratchFiles.hpp"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <vector>

namespace kestrane::platform::ScratchFiles {

namespace {

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& files() {
  static std::vector<std::string> list;
  return list;
}

void forgetLocked(const std::string& path) {
  auto& list = files();
  list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

constexpr std::array<std::string_view, 3> kKinds = {"audio", "dictionary", "hesitations"};

// The pid in "kestrane-<kind>-<pid>-…", or 0 when the name is not a scratch file's.
pid_t ownerOf(std::string_view name) {
  constexpr std::string_view lead = "kestrane-";
  if (!name.starts_with(lead)) return 0;
  name.remove_prefix(lead.size());
  const auto kind = std::find_if(kKinds.begin(), kKinds.end(), [&](std::string_view k) {
    return name.starts_with(k) && name.size() > k.size() && name[k.size()] == '-';
  });
  if (kind == kKinds.end()) return 0;
  name.remove_prefix(kind->size() + 1);
  long long pid = 0;
  std::size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9' && digits < 10) {
    pid = pid * 10 + (name[digits] - '0');
    ++digits;
  }
  if (digits == 0 || digits >= name.size() || name[digits] != '-') return 0;
  return pid > 0 && pid <= 0x3fffffff ? static_cast<pid_t>(pid) : 0;
}

bool running(pid_t pid) {
  // EPERM: it runs, as another user.
  return ::kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

void add(const std::string& path) {
  std::lock_guard guard(lock());
  files().push_back(path);
}

void remove(const std::string& path) {
  std::lock_guard guard(lock());
  ::unlink(path.c_str());
  forgetLocked(path);
}

void forget(const std::string& path) {
  std::lock_guard guard(lock());
  forgetLocked(path);
}

void removeAll() noexcept {
  // Holders keep the lock only for a push or an erase; waiting for it is safe here.
  std::lock_guard guard(lock());
  auto& list = files();
  // Newest first, so a folder comes after the files made in it.
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (::unlink(it->c_str()) != 0 && errno == EISDIR) ::rmdir(it->c_str());
  }
  list.clear();
}

std::string namePrefix(std::string_view kind) {
  return "kestrane-" + std::string(kind) + "-" + std::to_string(::getpid()) + "-";
}

std::size_t sweepOrphans(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::size_t removed = 0;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t owner = ownerOf(name);
    if (owner == 0 || owner == ::getpid() || running(owner)) continue;
    std::error_code ignored;
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
    if (fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

std::size_t sweepOrphans() {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  return ec ? 0 : sweepOrphans(folder);
}

}  // namespace kestrane::platform::ScratchFiles
