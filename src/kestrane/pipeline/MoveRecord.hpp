#pragma once
// The record of a move into place: what a package write leaves in the folder while its staged
// files move, so that a run that dies halfway leaves the next run what it needs to finish the
// move. It names, for every file it brings in, that file, and for every name it changes, what
// the name held before, so the next run can tell how far the move got and that the files it
// finds are the very ones the run meant. Both the write and the finishing check the names it
// moves onto here.
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/pipeline/FileIdentity.hpp"

namespace kestrane::Pipeline::detail {

// The record's name in the package folder while the move lasts.
inline constexpr std::string_view kMoveRecordName = ".kestrane.move";

struct MoveRecord {
  struct Move {
    std::string from;                    // a staged file's name
    std::string to;                      // the name it takes
    FileIdentity staged;                 // the staged file
    std::optional<FileIdentity> before;  // what `to` held before the move: nothing, or a file
  };
  struct Removal {
    std::string name;
    std::optional<FileIdentity> before;  // what it held when the move was recorded
  };
  // A file at one of the package's names that no run of ours wrote, kept under a free name.
  struct SetAside {
    std::string name;   // where it is
    std::string as;     // the free name it takes
    FileIdentity file;  // the file
  };
  std::vector<SetAside> setAsides;  // made first, so no file moved onto a name replaces one
  std::vector<Move> moves;          // in the order they are made, the session file's last
  std::vector<Removal> removals;    // made once every file has moved
  // Written by an earlier build, which named no file's identity: nothing in it can be proven.
  bool earlier = false;
};

// The bytes a record is written as.
std::string recordText(const MoveRecord& record);

// The record `bytes` hold (this build's, or an earlier one's), or nothing when they are not laid
// out as this program writes one: every move takes one of its own staged files to a name in the
// folder, and every removal names a file in the folder.
std::optional<MoveRecord> parsedRecord(const std::string& bytes);

// How far one move or removal of a record of `owner`'s run got in `folder`, told by what its
// names hold now.
enum class Progress {
  toMake,    // its name holds what it held before (or, for a move, nothing), and a move's staged file
             // is still there; or something that can take no file stands there, which stops it
  made,      // a move's name holds its staged file; a removal's holds nothing
  unstaged,  // a move's name holds what it held before, but its staged file is gone or another
  foreign,   // its name holds neither: not what this record knew of the folder
};
Progress progressOf(const std::filesystem::path& folder, const MoveRecord::Move& move, uid_t owner);
Progress progressOf(const std::filesystem::path& folder, const MoveRecord::Removal& removal, uid_t owner);
// A set-aside is to make while its name holds the file and the name it takes is free, and made once
// that name holds it.
Progress progressOf(const std::filesystem::path& folder, const MoveRecord::SetAside& setAside, uid_t owner);

// How far the whole move of a record of `owner`'s run got in `folder`: its moves not yet made,
// those that can't be made any more, its removals not yet made, and the first name that holds
// what the record can't account for. An earlier build's record names no identities to tell more
// by than that a move onto a name that holds nothing was not made: those are its moves to make,
// and nothing else is told of it.
struct MoveProgress {
  std::vector<MoveRecord::SetAside> setAsides;
  std::vector<MoveRecord::Move> toMake;
  std::vector<MoveRecord::Move> unstaged;
  std::vector<std::string> removals;
  std::optional<std::string> foreign;
};
MoveProgress progressIn(const std::filesystem::path& folder, const MoveRecord& record, uid_t owner);

// A name a move into place can't be made on, and why (the system's error number).
struct Obstacle {
  std::filesystem::path name;
  bool removal = false;  // a file to remove, not one to take a moved file
  int error = 0;
};

// The first of `destinations` that can't take a file moved into `folder` (a folder or anything
// else that is no file or link stands there, or the sticky folder keeps another user's file),
// else the first of `removals` that can't be removed, else the first of `freeNames` that is
// taken. Checked before the first move, so one in the way leaves the package as it stands
// instead of half replaced.
std::optional<Obstacle> firstObstacle(const std::vector<std::filesystem::path>& destinations,
                                      const std::vector<std::filesystem::path>& removals, const struct stat& folder,
                                      const std::vector<std::filesystem::path>& freeNames = {});

// Renames `from` to `to` without replacing anything: false with errno set (EEXIST when `to` is
// taken). On a disk that can't rename so, a file is linked under the new name, or, where the disk
// keeps no links either (exFAT, say), `to` is first taken with a placeholder made only where it
// is free.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace kestrane::Pipeline::detail
