#pragma once
// One run at a time writes a package folder: each holds an advisory lock on a hidden file in
// it for the whole run, which the kernel releases when the process ends however it ends. Once
// a run holds it, it finishes a move into place that an earlier run left halfway and removes
// the hidden files of writers that have gone.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrane/pipeline/PackageRefusals.hpp"

namespace kestrane::Pipeline::detail {

class PackageLock {
 public:
  // Throws PackageBusy when another run holds the package, and PackageUnlockable when the lock
  // can't be had: its name is taken by something that is not a plain file (a link, a folder),
  // this user can't open it, it can't be made, or the file system keeps no locks. A run never
  // goes ahead unlocked beside others. Only a folder this user can't write (or a read-only
  // file system) with no lock file in it is left unlocked: nothing can be written there, and
  // reading it needs no lock. Throws as finishInterruptedMove does of a move a killed run left
  // (PackageMayBeMixed where the package may be left holding parts of two cuts).
  explicit PackageLock(const std::filesystem::path& dir);
  ~PackageLock();
  PackageLock(const PackageLock&) = delete;
  PackageLock& operator=(const PackageLock&) = delete;

  // What the job should hear about what taking the package found (a move record set aside).
  const std::vector<std::string>& warnings() const { return warnings_; }
  // How many hidden files of writers that have gone were removed.
  std::size_t swept() const { return swept_; }

 private:
  void release();

  std::filesystem::path file_;
  int fd_ = -1;
  std::vector<std::string> warnings_;
  std::size_t swept_ = 0;
};

// A package folder a first cut left when it was stopped before any of its files was in place
// holds nothing but the program's own hidden files, held by no one. When `dir` is one, its
// lock is taken (which removes them) and returned, with the sentence that says what went;
// nothing when it is not one. Throws as PackageLock does.
struct ReclaimedFolder {
  std::shared_ptr<const PackageLock> lock;
  std::string note;
};
std::optional<ReclaimedFolder> reclaimAbandonedFolder(const std::filesystem::path& dir);

// The same, for a folder named as a package that is then removed too, as nothing is left in
// it: the sentence that says so, or nothing.
std::optional<std::string> clearAbandonedFolder(const std::filesystem::path& dir);

// True when `error`, met writing in `folder`, means this user can write nothing there (a
// read-only disk, or a folder closed to them): no run of theirs can change it either.
bool closedToThisUser(const std::filesystem::path& folder, int error);

}  // namespace kestrane::Pipeline::detail
