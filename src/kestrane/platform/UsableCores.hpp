#pragma once
// How many processor cores this process may really use: the CPU-affinity mask, lowered by a
// cgroup CPU quota when the process runs under one. std::thread::hardware_concurrency() counts
// every core of the machine, which overloads a container or a `taskset` run.
#include <optional>
#include <string_view>

namespace kestrane::platform {

// At least 1.
unsigned usableCores();

// The cores a cgroup v2 "cpu.max" line ("QUOTA PERIOD", or "max PERIOD") allows, rounded up;
// none when unlimited or unreadable.
std::optional<unsigned> coresFromQuota(std::string_view cpuMax);

}  // namespace kestrane::platform
