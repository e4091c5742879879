#pragma once
// The scratch files this process has made and not yet removed (decoded audio, the recognizer's
// word list, files of a package not yet moved into place), so a forced exit, which runs no
// destructors, can still take them away; and the sweep of those a process that ended without
// that chance left in the temporary folder.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrane::platform::ScratchFiles {

// Remembers a scratch file (or a folder to remove if it is still empty) from before it is
// created.
void add(const std::string& path);
// Removes the file if it is there and forgets it.
void remove(const std::string& path);
// Forgets the file without removing it: it has been moved into place.
void forget(const std::string& path);
// Removes every remembered file, newest first, and every remembered folder left empty; for the
// last moments before a forced exit. It waits only for another thread's add or remove, and
// allocates nothing.
void removeAll() noexcept;

// The start of a scratch file's name in the temporary folder: "kestrane-<kind>-<pid>-", so a
// sweep can tell which process it belongs to. `kind` is one of "audio", "dictionary",
// "hesitations".
std::string namePrefix(std::string_view kind);

// Removes the scratch files in `folder` named by namePrefix whose process is no longer
// running; returns how many went. Files of a running process, of another user and anything
// else are left alone.
std::size_t sweepOrphans(const std::filesystem::path& folder);
std::size_t sweepOrphans();

}  // namespace kestrane::platform::ScratchFiles
