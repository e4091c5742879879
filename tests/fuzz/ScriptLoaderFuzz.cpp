// Any bytes as a script file of each text kind: text or ScriptError, never a crash. The first
// byte picks the kind; the rest is the file.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kestrane/analysis/ScriptLoader.hpp"

namespace {

// A folder of this process's own, removed at exit.
const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "script-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    std::atexit([] { std::filesystem::remove_all(scratch()); });
    return std::filesystem::path(pattern);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::array<const char*, 4> kinds{"script.txt", "script.md", "script.fountain", "script.rtf"};
  const std::filesystem::path file = scratch() / kinds[data[0] % kinds.size()];
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  try {
    (void)kestrane::ScriptLoader::loadScript(file.string());
  } catch (const kestrane::ScriptLoader::ScriptError&) {
  }
  return 0;
}
