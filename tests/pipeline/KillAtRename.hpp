#pragma once
// Work in a child process, and the child killed (SIGKILL, nothing of it runs after) just as it
// makes a chosen rename, or ended some other way just after it, or that rename failed: the
// kernel traps every rename, and the trap kills, fails it, renames itself, or renames and then
// ends the child.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace kestrane::test {

// Runs `work` in a child process and returns how it ended.
inline int inChild(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    work();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

#if defined(__x86_64__)
inline constexpr bool kCanKillAtRename = true;
inline std::string_view renameFrom;
inline bool renameCounting = false;
inline int renamesLeft = 0;
// Run just after the chosen rename instead of the kill before it.
inline void (*afterRename)() = nullptr;
// The error the chosen rename fails with instead of the kill, when not 0.
inline int renameError = 0;

// From now on this process's system calls go through `rules` (which may return, else every call
// is allowed), where they are the x86_64 calls the rules name. False when that can't be set.
inline bool withSyscallFilter(std::vector<sock_filter> rules) {
  rules.insert(rules.begin(), {
                                  BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
                                  BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
                                  BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                                  BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                              });
  rules.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  sock_fprog program{static_cast<unsigned short>(rules.size()), rules.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// From now on every read of `fd` at or past byte `from` fails with EIO, as a failing drive's does.
// False when that can't be set.
inline bool withFailingReads(int fd, std::uint64_t from = 0) {
  return withSyscallFilter({
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 0, 8),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fd), 0, 6),
      // The offset's high word first: anything past 4 GiB is past `from`'s low word alone.
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[3]) + 4),
      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, static_cast<std::uint32_t>(from >> 32), 3, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(from >> 32), 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[3])),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, static_cast<std::uint32_t>(from), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
  });
}

// The trap's handler: counts from the first rename onto a name ending in renameFrom.
inline void onRename(int, siginfo_t*, void* context) {
  greg_t* regs = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto* from = reinterpret_cast<const char*>(regs[REG_RDI]);
  const auto* to = reinterpret_cast<const char*>(regs[REG_RSI]);
  renameCounting = renameCounting || std::string_view(to).ends_with(renameFrom);
  const bool chosen = renameCounting && --renamesLeft == 0;
  if (chosen && renameError != 0) {
    regs[REG_RAX] = -renameError;
    return;
  }
  if (chosen && !afterRename) ::kill(::getpid(), SIGKILL);
  const int saved = errno;
  const long result = ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0);
  regs[REG_RAX] = result == -1 ? -errno : result;
  errno = saved;
  if (chosen && afterRename) afterRename();
}

// From now on this process is killed as it makes the `n`th rename, counting the first one onto a
// name ending in `from` as the first. False when the trap can't be set.
inline bool killAtRename(std::string_view from, int n) {
  renameFrom = from;
  renamesLeft = n;
  struct sigaction action {};
  action.sa_sigaction = onRename;
  action.sa_flags = SA_SIGINFO;
  return ::sigaction(SIGSYS, &action, nullptr) == 0 && withSyscallFilter({
                                                           BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rename, 0, 1),
                                                           BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
                                                       });
}

// The same, but the `n`th rename is made and then `end` runs (a forced exit, say).
inline bool exitAfterRename(std::string_view from, int n, void (*end)()) {
  afterRename = end;
  return killAtRename(from, n);
}

// The same, but the `n`th rename fails with `error` and the process goes on.
inline bool failAtRename(std::string_view from, int n, int error) {
  renameError = error;
  return killAtRename(from, n);
}
#else
inline constexpr bool kCanKillAtRename = false;
inline bool killAtRename(std::string_view, int) { return false; }
inline bool exitAfterRename(std::string_view, int, void (*)()) { return false; }
inline bool failAtRename(std::string_view, int, int) { return false; }
#endif

}  // namespace kestrane::test
