#pragma once
// The files of one package write, each held under a hidden name in the package until every one
// is written, then moved into place in the order written (the session file last). A write that
// fails or is stopped before the move leaves the package exactly as it was.
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrane::Pipeline::detail {

class StagedFiles {
 public:
  StagedFiles() = default;
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Writes `bytes` aside for `destination`. Throws AtomicFile::WriteError.
  void write(const std::filesystem::path& destination, std::string_view bytes);
  // `destination` goes when the written files are moved into place.
  void removeOnCommit(const std::filesystem::path& destination);
  // Moves every written file into place and removes what was asked to go. Throws
  // AtomicFile::WriteError when a move fails.
  void commit();

 private:
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> written_;  // aside, destination
  std::vector<std::filesystem::path> removals_;
};

}  // namespace kestrane::Pipeline::detail
