#pragma once
// Ends the calling process with SIGKILL just as it makes a chosen rename, the way a run killed at
// that moment ends (nothing of it runs after): the kernel traps every rename, and the trap
// either kills or makes the rename itself. For a forked child only; x86-64 only.
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace kestrane::test {

#if defined(__x86_64__)
inline constexpr bool kCanKillAtRename = true;

namespace renameTrap {
inline int left = 0;
inline const char* from = nullptr;
inline bool counting = false;

inline bool endsWith(const char* text, const char* tail) {
  const size_t n = strlen(text), m = strlen(tail);
  return n >= m && memcmp(text + n - m, tail, m) == 0;
}

inline void onRename(int, siginfo_t*, void* context) {
  greg_t* regs = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const char* destination = reinterpret_cast<const char*>(regs[REG_RSI]);
  counting = counting || endsWith(destination, from);
  if (counting && --left == 0) ::kill(::getpid(), SIGKILL);
  const int saved = errno;
  const long result = ::syscall(SYS_renameat2, AT_FDCWD, reinterpret_cast<const char*>(regs[REG_RDI]), AT_FDCWD,
                                reinterpret_cast<const char*>(regs[REG_RSI]), 0);
  regs[REG_RAX] = result == -1 ? -errno : result;
  errno = saved;
}
}  // namespace renameTrap

// From now on the process is killed as it makes the `n`th rename counted from the first one onto
// a name ending in `from` (which is the first). False when the trap can't be set.
inline bool killAtRename(const char* from, int n) {
  renameTrap::from = from;
  renameTrap::left = n;
  struct sigaction action {};
  action.sa_sigaction = renameTrap::onRename;
  action.sa_flags = SA_SIGINFO;
  if (::sigaction(SIGSYS, &action, nullptr) != 0) return false;
  sigset_t sys;
  sigemptyset(&sys);
  sigaddset(&sys, SIGSYS);
  pthread_sigmask(SIG_UNBLOCK, &sys, nullptr);
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_rename, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}
#else
inline constexpr bool kCanKillAtRename = false;
inline bool killAtRename(const char*, int) { return false; }
#endif

}  // namespace kestrane::test
