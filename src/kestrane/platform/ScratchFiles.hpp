#pragma once
// The scratch files this process has made and not yet removed (decoded audio, mostly), so a
// forced exit, which runs no destructors, can still take them away.
#include <string>

namespace kestrane::platform::ScratchFiles {

// Remembers a scratch file from before it is created.
void add(const std::string& path);
// Removes the file if it is there and forgets it.
void remove(const std::string& path);
// Removes every remembered file; for the last moments before a forced exit. It waits only for
// another thread's add or remove, and allocates nothing.
void removeAll() noexcept;

}  // namespace kestrane::platform::ScratchFiles
