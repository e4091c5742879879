#pragma once
// Starts tests/fakes/fake_brand_site.py on a free loopback port for the life of the object,
// serving the files of `root`.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrane::test {

class FakeBrandSite {
 public:
  FakeBrandSite(const std::filesystem::path& root, const std::filesystem::path& work)
      : log_(work / "requests.log") {
    std::filesystem::create_directories(work);
    const std::string script = std::string(KESTRANE_SOURCE_DIR) + "/tests/fakes/fake_brand_site.py";
    const std::string portFile = (work / "port").string(), dir = root.string(), log = log_.string();
    std::filesystem::remove(portFile);
    const char* argv[] = {"python3", script.c_str(), dir.c_str(), portFile.c_str(), log.c_str(), nullptr};
    if (posix_spawnp(&pid_, "python3", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      throw std::runtime_error("couldn't start the fake brand site");
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(portFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream(portFile) >> port_;
    if (port_ == 0) throw std::runtime_error("the fake brand site did not start");
  }
  ~FakeBrandSite() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  FakeBrandSite(const FakeBrandSite&) = delete;
  FakeBrandSite& operator=(const FakeBrandSite&) = delete;

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int port() const { return port_; }
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
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kestrane::test
