#pragma once
// Whole-file writes that never leave a half-written file in place: documents, timelines and
// the session file alike.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::AtomicFile {

// A file that could not be written; the message names the file, reason() is the system's word.
class WriteError : public UserFacingError {
 public:
  WriteError(const std::filesystem::path& path, std::string reason)
      : UserFacingError("Couldn't write " + path.string() + " — " + reason), path_(path), reason_(std::move(reason)) {}

  const std::filesystem::path& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::filesystem::path path_;
  std::string reason_;
};

// A new hidden file beside a destination, named by newAsideName. It is held (HeldFiles) while
// this object lives, so a sweep of a folder's leftovers never takes it from its writer; closing
// it removes nothing.
class Aside {
 public:
  Aside() = default;
  Aside(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  Aside(Aside&& other) noexcept;
  Aside& operator=(Aside&& other) noexcept;
  ~Aside();

  const std::filesystem::path& path() const { return path_; }
  int fd() const { return fd_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// Writes `bytes` beside `path` and renames the result into place; on failure any earlier file
// at `path` is left as it was and WriteError is thrown.
void write(const std::filesystem::path& path, std::string_view bytes);
// The same, the file given `mode` (never more than 0666) before it takes its name.
void write(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// A new empty hidden file beside `path`, private to this user until share() is called on it.
// Throws WriteError.
Aside createAside(const std::filesystem::path& path);

// The mode this user's umask gives a new file (0666 less the mask): the mode of every file
// placed in a package, however it was staged.
mode_t newFileMode();

// Gives the complete staged file open as `fd` that mode, just before it takes its name.
void share(int fd);

// Writes `bytes` to a new hidden file beside `path`, flushed to disk, without moving it into
// place; on failure nothing is left behind and WriteError is thrown.
Aside writeAside(const std::filesystem::path& path, std::string_view bytes);
// The same, given `mode` instead of the one the umask gives.
Aside writeAside(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// A fresh name for a file staged in a folder: ".kestrane-staged-", the writer's process id, "-"
// and sixteen random hex digits, a form nobody names a file of their own by.
std::string newAsideName();

// True exactly for the names newAsideName makes: the only hidden files a sweep or a move record
// ever acts on.
bool isAsideName(std::string_view name);

// Removes from `folder` the hidden files of writers that have gone (killed before they could
// move them into place or remove them); returns how many went.
std::size_t sweepAbandoned(const std::filesystem::path& folder);

}  // namespace kestrane::AtomicFile
