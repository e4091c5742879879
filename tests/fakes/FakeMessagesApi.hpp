#pragma once
// Starts tests/fakes/fake_messages_api.py on a free loopback port for the life of the object.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fakes/LoopbackFake.hpp"

namespace kestrane::test {

class FakeMessagesApi {
 public:
  explicit FakeMessagesApi(const std::filesystem::path& dir)
      : dir_((std::filesystem::create_directories(dir), dir)),
        server_("fake_messages_api.py", {(dir_ / "port").string(), logPath().string(), (dir_ / "reply").string()},
                dir_ / "port") {}

  // The base address of one scenario ("ok", "429", ...).
  std::string base(const std::string& scenario = "ok") const {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + "/" + scenario;
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
  LoopbackFake server_;
};

}  // namespace kestrane::test
