#pragma once
// One run at a time writes a package folder: each holds an advisory lock on a hidden file in
// it for the whole run, which the kernel releases when the process ends however it ends. Once
// a run holds it, it finishes a move into place that an earlier run left halfway and removes
// the hidden files of writers that have gone.
#include <filesystem>
#include <string>
#include <vector>

#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

// Another run is writing the package.
class PackageBusy : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

// The package can't be locked: the lock's name is taken by something no run can hold.
class PackageUnlockable : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

namespace detail {

class PackageLock {
 public:
  // Throws PackageBusy when another run holds the package, and PackageUnlockable when the lock's
  // name is taken by something that is not a plain file (a link, a folder): a run never goes
  // ahead unlocked beside others. A folder in which the lock file can't be made (read-only)
  // is left unlocked: writing there fails on its own.
  explicit PackageLock(const std::filesystem::path& dir);
  ~PackageLock();
  PackageLock(const PackageLock&) = delete;
  PackageLock& operator=(const PackageLock&) = delete;

  // What the job should hear about what taking the package found (a move record set aside).
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  std::filesystem::path file_;
  int fd_ = -1;
  std::vector<std::string> warnings_;
};

}  // namespace detail
}  // namespace kestrane::Pipeline
