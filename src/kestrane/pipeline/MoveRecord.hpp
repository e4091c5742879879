#pragma once
// The record of a move into place: what a package write leaves in the folder while its staged
// files move, so that a run that dies halfway leaves the next run what it needs to finish the
// move. Both the write and the finishing check the names it moves onto here.
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::Pipeline::detail {

// The record's name in the package folder while the move lasts.
inline constexpr std::string_view kMoveRecordName = ".kestrane.move";

struct MoveRecord {
  struct Move {
    std::string from;  // a staged file's name
    std::string to;    // the name it takes
  };
  std::vector<Move> moves;            // in the order they are made, the session file's last
  std::vector<std::string> removals;  // made once every file has moved
};

// The bytes a record is written as.
std::string recordText(const MoveRecord& record);

// The record `bytes` hold, or nothing when they are not laid out as this program writes one:
// every move takes one of its own staged files to a name in the folder, and every removal
// names a file in the folder.
std::optional<MoveRecord> parsedRecord(const std::string& bytes);

// A name a move into place can't be made on, and why (the system's error number).
struct Obstacle {
  std::filesystem::path name;
  bool removal = false;  // a file to remove, not one to take a moved file
  int error = 0;
};

// The first of `destinations` that can't take a file moved into `folder` (a folder or anything
// else that is no file or link stands there, or the sticky folder keeps another user's file),
// else the first of `removals` that can't be removed. Checked before the first move, so one in
// the way leaves the package as it stands instead of half replaced.
std::optional<Obstacle> firstObstacle(const std::vector<std::filesystem::path>& destinations,
                                      const std::vector<std::filesystem::path>& removals, const struct stat& folder);

}  // namespace kestrane::Pipeline::detail
