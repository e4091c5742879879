#include "kestrane/platform/ScratchFiles.hpp"

#include <unistd.h>

#include <algorithm>
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

}  // namespace

void add(const std::string& path) {
  std::lock_guard guard(lock());
  files().push_back(path);
}

void remove(const std::string& path) {
  std::lock_guard guard(lock());
  ::unlink(path.c_str());
  auto& list = files();
  list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

void removeAll() noexcept {
  // Holders keep the lock only for a push or an erase; waiting for it is safe here.
  std::lock_guard guard(lock());
  for (const auto& path : files()) ::unlink(path.c_str());
  files().clear();
}

}  // namespace kestrane::platform::ScratchFiles
