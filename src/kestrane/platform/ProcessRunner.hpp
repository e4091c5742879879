#pragma once
// Runs one external program to its end: its input written to standard input, standard output
// and standard error collected side by side, with a time limit and cancellation.
//
// The child starts in a process group of its own, so a time-out or a stop ends the program and
// everything it started: the whole group gets SIGTERM and, when it has not ended after the
// grace period, SIGKILL. A program that has exited while something it started still holds its
// output open gets the same grace to let go before that group is killed. The child is reaped
// only after the last signal to its group, so no signal ever reaches a recycled pid.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrane::ProcessRunner {

using Seconds = std::chrono::duration<double>;

struct Options {
  std::filesystem::path executable;    // a path; PATH is not searched
  std::vector<std::string> arguments;  // after the program's own name
  // "NAME=value" entries; absent means this process's environment.
  std::optional<std::vector<std::string>> environment;
  std::optional<std::filesystem::path> workingDirectory;
  std::string input;  // written to standard input, which is then closed
  std::optional<Seconds> timeout;
  Seconds grace{2.0};
  // Each stream keeps at most this much; the rest is read and dropped.
  std::size_t outputLimit = std::size_t{64} << 20;
};

struct Result {
  int exitCode = 0;        // the exit status, or 128 + the signal that ended the program
  bool signalled = false;  // ended by a signal
  bool timedOut = false;   // ended by the time limit
  bool cancelled = false;  // ended by a stop request
  bool outputTruncated = false;
  std::string standardOutput;
  std::string standardError;

  bool succeeded() const { return !signalled && !timedOut && !cancelled && exitCode == 0; }
};

// The program could not be started (missing, not executable, no resources).
class StartError : public std::runtime_error {
 public:
  StartError(const std::filesystem::path& program, int error);
  int error() const { return error_; }

 private:
  int error_;
};

// Blocks until the program and every process of its group holding its output have ended.
// Throws StartError when the program cannot be started.
Result run(const Options& options, std::stop_token stop = {});

// This process's environment as "NAME=value" entries, with `name` set to `value` (added when
// absent).
std::vector<std::string> environmentWith(const std::string& name, const std::string& value);

}  // namespace kestrane::ProcessRunner
