#pragma once
// Starts tests/fakes/fake_messages_api.py on a free loopback port for the life of the object.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

extern char** environ;

namespace kestrane::test {

class FakeMessagesApi {
 public:
  explicit FakeMessagesApi(const std::filesystem::path& dir) : dir_(dir) {
    std::filesystem::create_directories(dir_);
    const std::string script = std::string(KESTRANE_SOURCE_DIR) + "/tests/fakes/fake_messages_api.py";
    const std::string portFile = (dir_ / "port").string(), log = logPath().string(),
                      reply = (dir_ / "reply").string();
    std::filesystem::remove(portFile);
    const char* argv[] = {"python3", script.c_str(), portFile.c_str(), log.c_str(), reply.c_str(),
                          nullptr};
    if (posix_spawnp(&pid_, "python3", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      throw std::runtime_error("couldn't start the fake messages API");
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(portFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(portFile);
    in >> port_;
    if (port_ == 0) throw std::runtime_error("the fake messages API did not start");
  }
  ~FakeMessagesApi() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  FakeMessagesApi(const FakeMessagesApi&) = delete;
  FakeMessagesApi& operator=(const FakeMessagesApi&) = delete;

  // The base address of one scenario ("ok", "429", ...).
  std::string base(const std::string& scenario = "ok") const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + scenario;
  }
  void setReply(const std::string& text) const { std::ofstream(dir_ / "reply") << text; }
  std::filesystem::path logPath() const { return dir_ / "requests.jsonl"; }
  std::vector<nlohmann::json> requests() const {
    std::vector<nlohmann::json> out;
    std::ifstream in(logPath());
    for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
    return out;
  }

 private:
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kestrane::test
