#pragma once
// Runs one of the python3 loopback fakes of tests/fakes for the life of the object: the script
// is started with its arguments, writes the port it listens on to `portFile`, and is killed at
// the end.
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

class LoopbackFake {
 public:
  LoopbackFake(const std::string& script, const std::vector<std::string>& args, const std::filesystem::path& portFile) {
    const std::string path = std::string(KESTRANE_SOURCE_DIR) + "/tests/fakes/" + script;
    std::filesystem::remove(portFile);
    std::vector<char*> argv{const_cast<char*>("python3"), const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "python3", nullptr, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("couldn't start " + script);
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(portFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream(portFile) >> port_;
    if (port_ == 0) throw std::runtime_error(script + " did not start");
  }
  ~LoopbackFake() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  LoopbackFake(const LoopbackFake&) = delete;
  LoopbackFake& operator=(const LoopbackFake&) = delete;

  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kestrane::test
