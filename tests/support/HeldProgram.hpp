#pragma once
// A program run by a test, held by the kernel at the points the test acts on it, so that it
// can't run past such a point while the test looks, on a machine of any speed.
//
// A seccomp filter in the child traps its writes to fds 1 and 2, its waits for a signal and
// its calls that make or move a file, and hands each trapped call to the test, which lets it
// through (or acts first, then lets it through). Signals sent while a call is held are pending
// before the program can take another step past it.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace kestrane::test {

#if defined(__x86_64__) || defined(__aarch64__)
inline constexpr bool kCanHoldPrograms = true;
#else
inline constexpr bool kCanHoldPrograms = false;
#endif

// The program as a test sees it at a point it waits for: held in the call at that point.
class HeldProgram {
 public:
  explicit HeldProgram(pid_t pid) : pid_(pid) {}
  pid_t pid() const { return pid_; }

  // Sends `signal`. SIGINT, SIGTERM and SIGHUP ask the program to stop, and its job would run on
  // while the thread that takes them wakes; so from here nothing the program runs makes or moves
  // a file until the program has said "Stopping…" and its signal thread waits again (the job has
  // then been asked to stop), or, after a second such signal, until the program has ended. One the
  // program ignores and doesn't block, the kernel drops as it is sent: it asks nothing.
  void signal(int signal) {
    const bool stops = (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) && !drops(signal);
    ::kill(pid_, signal);
    if (stops) ++stopSignals_;
  }
  int stopSignals() const { return stopSignals_; }

 private:
  // Whether the kernel drops `signal` as it is sent: the program ignores it and doesn't block it
  // (as its main thread, which every later thread takes its mask from, says).
  bool drops(int signal) const {
    std::uint64_t ignored = 0, blocked = 0;
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
      if (line.starts_with("SigBlk:")) blocked = std::stoull(line.substr(7), nullptr, 16);
    }
    const std::uint64_t bit = std::uint64_t{1} << (signal - 1);
    return (ignored & bit) && !(blocked & bit);
  }

  pid_t pid_;
  int stopSignals_ = 0;
};

namespace held {

#ifndef SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV
#define SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV (1UL << 5)
#endif

#if defined(__x86_64__)
inline constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
inline constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
inline constexpr std::uint32_t kArch = 0;
#endif

inline bool isWrite(int nr) { return nr == __NR_write || nr == __NR_writev; }

// A one-byte message with room for one descriptor, as the trap's listener travels.
struct DescriptorMessage {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  DescriptorMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

// The trap: writes to fds 1 and 2, the wait for a signal, and every call that makes or moves a
// file. Everything else, and every call on another architecture's numbering, goes through.
class Filter {
 public:
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;
  Filter() {
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (int nr : {__NR_write, __NR_writev}) {
      add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 5));
      add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
      add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 1, 2, 0));
      add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 2, 1, 0));
      add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
      add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    }
    createdWithFlagsAt(__NR_openat, 2);
#ifdef __NR_open
    createdWithFlagsAt(__NR_open, 1);
#endif
    std::vector<int> always{__NR_rt_sigtimedwait, __NR_renameat2, __NR_linkat};
#ifdef __NR_renameat
    always.push_back(__NR_renameat);
#endif
#ifdef __NR_rename
    always.push_back(__NR_rename);
#endif
#ifdef __NR_creat
    always.push_back(__NR_creat);
#endif
#ifdef __NR_link
    // What link() calls where the system has it: a lock taken on a package makes its name so.
    always.push_back(__NR_link);
