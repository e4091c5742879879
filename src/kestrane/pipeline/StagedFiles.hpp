#pragma once
// The files of one package write, each held under a hidden name in the package until every one
// is written, then moved into place in the order written (the session file last). A write that
// fails or is stopped before the move leaves the package exactly as it was. The move is
// recorded in the package before it starts, so a run that dies halfway through it leaves the
// next run on the package what it needs to finish it.
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PackageRefusals.hpp"

namespace kestrane::Pipeline::detail {

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
  // The file at `name` is kept under the free name `as`, both in the folder, before any written
  // file moves into place, so nothing moved in replaces it. Nothing is done when nothing is at
  // `name` by then.
  void setAside(const std::filesystem::path& name, const std::filesystem::path& as);
  // Checks that every destination can take its file, records the move, sets aside what was asked
  // to be kept, moves every written file into place and removes what was asked to go. Throws
  // AtomicFile::WriteError when a destination can't take its file, a name a file is set aside
  // under is taken, or the record can't be written (nothing has moved), and
  // MoveLeftHalfway when a move fails once the record is written (the record and the files not
  // yet moved stay for the next run). A file that can't be removed stays where it is: the caller
  // looks for what is left.
  void commit();

 private:
  std::filesystem::path folder_;
  std::vector<std::pair<AtomicFile::Aside, std::filesystem::path>> written_;  // aside, destination
  std::vector<std::filesystem::path> removals_;
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> setAsides_;  // name, as
  bool recorded_ = false;
};

}  // namespace kestrane::Pipeline::detail
