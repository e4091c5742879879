#pragma once
// Shared pieces of the AI tier's tests: the fake `claude` tool and a scripted backend.
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/ai/ModelClient.hpp"
#include "pipeline/TestSupport.hpp"

namespace kestrane::test {

inline std::string fakeClaudePath() { return std::string(KESTRANE_SOURCE_DIR) + "/tests/fakes/fake-claude"; }

// A log folder for the fake tool, named to it through the environment.
class FakeClaude {
 public:
  explicit FakeClaude(const std::string& scenario = "reply") {
    ::setenv("FAKE_CLAUDE_LOG", dir_.path().c_str(), 1);
    ::setenv("FAKE_CLAUDE_SCENARIO", scenario.c_str(), 1);
  }
  void scenario(const std::string& name) const { ::setenv("FAKE_CLAUDE_SCENARIO", name.c_str(), 1); }
  void reply(const std::string& text) const { std::ofstream(dir_.path() / "reply") << text; }
  std::filesystem::path call(int n, const std::string& what) const {
    return dir_.path() / ("call-" + std::to_string(n) + "." + what);
  }
  std::vector<std::string> args(int n = 0) const {
    std::vector<std::string> out;
    std::ifstream in(call(n, "args"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  std::string stdinOf(int n = 0) const { return readFile(call(n, "stdin")); }
  std::string envOf(int n = 0) const { return readFile(call(n, "env")); }
  int calls() const {
    int n = 0;
    while (std::filesystem::exists(call(n, "stdin"))) ++n;
    return n;
  }
  const std::filesystem::path& dir() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// Answers each call with the next scripted step: a reply, or an exception to throw.
class ScriptedBackend : public AIBackend {
 public:
  using Step = std::function<std::string(const ModelCall&)>;
  void then(Step step) { steps_.push_back(std::move(step)); }
  void reply(std::string text) {
    then([text](const ModelCall&) { return text; });
  }
  std::string send(const ModelCall& call, std::stop_token) const override {
    calls.push_back(call);
    if (steps_.empty()) throw std::runtime_error("no scripted reply left");
    Step step = steps_.front();
    steps_.pop_front();
    return step(call);
  }
  mutable std::vector<ModelCall> calls;

 private:
  mutable std::deque<Step> steps_;
};

// An environment made of the given variables only.
inline ModelClient::Environment environmentOf(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

}  // namespace kestrane::test
