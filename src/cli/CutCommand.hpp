#pragma once
// Runs `kestrane cut`: each footage file in turn through the pipeline, reporting as it goes.
#include <stop_token>

#include "Console.hpp"
#include "CutOptions.hpp"
#include "JobReport.hpp"

namespace kestrane::cli {

// Checks the inputs first (a mistake is a UsageError before any analysis), then cuts each
// file, reporting on the console. A batch ends with how many were cut and each failure.
// Returns the process exit status: 0 when every file was cut, 1 when any failed, 130 when
// stopped.
int runCut(const CutOptions& options, Console& console, std::stop_token stop = {});

}  // namespace kestrane::cli
