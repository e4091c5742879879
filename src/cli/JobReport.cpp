#include "JobReport.hpp"

#include <chrono>
#include <string>

namespace kestrane::cli {

namespace {

// Error texts may carry line breaks from lower layers; the command reports one line.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int runReported(const Job& job, std::ostream& out, std::ostream& err) {
  const auto started = std::chrono::steady_clock::now();
  const Pipeline::ProgressCallback progress = [&out](const Pipeline::Stage& stage) {
    out << stage.rawValue << std::endl;
  };
  try {
    const Pipeline::Output output = job(progress);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << "Package: " << output.packageDir.string() << std::endl;
    if (output.mp4URL) out << "Rough cut: " << output.mp4URL->string() << std::endl;
    for (const std::string& warning : output.warnings) out << "Warning: " << warning << '\n';
    out << "Done in " << Pipeline::elapsedString(seconds) << '.' << std::endl;
    return kExitOK;
  } catch (const Pipeline::Cancelled& e) {
    err << "kestrane: " << e.what() << std::endl;
    return kExitCancelled;
  } catch (const std::exception& e) {
    err << "kestrane: " << oneLine(e.what()) << std::endl;
    return kExitFailed;
  }
}

}  // namespace kestrane::cli
