#include "app/updater/Relaunch.hpp"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

extern char** environ;

namespace kestrane::updater {
namespace {
constexpr std::string_view kWaitVariable = "KESTRANE_RELAUNCH_AFTER_PID";
}

void launchAfterExit(const std::filesystem::path& executable, const std::vector<std::string>& arguments) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    if (text.substr(0, kWaitVariable.size() + 1) == std::string(kWaitVariable) + "=") continue;
    environment.emplace_back(text);
  }
  environment.push_back(std::string(kWaitVariable) + "=" + std::to_string(getpid()));

  std::vector<char*> argv;
  std::string program = executable.string();
  argv.push_back(program.data());
  std::vector<std::string> args = arguments;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  int error = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::system_error(error, std::generic_category(), "couldn't start " + program);
}

void waitForReplacedInstance() {
  const char* value = std::getenv(std::string(kWaitVariable).c_str());
  if (!value) return;
  char* end = nullptr;
  long pid = std::strtol(value, &end, 10);
  unsetenv(std::string(kWaitVariable).c_str());
  if (!end || *end != '\0' || pid <= 1) return;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace kestrane::updater
