#pragma once
// A fontconfig setup of the test's own, so results do not depend on the fonts of the machine:
// copies of DejaVu Sans and DejaVu Serif, the serif renamed by the scan when asked, plus any
// extra configuration lines. Installed as a test environment before the first font lookup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "pipeline/TestSupport.hpp"

namespace kestrane::test {

class PrivateFonts : public ::testing::Environment {
 public:
  // `serifAs`: the family name the DejaVu Serif copy (file "Stand.ttf") carries; empty leaves it out.
  explicit PrivateFonts(std::string serifAs = {}, std::string extra = {})
      : serifAs_(std::move(serifAs)), extra_(std::move(extra)) {}

  void SetUp() override {
    temp = std::make_unique<TempDir>();
    root = temp->path();
    namespace fs = std::filesystem;
    fs::create_directories(root / "fonts");
    fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", root / "fonts/DejaVuSans.ttf");
    std::ofstream conf(root / "fonts.conf");
    conf << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
         << "<dir>" << (root / "fonts").string() << "</dir>\n"
         << "<cachedir>" << (root / "cache").string() << "</cachedir>\n";
    if (!serifAs_.empty()) {
      fs::copy_file("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", root / "fonts/Stand.ttf");
      conf << "<match target=\"scan\"><test name=\"family\"><string>DejaVu Serif</string></test>"
              "<edit name=\"family\" mode=\"assign\" binding=\"same\"><string>"
           << serifAs_ << "</string></edit></match>\n";
    }
    conf << extra_ << "</fontconfig>\n";
    conf.close();
    ::setenv("FONTCONFIG_FILE", (root / "fonts.conf").c_str(), 1);
  }
  void TearDown() override { temp.reset(); }

  static inline std::unique_ptr<TempDir> temp;
  static inline std::filesystem::path root;

 private:
  std::string serifAs_;
  std::string extra_;
};

}  // namespace kestrane::test
