#pragma once
// Runs the built kestrane program as a user would, from a pipe or from a terminal. A test that
// acts on the program at a line of its output holds it in the write of that line until the
// test has acted (see support/HeldProgram.hpp).
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/HeldProgram.hpp"

namespace kestrane::test {

struct ProgramRun {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// The program run through the shell with `args`, its output and errors together; `status` is its
// exit status.
inline std::string runShell(const std::string& args, int& status) {
  const std::string command = std::string(KESTRANE_CLI) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  status = WEXITSTATUS(::pclose(pipe));
  return output;
}

inline int exitStatus(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }

// In a child about to run the program: the stop signals as a terminal gives them, taken and
// not blocked, whatever the test itself was started with (a script's background job ignores
// SIGINT), and then those in `ignoring` ignored.
inline void startWithStopSignals(const std::vector<int>& ignoring = {}) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal : ignoring) ::signal(signal, SIG_IGN);
}

inline std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Runs `kestrane ARGS` with stdout on a pipe and stderr in a file. With `onLine`, each line the
// program writes to stdout is shown to it while the program is held in the write of that line,
// so a test can act on the program at a stage. `through` is a command that runs the program,
// given as its last arguments. The program starts with the signals `ignoring` ignored, as under
// nohup. With `onFileCall`, each call of the program that makes or moves a file is shown to it
// while the program is held in that call.
inline ProgramRun runProgram(std::vector<std::string> args,
                             const std::function<void(HeldProgram&, const std::string&)>& onLine = {},
                             std::vector<std::string> through = {}, const std::vector<int>& ignoring = {},
                             const held::OnFileCall& onFileCall = {}) {
  args.insert(args.begin(), KESTRANE_CLI);
  args.insert(args.begin(), through.begin(), through.end());
  std::string errName = (std::filesystem::temp_directory_path() / "kestrane-cli-err-XXXXXX").string();
  const int errFd = ::mkstemp(errName.data());
  int fds[2];
  if (errFd < 0 || ::pipe2(fds, O_CLOEXEC) != 0) return {};
  held::Handoff handoff;
  if ((onLine || onFileCall) && !handoff.open()) return {};
  std::vector<char*> argv = argvOf(args);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    startWithStopSignals(ignoring);
    if (onLine || onFileCall) handoff.installInChild();
    ::execv(argv.front(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  ProgramRun run;
  const bool holding = onLine || onFileCall;
  const int listener = holding ? handoff.receive() : -1;
  if (holding && listener < 0) {
    // The kernel would not trap the program: it ends without running, and the test says why.
    run.err = "kestrane: the test could not hold the program at its output\n";
  }
  std::size_t lines = 0;  // lines of stdout already shown to `onLine`
  const held::OnOutput onOutput = [&](HeldProgram& program, const std::string& before, const std::string& write) {
    const std::string text = before + write;
    std::size_t start = 0, index = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start), ++index) {
      const std::string line = text.substr(start, end + 1 - start);
      start = end + 1;
      if (index < lines) continue;
      lines = index + 1;
      onLine(program, line);
    }
  };
  const int status = held::serve(child, listener, fds[0], run.out, onLine ? onOutput : held::OnOutput{}, onFileCall);
  ::close(fds[0]);
  if (listener >= 0) ::close(listener);
  run.status = exitStatus(status);
  std::ifstream errFile(errName);
  run.err.append(std::istreambuf_iterator<char>(errFile), {});
  ::close(errFd);
  ::unlink(errName.c_str());
  return run;
}

// Runs `kestrane ARGS` on a pseudo-terminal and returns everything it drew there. With
// `interruptAt`, a SIGINT goes to the program as it draws that text, held in that write.
inline ProgramRun runOnTerminal(std::vector<std::string> args, std::string interruptAt = {}) {
  args.insert(args.begin(), KESTRANE_CLI);
  const bool holding = !interruptAt.empty();
  held::Handoff handoff;
  if (holding && !handoff.open()) return {};
  std::vector<char*> argv = argvOf(args);
  int master = -1;
  winsize size{};
  size.ws_col = 120;
  size.ws_row = 40;
  const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    startWithStopSignals();
    if (holding) handoff.installInChild();
    ::execv(argv.front(), argv.data());
    ::_exit(127);
  }
  ProgramRun run;
  if (child < 0) return run;
  const int listener = holding ? handoff.receive() : -1;
  bool sent = false;
  const held::OnOutput onOutput = [&](HeldProgram& program, const std::string& before, const std::string& write) {
    if (!sent && (before + write).find(interruptAt) != std::string::npos) {
      program.signal(SIGINT);
      sent = true;
    }
  };
  const int status = held::serve(child, listener, master, run.out, holding ? onOutput : held::OnOutput{});
  ::close(master);
  if (listener >= 0) ::close(listener);
  run.status = exitStatus(status);
  return run;
}

}  // namespace kestrane::test
