#pragma once
// How every command reports a pipeline job: stage labels as they start, then the package, the
// rough cut and the warnings, or a one-line failure.
#include <functional>
#include <ostream>

#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

inline constexpr int kExitOK = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

using Job = std::function<Pipeline::Output(const Pipeline::ProgressCallback&)>;

// Runs `job`, handing it a progress callback that prints each stage on `out`, then prints the
// closing lines. A failure is one line on `err`. Returns 0, 1 on failure, 130 when stopped.
int runReported(const Job& job, std::ostream& out, std::ostream& err);

}  // namespace kestrane::cli