#endif
    for (int nr : always) {
      add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 1));
      add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    }
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    program_ = {static_cast<unsigned short>(code_.size()), code_.data()};
  }

  // In the child after fork (only calls safe there): traps this process and what it runs, and
  // hands the trap's listener over `socket`. False when the kernel refuses.
  bool installAndSend(int socket) {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    // Where the kernel can, a held call stays held through signals other than SIGKILL.
    long listener = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                              SECCOMP_FILTER_FLAG_NEW_LISTENER | SECCOMP_FILTER_FLAG_WAIT_KILLABLE_RECV, &program_);
    if (listener < 0 && errno == EINVAL)
      listener = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program_);
    if (listener < 0) return false;
    DescriptorMessage sending;
    cmsghdr* header = CMSG_FIRSTHDR(&sending.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int fd = static_cast<int>(listener);
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    const bool sent = ::sendmsg(socket, &sending.message, 0) == 1;
    ::close(fd);
    return sent;
  }

 private:
  void add(sock_filter instruction) { code_.push_back(instruction); }
  // open and openat are trapped only when they may make a file.
  void createdWithFlagsAt(int nr, int flagsArg) {
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 4));
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                 static_cast<std::uint32_t>(offsetof(seccomp_data, args[0]) + flagsArg * sizeof(std::uint64_t))));
    add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_CREAT, 0, 1));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  }

  std::vector<sock_filter> code_;
  sock_fprog program_{};
};

// The listener the child sent over `socket`, or -1 when it sent none.
inline int receiveListener(int socket) {
  DescriptorMessage received;
  if (::recvmsg(socket, &received.message, MSG_CMSG_CLOEXEC) != 1) return -1;
  const cmsghdr* header = CMSG_FIRSTHDR(&received.message);
  if (!header || header->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return fd;
}

// The trap's listener, handed from a child that installs the filter to the parent that serves
// it. Made before the fork, so the child allocates nothing.
class Handoff {
 public:
  // False when the two ends can't be made.
  bool open() { return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets_) == 0; }
  // In the child: installs the filter and sends its listener, or ends the child (126).
  void installInChild() {
    if (!filter_.installAndSend(sockets_[1])) ::_exit(126);
  }
  // In the parent: the listener, or -1 when the child sent none.
  int receive() {
    ::close(sockets_[1]);
    const int listener = receiveListener(sockets_[0]);
    ::close(sockets_[0]);
    return listener;
  }

 private:
  int sockets_[2] = {-1, -1};
  Filter filter_;
};

