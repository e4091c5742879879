#pragma once
// Files a running process marks as in use by holding an advisory lock on them, which the kernel
// releases when the process ends however it ends; and the removal of leftovers no process
// holds any more.
#include <filesystem>

namespace kestrane::HeldFiles {

enum class Lock {
  taken,
  heldElsewhere,  // by another open file, in this process or another
  unavailable,    // the file system keeps no such locks
};

// Takes the exclusive lock of the open file `fd` without waiting.
Lock tryLock(int fd);

// True when the open file `fd` is the one `path` names now (it was not removed or replaced).
bool stillNamed(int fd, const std::filesystem::path& path);

// Removes `path` when it is provably an abandoned leftover of this program: a regular file (a
// folder, with everything in it, when `folder`), not a link, owned by this user, and held by
// no process. True when it went.
bool removeIfAbandoned(const std::filesystem::path& path, bool folder = false);

}  // namespace kestrane::HeldFiles
