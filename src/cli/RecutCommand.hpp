#pragma once
// Runs `kestrane recut` and `kestrane retry-ai`: one stored session through the pipeline again.
#include <stop_token>

#include "Console.hpp"
#include "JobReport.hpp"
#include "RecutOptions.hpp"

namespace kestrane::cli {

// Report as `kestrane cut` does for one file. Return 0, 1 on failure, 130 when stopped.
int runRecut(const RecutOptions& options, Console& console, std::stop_token stop = {});
int runRetry(const RetryOptions& options, Console& console, std::stop_token stop = {});
// Prints the placement warnings and where the timeline went. Return 0, 1 on failure.
int runPlace(const PlaceOptions& options, Console& console, std::stop_token stop = {});

}  // namespace kestrane::cli
