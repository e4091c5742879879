#pragma once
// What tells one file at a name from another without reading it: its kind, owner, size and
// modification time to the nanosecond. A copy that keeps times (cp -a, a move to another disk)
// keeps it; another account can give no file of the owner's a time of its choosing.
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::Pipeline::detail {

struct FileIdentity {
  mode_t kind = 0;  // the S_IFMT bits
  uid_t owner = 0;
  off_t size = 0;
  std::timespec modified{};
};

FileIdentity identityOf(const struct stat& st);

// What a name holds, looked at without following a link: nothing, a file's status, or, when
// that can't be told, the system's error.
struct Held {
  int error = 0;
  std::optional<struct stat> st;
  bool known() const { return error == 0; }
};
Held heldAt(const std::filesystem::path& path);

// What a name holds, written as text: "none" for nothing, else the identity's numbers.
std::string identityText(const std::optional<FileIdentity>& held);
// The reverse; false when `text` is neither.
bool parsedIdentity(std::string_view text, std::optional<FileIdentity>& held);

// True when `st` is the staged file `staged` of a run of `owner`'s: a plain file of that
// account's, of its size and time, with a single link. Size and time can't tell the staged file
// from another of the owner's files of that size (two files written back to back share their time
// to the nanosecond), so a file linked here from elsewhere, which stays there too, is not taken
// for it.
bool isStagedFile(const struct stat& st, const FileIdentity& staged, uid_t owner);

// True when `st` is the file `before` names: its kind, size and time, and owned as it was (or
// by `owner`, as everything is once a user copies the package as their own).
bool isFileHeldBefore(const struct stat& st, const FileIdentity& before, uid_t owner);

}  // namespace kestrane::Pipeline::detail
