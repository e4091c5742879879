#pragma once
// How every command reports a pipeline job: stage lines as it runs, then the package, what the
// cut did, what deserves a listen, the warnings and the next step, or a one-line failure.
#include <functional>
#include <stop_token>
#include <string>

#include "Console.hpp"
#include "ExitStatus.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

using Job = std::function<Pipeline::Output(const Pipeline::ProgressCallback&)>;

struct JobOutcome {
  int status = kExitOK;  // 0, 1 on failure, 130 when stopped
  std::string failure;   // the one-line reason of a failure, as printed
};

// Runs `job`, handing it a progress callback that draws each stage on the console, then
// prints the closing lines. A failure is one line on the console's error stream. A job that
// went on to its end though `stop` asked it to stop is reported as stopped once its package was
// complete.
JobOutcome runReported(const Job& job, Console& console, std::stop_token stop = {});

// A line of the file system's or the user's text, on one line and with control characters
// escaped, ready to print.
std::string printable(const std::string& text);

}  // namespace kestrane::cli
