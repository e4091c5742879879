#pragma once
// Runs the built kestrane program as a user would, from a pipe or from a terminal.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kestrane::test {

struct ProgramRun {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline int exitStatus(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }

inline std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs `kestrane ARGS` with stdout on a pipe and stderr in a file. `onLine` sees each line of
// stdout as it comes, with the child's id, so a test can interrupt the program at a stage.
// `through` is a command that runs the program, given as its last arguments.
inline ProgramRun runProgram(std::vector<std::string> args,
                             const std::function<void(pid_t, const std::string&)>& onLine = {},
                             std::vector<std::string> through = {}) {
  args.insert(args.begin(), KESTRANE_CLI);
  args.insert(args.begin(), through.begin(), through.end());
  std::string errName = (std::filesystem::temp_directory_path() / "kestrane-cli-err-XXXXXX").string();
  const int errFd = ::mkstemp(errName.data());
  int fds[2];
  if (errFd < 0 || ::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::close(fds[0]);
    ::execv(args.front().c_str(), argvOf(args).data());
    ::_exit(127);
  }
  ::close(fds[1]);
  ProgramRun run;
  FILE* stream = ::fdopen(fds[0], "r");
  char line[4096];
  while (std::fgets(line, sizeof line, stream)) {
    run.out += line;
    if (onLine) onLine(child, line);
  }
  std::fclose(stream);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = exitStatus(status);
  std::ifstream errFile(errName);
  run.err.assign(std::istreambuf_iterator<char>(errFile), {});
  ::close(errFd);
  ::unlink(errName.c_str());
  return run;
}

// Runs `kestrane ARGS` on a pseudo-terminal and returns everything it drew there. With
// `interruptAt`, a SIGINT goes to the program once that text has appeared.
inline ProgramRun runOnTerminal(std::vector<std::string> args, std::string interruptAt = {}) {
  args.insert(args.begin(), KESTRANE_CLI);
  int master = -1;
  winsize size{};
  size.ws_col = 120;
  size.ws_row = 40;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    ::execv(KESTRANE_CLI, argvOf(args).data());
    ::_exit(127);
  }
  ProgramRun run;
  if (child < 0) return run;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    run.out.append(chunk, static_cast<std::size_t>(n));
    if (!interruptAt.empty() && run.out.find(interruptAt) != std::string::npos) {
      ::kill(child, SIGINT);
      interruptAt.clear();
    }
  }
  ::close(master);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.status = exitStatus(status);
  return run;
}

}  // namespace kestrane::test
