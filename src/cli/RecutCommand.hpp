#pragma once
// Runs `kestrane recut` and `kestrane retry-ai`: one stored session through the pipeline again.
#include <ostream>
#include <stop_token>

#include "CutCommand.hpp"
#include "RecutOptions.hpp"

namespace kestrane::cli {

// Prints each stage label as it starts, then the package path and the warnings; a failure is
// one line on `err`. Returns 0, 1 on failure, 130 when stopped.
int runRecut(const RecutOptions& options, std::ostream& out, std::ostream& err,
             std::stop_token stop = {});
int runRetry(const RetryOptions& options, std::ostream& out, std::ostream& err,
             std::stop_token stop = {});

}  // namespace kestrane::cli
