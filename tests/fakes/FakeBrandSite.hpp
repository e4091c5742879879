#pragma once
// Starts tests/fakes/fake_brand_site.py on a free loopback port for the life of the object,
// serving the files of `root`.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes/LoopbackFake.hpp"

namespace kestrane::test {

class FakeBrandSite {
 public:
  FakeBrandSite(const std::filesystem::path& root, const std::filesystem::path& work)
      : log_((std::filesystem::create_directories(work), work / "requests.log")),
        server_("fake_brand_site.py", {root.string(), (work / "port").string(), log_.string()}, work / "port") {}

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port()) + path; }
  int port() const { return server_.port(); }
  // The paths asked for so far, in order.
  std::vector<std::string> requests() const {
    std::vector<std::string> out;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  void clearLog() const { std::filesystem::remove(log_); }

 private:
  std::filesystem::path log_;
  LoopbackFake server_;
};

}  // namespace kestrane::test
