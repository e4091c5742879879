#pragma once
// The files of one package write, each held under a hidden name in the package until every one
// is written, then moved into place in the order written (the session file last). A write that
// fails or is stopped before the move leaves the package exactly as it was. The move is
// recorded in the package before it starts, so a run that dies halfway through it leaves the
// next run on the package what it needs to finish it.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::Pipeline::detail {

// The record of a move into place, in the package folder while the move lasts.
inline constexpr std::string_view kMoveRecordName = ".kestrane.move";

class StagedFiles {
 public:
  // The files go into `folder`.
  explicit StagedFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Writes `bytes` aside for `destination`, a file in the folder. Throws AtomicFile::WriteError.
  void write(const std::filesystem::path& destination, std::string_view bytes);
  // Takes a file already written aside in the folder (complete and flushed) for `destination`.
  void adopt(AtomicFile::Aside aside, const std::filesystem::path& destination);
  // `destination` goes when the written files are moved into place.
  void removeOnCommit(const std::filesystem::path& destination);
  // Checks that every destination can take its file, records the move, moves every written
  // file into place and removes what was asked to go. Throws AtomicFile::WriteError when a
  // destination can't take its file or the record can't be written (nothing has moved), or a
  // move fails (the record and the files not yet moved stay for the next run).
  void commit();

 private:
  std::filesystem::path folder_;
  std::vector<std::pair<AtomicFile::Aside, std::filesystem::path>> written_;  // aside, destination
  std::vector<std::filesystem::path> removals_;
  bool recorded_ = false;
};

// Finishes, as its record says, a move into place in `folder` that a run left halfway: the
// files it had not moved yet are moved, and those it was to remove go. A record is acted on
// only when it moves the program's own staged files onto, and removes, only the names the
// writer of the package in `folder` gives its files (never removing the session file), in a
// folder that holds that package. Any other is set aside whole, under a name that replaces
// nothing, and nothing it names is touched; returns the sentence that says so. The record of
// another account's run is finished too, as its owner's next run would, and said so; where
// this user can't read it or what it moves, or the folder lets only a file's owner move it, it
// stays for that account and the run is refused (PackageUnlockable) with nothing changed, as it
// is when a record can't be set aside. A name that can't take its file, or can't be removed,
// refuses the run the same way, with the record and the files not yet moved left as they are;
// where this user can write nothing, the record stays and that is said.
std::optional<std::string> finishInterruptedMove(const std::filesystem::path& folder);

}  // namespace kestrane::Pipeline::detail
