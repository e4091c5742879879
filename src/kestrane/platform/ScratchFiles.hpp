#pragma once
// The scratch files this process has made and not yet removed (decoded audio, the recognizer's
// word list, the graphics renderer's work folder, files of a package not yet moved into place),
// so a forced exit, which runs no destructors, can still take them away; and the sweep of
// those a process that ended without that chance left in the temporary folder.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform::ScratchFiles {

// A scratch file that could not be made.
struct CreateError : UserFacingError {
  using UserFacingError::UserFacingError;
};

// A new empty file in the temporary folder, "kestrane-<kind>-<pid>-<UUID><extension>",
// private to this user and remembered. It is held (an advisory lock, see HeldFiles) until it is
// removed, so no sweep takes it from a running process, whatever process namespace it runs in.
// `kind` is one of "audio" (with ".wav"), "dictionary", "hesitations". Throws CreateError.
std::string create(std::string_view kind, std::string_view extension = {});
// The same for a folder, "kestrane-<kind>-<pid>-<UUID>"; remove() takes it with everything in
// it. `kind` is "graphics". Throws CreateError.
std::string createFolder(std::string_view kind);

// Remembers a scratch file (or a folder to remove if it is still empty) from before it is
// created.
void add(const std::string& path);
// Removes the file (a folder made by createFolder with what it holds) if it is there, and
// forgets it.
void remove(const std::string& path);
// Forgets the file without removing it: it has been moved into place.
void forget(const std::string& path);
// Removes every remembered file, newest first, and every remembered folder left empty; for the
// last moments before a forced exit. It waits only for another thread's add or remove, and
// allocates nothing.
void removeAll() noexcept;
// removeAll, then ends the process with `status` still holding the list, so a file another
// thread is making meanwhile is either taken too or never made.
[[noreturn]] void removeAllAndExit(int status) noexcept;

// The start of a scratch file's name in the temporary folder: "kestrane-<kind>-<pid>-".
std::string namePrefix(std::string_view kind);

// Removes from `folder` what is provably this program's and abandoned: exactly the names
// create and createFolder make, owned by this user, a regular file (a folder for "graphics"),
// and held by no process. Returns how many went.
std::size_t sweepOrphans(const std::filesystem::path& folder);
std::size_t sweepOrphans();

}  // namespace kestrane::platform::ScratchFiles
