#include "kestrane/platform/UsableCores.hpp"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace kestrane::platform {

namespace {

std::optional<long long> number(std::string_view text) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

unsigned affinityCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// The tightest quota on the way from this process's cgroup up to the root.
std::optional<unsigned> quotaCores() {
  std::optional<unsigned> tightest;
  const auto consider = [&](std::optional<unsigned> cores) {
    if (cores && (!tightest || *cores < *tightest)) tightest = cores;
  };
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    // "0::/path" for cgroup v2; "N:cpu,cpuacct:/path" (or "N:cpu:/path") for v1.
    const auto first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    const bool v2 = controllers.empty();
    std::string base;
    if (v2) {
      base = "/sys/fs/cgroup";
    } else {
      std::istringstream names(controllers);
      bool cpu = false;
      for (std::string name; std::getline(names, name, ',');) cpu = cpu || name == "cpu";
      if (!cpu) continue;
      base = "/sys/fs/cgroup/" + controllers;
    }
    for (;;) {
      const std::string dir = base + (path == "/" ? "" : path);
      if (v2) {
        consider(coresFromQuota(firstLine(dir + "/cpu.max")));
      } else {
        const auto quota = number(firstLine(dir + "/cpu.cfs_quota_us"));
        const auto period = number(firstLine(dir + "/cpu.cfs_period_us"));
        if (quota && period) consider(coresFromQuota(std::to_string(*quota) + " " + std::to_string(*period)));
      }
      if (path.empty() || path == "/") break;
      path = path.substr(0, path.rfind('/'));
      if (path.empty()) path = "/";
    }
  }
  return tightest;
}

}  // namespace

std::optional<unsigned> coresFromQuota(std::string_view cpuMax) {
  const auto space = cpuMax.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const auto quota = number(cpuMax.substr(0, space));
  const auto period = number(cpuMax.substr(space + 1));
  // "max" (or v1's -1) is no limit.
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  return static_cast<unsigned>(std::max<long long>(1, (*quota + *period - 1) / *period));
}

unsigned usableCores() {
  unsigned cores = affinityCores();
  if (const auto quota = quotaCores()) cores = std::min(cores, *quota);
  return std::max(1u, cores);
}

}  // namespace kestrane::platform
