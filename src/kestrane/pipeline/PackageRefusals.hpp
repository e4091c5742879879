#pragma once
// What a run on a package stops with when the package can't be taken for it or may not be whole,
// each carrying the sentence the user is shown. The lock, the judge of a killed run's move, the
// mark of a mixed package and the package write all throw them, so they have a home of their own.
#include <filesystem>
#include <string>
#include <string_view>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

// Another run is writing the package.
class PackageBusy : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

// The package can't be taken for a run: its lock can't be made, opened or held, or a record
// left in it can't be set aside. Nothing in it was changed.
class PackageUnlockable : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

// What is said, with a run's reason before it, of a package that may be mixed.
inline constexpr std::string_view kMayBeMixed =
    "the package may hold parts of two cuts, and running the re-cut again makes it whole.";
// The same, said to an account that can't finish the move: another must.
inline constexpr std::string_view kMayBeMixedForAnother =
    "the package may hold parts of two cuts, and a re-cut by an account that can write it makes it whole.";

// A move into place that a killed run left could not be proven to be that run's own and this
// folder's, or could not be finished whole (or at all, by this account): the package may hold
// parts of two cuts until it is re-cut, and the message says so.
class PackageMayBeMixed : public PipelineError {
 public:
  using PipelineError::PipelineError;
};

namespace detail {

// A move into place that failed once under way: some of the run's files may be in place and
// the rest not, so until the next run finishes the move the package is neither cut.
class MoveLeftHalfway : public PackageMayBeMixed {
 public:
  MoveLeftHalfway(const std::filesystem::path& destination, const std::string& reason);
  // The write that failed, for a run that takes the whole folder away instead.
  const AtomicFile::WriteError& write() const { return write_; }

 private:
  AtomicFile::WriteError write_;
};

}  // namespace detail
}  // namespace kestrane::Pipeline
