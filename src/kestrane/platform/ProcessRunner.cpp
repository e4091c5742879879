#include "kestrane/platform/ProcessRunner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

extern char** environ;

namespace kestrane::ProcessRunner {

namespace {

using Clock = std::chrono::steady_clock;

// Without a way to hear about the child's exit, the loop looks this often.
constexpr auto kExitPollInterval = std::chrono::milliseconds(20);
constexpr std::size_t kChunk = 64 * 1024;

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
};

Pipe makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw StartError("a pipe", errno);
  return Pipe{Fd(fds[0]), Fd(fds[1])};
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A write to a program that has stopped reading must fail with EPIPE, not end this process.
void ignoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
}

// True once the child has ended; it stays a zombie, so its pid (and group id) stay reserved.
bool hasExited(pid_t pid) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return errno == ECHILD;
  }
  return info.si_pid == pid;
}

// Reads what is there now. False at end of stream or on an error.
bool drain(int fd, std::string& into, std::size_t limit, bool& truncated) {
  std::array<char, kChunk> buffer;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
      const std::size_t room = limit > into.size() ? limit - into.size() : 0;
      const auto keep = std::min(room, static_cast<std::size_t>(n));
      into.append(buffer.data(), keep);
      if (keep < static_cast<std::size_t>(n)) truncated = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
}

struct Spawned {
  pid_t pid;
  Fd input, output, error;
};

Spawned spawn(const Options& options) {
  Pipe in = makePipe(), out = makePipe(), err = makePipe();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
  if (options.workingDirectory) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory->c_str());
  }

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  // Ignored signals stay ignored across exec; the program gets ordinary ones.
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attributes, &defaults);

  const std::string program = options.executable.string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (options.environment) {
    for (const std::string& e : *options.environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }

  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(),
                               options.environment ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) throw StartError(options.executable, rc);

  Spawned s{pid, {}, {}, {}};
  // The child's ends close here; the child holds its own copies.
  s.input = std::move(in.write);
  s.output = std::move(out.read);
  s.error = std::move(err.read);
  return s;
}

}  // namespace

StartError::StartError(const std::filesystem::path& program, int error)
    : std::runtime_error("Couldn't start " + program.string() + ": " + std::strerror(error)), error_(error) {}

Result run(const Options& options, std::stop_token stop) {
  ignoreBrokenPipes();
  Spawned child = spawn(options);
  const pid_t pid = child.pid;
  for (const Fd* fd : {&child.input, &child.output, &child.error}) setNonBlocking(fd->get());

  // Wakes the loop when a stop is requested.
  Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  std::stop_callback onStop(stop, [&wake] {
    const std::uint64_t one = 1;
    if (wake.open() && ::write(wake.get(), &one, sizeof one) < 0) {
      // The loop also looks at the token whenever it wakes for any other reason.
    }
  });
  // Readable when the child ends; without it the loop looks every few milliseconds.
  Fd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

  Result result;
  std::size_t written = 0;
  if (options.input.empty()) child.input.reset();
  const Clock::time_point start = Clock::now();
  const auto deadline = options.timeout ? start + std::chrono::duration_cast<Clock::duration>(*options.timeout)
                                        : Clock::time_point::max();
  const auto grace = std::chrono::duration_cast<Clock::duration>(options.grace);
  bool exited = false, killed = false;
  std::optional<Clock::time_point> killAt;

  auto signalGroup = [pid](int sig) { ::kill(-pid, sig); };

  for (;;) {
    if (!exited) exited = hasExited(pid);
    const bool outputOpen = child.output.open() || child.error.open();
    if (exited && (!outputOpen || killed)) break;

    const Clock::time_point now = Clock::now();
    if (!result.timedOut && !result.cancelled) {
      if (stop.stop_requested()) result.cancelled = true;
      else if (now >= deadline) result.timedOut = true;
      if (result.timedOut || result.cancelled) {
        child.input.reset();
        if (!exited) {
          signalGroup(SIGTERM);
          killAt = now + grace;
        }
      }
    }
    const bool ending = result.timedOut || result.cancelled;
    // Once the program itself has gone, whatever it started gets the grace period to let go of
    // the output (none after a time-out or a stop).
    if (exited && !killAt) killAt = ending ? now : now + grace;
    if (killAt && now >= *killAt && !killed) {
      signalGroup(SIGKILL);
      killed = true;
      continue;
    }

    std::vector<pollfd> fds;
    auto watch = [&fds](const Fd& fd, short events) {
      if (fd.open()) fds.push_back({fd.get(), events, 0});
    };
    watch(child.input, POLLOUT);
    watch(child.output, POLLIN);
    watch(child.error, POLLIN);
    watch(wake, POLLIN);
    if (!exited) watch(exitFd, POLLIN);

    Clock::time_point until = Clock::time_point::max();
    if (!ending) until = deadline;
    if (killAt && !killed) until = std::min(until, *killAt);
    if (!exitFd.open() && !exited) until = std::min(until, now + kExitPollInterval);
    int waitMs = -1;
    if (until != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
      waitMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
    }
    if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR) break;

    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == child.input.get()) {
        if (p.revents & (POLLERR | POLLHUP)) {
          child.input.reset();
          continue;
        }
        const std::size_t count = std::min(kChunk, options.input.size() - written);
        const ssize_t n = ::write(p.fd, options.input.data() + written, count);
        if (n > 0) written += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) child.input.reset();  // EPIPE
        if (written == options.input.size()) child.input.reset();
      } else if (p.fd == child.output.get()) {
        if (!drain(p.fd, result.standardOutput, options.outputLimit, result.outputTruncated)) {
          child.output.reset();
        }
      } else if (p.fd == child.error.get()) {
        if (!drain(p.fd, result.standardError, options.outputLimit, result.outputTruncated)) {
          child.error.reset();
        }
      }
    }
  }

  // Take what is still waiting in the pipes before letting go of them.
  for (Fd* fd : {&child.output, &child.error}) {
    if (!fd->open()) continue;
    drain(fd->get(), fd == &child.output ? result.standardOutput : result.standardError, options.outputLimit,
          result.outputTruncated);
    fd->reset();
  }

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signalled = true;
    result.exitCode = 128 + WTERMSIG(status);
  }
  return result;
}

std::vector<std::string> environmentWith(const std::string& name, const std::string& value) {
  std::vector<std::string> env;
  const std::string prefix = name + "=";
  bool replaced = false;
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    if (entry.starts_with(prefix)) {
      if (replaced) continue;
      entry = prefix + value;
      replaced = true;
    }
    env.push_back(std::move(entry));
  }
  if (!replaced) env.push_back(prefix + value);
  return env;
}

}  // namespace kestrane::ProcessRunner