// What a held write of thread `tid` would write.
inline std::string writtenBy(pid_t tid, const seccomp_data& call) {
  std::vector<iovec> parts;
  if (call.nr == __NR_write) {
    parts.push_back({reinterpret_cast<void*>(call.args[1]), static_cast<std::size_t>(call.args[2])});
  } else {
    parts.resize(std::min<std::uint64_t>(call.args[2], IOV_MAX));
    iovec local{parts.data(), parts.size() * sizeof(iovec)};
    iovec remote{reinterpret_cast<void*>(call.args[1]), local.iov_len};
    if (::process_vm_readv(tid, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(local.iov_len)) return {};
  }
  std::string text;
  for (const iovec& part : parts) {
    std::string piece(part.iov_len, '\0');
    iovec local{piece.data(), piece.size()};
    const ssize_t n = ::process_vm_readv(tid, &local, 1, &part, 1, 0);
    if (n > 0) text.append(piece, 0, static_cast<std::size_t>(n));
  }
  return text;
}

// Called for each write of the program to its output while the write is held, with what went
// through before it.
using OnOutput = std::function<void(HeldProgram&, const std::string& before, const std::string& write)>;

// Called, while the call is held, for each call of the program that makes or moves a file
// (its system call number).
using OnFileCall = std::function<void(HeldProgram&, int nr)>;

// Serves the trap of `child` while reading its output from `output` (-1 for none) into `out`,
// until the program has ended and its output is closed; returns its wait status.
inline int serve(pid_t child, int listener, int output, std::string& out, const OnOutput& onOutput,
                 const OnFileCall& onFileCall = {}) {
  HeldProgram held(child);
  std::string written;                // what the program's writes to fd 1 have put through
  std::vector<std::uint64_t> parked;  // calls held until the program has asked its job to stop
  pid_t stopper = 0;                  // the thread that said "Stopping…"
  const std::string task = "/proc/" + std::to_string(child) + "/task/";
  const auto letThrough = [listener](std::uint64_t id) {
    seccomp_notif_resp answer{};
    answer.id = id;
    answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    return ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &answer) == 0;
  };
  const auto serveOne = [&] {
    seccomp_notif call{};
    if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) return;  // its caller has gone
    const int nr = call.data.nr;
    const bool ours = call.pid > 0 && ::access((task + std::to_string(call.pid)).c_str(), F_OK) == 0;
    if (isWrite(nr)) {
      const auto fd = static_cast<int>(call.data.args[0]);
      const std::string text = ours ? writtenBy(static_cast<pid_t>(call.pid), call.data) : std::string();
      // The memory read was the caller's only if the call is still waiting.
      if (!ours || ::ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &call.id) != 0) {
        letThrough(call.id);
        return;
      }
      if (fd == STDOUT_FILENO && onOutput) onOutput(held, written, text);
      if (fd == STDERR_FILENO && held.stopSignals() > 0 && stopper == 0 && text.find("Stopping") != std::string::npos)
        stopper = static_cast<pid_t>(call.pid);
      // A write cut short by a signal is made again and comes back; only one that went through counts.
      if (letThrough(call.id) && fd == STDOUT_FILENO) written += text;
      return;
    }
    if (nr == __NR_rt_sigtimedwait) {
      // The thread that said "Stopping…" waits for signals again: it has asked the job to stop.
      if (ours && stopper != 0 && static_cast<pid_t>(call.pid) == stopper && held.stopSignals() == 1) {
        for (std::uint64_t id : parked) letThrough(id);
        parked.clear();
        stopper = -1;
      }
      letThrough(call.id);
      return;
    }
    // A file made or moved.
    if (held.stopSignals() > 0 && stopper != -1 && !(stopper > 0 && static_cast<pid_t>(call.pid) == stopper)) {
      parked.push_back(call.id);
    } else {
      if (ours && onFileCall) onFileCall(held, nr);
      letThrough(call.id);
    }
  };

  const int ended = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  bool reaped = false;
  int status = 0;
  char chunk[4096];
  while (!reaped || output >= 0) {
    pollfd fds[3] = {{listener, POLLIN, 0}, {output, POLLIN, 0}, {reaped ? -1 : ended, POLLIN, 0}};
    // Without a pidfd the end is looked for between waits.
    const int wait = ended < 0 && !reaped ? 20 : -1;
    if (::poll(fds, 3, wait) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) serveOne();
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL) && !(fds[0].revents & POLLIN)) listener = -1;
    if (fds[1].revents) {
      const ssize_t n = ::read(output, chunk, sizeof chunk);
      if (n > 0) {
        out.append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        output = -1;  // EIO from a terminal the program has closed
      }
    }
    if (!reaped && (ended < 0 || fds[2].revents)) reaped = ::waitpid(child, &status, WNOHANG) == child;
    if (reaped && stopper != -1) {
      // What the program ran and left behind is held no longer.
      for (std::uint64_t id : parked) letThrough(id);
      parked.clear();
      stopper = -1;
    }
  }
  if (ended >= 0) ::close(ended);
  return status;
}

}  // namespace held

// Runs `work` in a child process and returns how it ended. `onFileCall` sees each call of the
// child that makes or moves a file while the child is held in that call, so a test can act on
// it at that point.
inline int inHeldChild(const std::function<void()>& work, const held::OnFileCall& onFileCall) {
  held::Handoff handoff;
  if (!handoff.open()) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    handoff.installInChild();
    work();
    ::_exit(0);
  }
  const int listener = handoff.receive();
  std::string out;
  const int status = held::serve(child, listener, -1, out, {}, onFileCall);
  if (listener >= 0) ::close(listener);
  return status;
}

}  // namespace kestrane::test
