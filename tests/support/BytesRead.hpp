#pragma once
// How much this process has read, for tests that stop a reading and ask whether it read on.
#include <cstdint>
#include <fstream>
#include <string>

namespace kestrane::test {

// Bytes this process has read so far, by any means.
inline std::uint64_t bytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

}  // namespace kestrane::test
