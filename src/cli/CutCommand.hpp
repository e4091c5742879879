#pragma once
// Runs `kestrane cut`: each footage file in turn through the pipeline, reporting as it goes.
#include <ostream>
#include <stop_token>

#include "CutOptions.hpp"
#include "JobReport.hpp"

namespace kestrane::cli {

// Prints each stage label as it starts, then the package path and the warnings of each job;
// a failure is one line on `err`. Returns the process exit status: 0 when every file was
// cut, 1 when any failed, 130 when stopped.
int runCut(const CutOptions& options, std::ostream& out, std::ostream& err,
           std::stop_token stop = {});

}  // namespace kestrane::cli
