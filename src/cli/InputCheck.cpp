#include "InputCheck.hpp"

#include "JobReport.hpp"
#include "kestrane/pipeline/InputCheck.hpp"

namespace kestrane::cli {

namespace fs = std::filesystem;

namespace {

// The engine's sentence, made safe for the terminal, as a mistake on the command line.
template <typename Check>
void asUsage(Check check) {
  try {
    check();
  } catch (const Pipeline::InputError& e) {
    throw UsageError(printable(e.what()));
  }
}

}  // namespace

void checkWritableFolder(const fs::path& dir) {
  asUsage([&] { Pipeline::checkWritableFolder(dir); });
}

void checkScript(const fs::path& script) {
  asUsage([&] { Pipeline::checkScript(script); });
}

void checkCutInputs(const CutOptions& options) {
  for (const fs::path& footage : options.footage) {
    asUsage([&] { Pipeline::checkFootage(footage); });
  }
  if (options.outputDir) {
    checkWritableFolder(*options.outputDir);
  } else {
    for (const fs::path& footage : options.footage) {
      try {
        checkWritableFolder(fs::absolute(footage).parent_path());
      } catch (const UsageError& e) {
        throw UsageError(std::string(e.what()) + " Give --out to put the package elsewhere.");
      }
    }
  }
  if (options.script) checkScript(*options.script);
}

}  // namespace kestrane::cli
