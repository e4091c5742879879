#pragma once
// Media made at test time with the ffmpeg, sox and flite command-line tools, in a private
// temporary folder that also serves as the process's TMPDIR (so temporary WAVs land there).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kestrane::testing {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    previousTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScratchFolder() {
    if (previousTmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", previousTmp_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

  // Files in the folder whose names start with the prefix.
  int count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
    return n;
  }

 private:
  std::filesystem::path path_;
  std::string previousTmp_;
};

// Runs a shell command quietly; fails the test when it fails.
inline void make(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  ASSERT_EQ(rc, 0) << command;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace kestrane::testing
