#pragma once
// What a job reaches outside itself: the AI model, the clock and the environment. They are
// passed in with the request, so tests give fakes instead of changing the process.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrane {
// The way a job reaches the AI model, defined by the AI tier.
class AIBackend;
}  // namespace kestrane

namespace kestrane::Pipeline {

// One environment variable's value, or nothing when it is not set.
std::optional<std::string> processEnvironment(const std::string& name);

struct Services {
  // Finds the AI backend for a job that asks for the AI tier; an empty function, or one that
  // returns nothing, means none is available and the deterministic cut stands.
  std::function<std::shared_ptr<AIBackend>()> aiBackend;
  // The wall clock, for time budgets and dates.
  std::function<std::chrono::system_clock::time_point()> now = [] { return std::chrono::system_clock::now(); };
  // Reads the environment (for keys and tool paths); the process's own by default.
  std::function<std::optional<std::string>(const std::string&)> environment = processEnvironment;
};

}  // namespace kestrane::Pipeline
