#pragma once
// Runs of other ordinary accounts on a shared package, each in a child process of its own (the
// tests run as root, which can become any account).
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "kestrane/pipeline/PackageLock.hpp"
#include "pipeline/KillAtRename.hpp"

namespace kestrane::test {

// Two ordinary accounts of one group.
inline constexpr uid_t kFirstAccount = 65534, kSecondAccount = 65533;
inline constexpr gid_t kSharedGroup = 65534;

// How a child that tried to lock a package ended.
enum LockOutcome { kept = 10, locked, refused, notAsThatUser, mixed };

inline bool becomeAccount(uid_t uid, gid_t gid) {
  return ::setgroups(1, &gid) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
}

// Runs `act` as the ordinary user `uid` of group `gid` under `umask`; true when it returned true.
inline bool asAccount(uid_t uid, gid_t gid, mode_t umask, const std::function<bool()>& act) {
  const int status = inChild([&] {
    if (!becomeAccount(uid, gid)) ::_exit(notAsThatUser);
    ::umask(umask);
    ::_exit(act() ? 0 : 1);
  });
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// As the ordinary user `uid` of group `gid`: writes `bytes` through `file` (another's file this
// user may write, say), then links it as `as`; true when both were done.
inline bool writeThroughAndLink(uid_t uid, gid_t gid, const std::filesystem::path& file, const std::string& bytes,
                                const std::filesystem::path& as) {
  return asAccount(uid, gid, 022, [&] {
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) ::close(fd);
    return written && ::link(file.c_str(), as.c_str()) == 0;
  });
}

// Tries, as the ordinary user `uid` of group `gid` with the tightest umask, the lock of `folder`
// (by default the one the process is in, reached through ".", so no folder above need be open to
// that user). `told` gets the refusal, or what taking the lock found (its warnings, a line each).
inline int lockAs(uid_t uid, gid_t gid, std::string* told = nullptr, int signalled = -1, int waitFor = -1,
                  const std::filesystem::path& folder = ".") {
  int message[2];
  if (::pipe(message) != 0) return notAsThatUser;
  const auto say = [&](const std::string& text) { (void)!::write(message[1], text.data(), text.size()); };
  const int status = inChild([&] {
    ::close(message[0]);
    if (!becomeAccount(uid, gid)) ::_exit(notAsThatUser);
    ::umask(077);
    try {
      const Pipeline::detail::PackageLock lock(folder);
      for (const std::string& warning : lock.warnings()) say(warning + "\n");
      if (signalled >= 0) (void)!::write(signalled, "l", 1);
      char c;
      if (waitFor >= 0) (void)!::read(waitFor, &c, 1);
      ::_exit(locked);
    } catch (const Pipeline::PackageBusy&) {
      ::_exit(kept);
    } catch (const Pipeline::PackageUnlockable& e) {
      say(e.what());
      ::_exit(refused);
    } catch (const Pipeline::PackageMayBeMixed& e) {
      say(e.what());
      ::_exit(mixed);
    }
  });
  ::close(message[1]);
  std::string text;
  char piece[1024];
  for (ssize_t n; (n = ::read(message[0], piece, sizeof piece)) > 0;) text.append(piece, static_cast<std::size_t>(n));
  ::close(message[0]);
  if (told) *told = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `meanwhile` while the ordinary user `uid` of group `gid` holds the lock of `folder`;
// returns how that user's run ended.
inline int whileLockedBy(uid_t uid, gid_t gid, const std::function<void()>& meanwhile,
                         const std::filesystem::path& folder = ".") {
  int ready[2], done[2];
  if (::pipe(ready) != 0 || ::pipe(done) != 0) return notAsThatUser;
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::close(ready[0]);
    ::close(done[1]);
    ::_exit(lockAs(uid, gid, nullptr, ready[1], done[0], folder));
  }
  ::close(ready[1]);
  ::close(done[0]);
  char c = 0;
  if (::read(ready[0], &c, 1) == 1) meanwhile();
  ::close(done[1]);
  ::close(ready[0]);
  int held = 0;
  ::waitpid(holder, &held, 0);
  return WIFEXITED(held) ? WEXITSTATUS(held) : -1;
}

}  // namespace kestrane::test
