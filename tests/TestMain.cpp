// The main of every test program. Each program runs in a temporary folder of its own, made
// here and set as TMPDIR (children it starts inherit it), so no test reads or writes the shared
// temporary folder and programs running side by side cannot see each other's scratch files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrane-tests-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    std::perror("kestrane tests: can't make a private temporary folder");
    return 1;
  }
  ::setenv("TMPDIR", pattern.c_str(), 1);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return status;
}
