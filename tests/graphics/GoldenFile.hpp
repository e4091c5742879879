#pragma once
// Compares with tests/graphics/golden/<name>; KESTRANE_UPDATE_GOLDEN=1 rewrites the file instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline void expectGolden(const std::string& name, const std::string& text) {
  const std::filesystem::path path = std::filesystem::path(KESTRANE_SOURCE_DIR) / "tests/graphics/golden" / name;
  if (std::getenv("KESTRANE_UPDATE_GOLDEN")) {
    std::ofstream(path, std::ios::binary) << text;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  std::ostringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(text, expected.str()) << name;
}
