#include "InputCheck.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "JobReport.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/ScriptLoader.hpp"

namespace kestrane::cli {

namespace fs = std::filesystem;

namespace {

bool isFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool present(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

void checkWritableFolder(const fs::path& dir) {
  const fs::path absolute = fs::absolute(dir);
  fs::path existing = absolute;
  while (!present(existing) && existing.has_relative_path()) existing = existing.parent_path();
  const std::string shown = printable(dir.string());
  if (!isFolder(existing)) {
    throw UsageError(existing == absolute
                         ? fmt::format("Can't write a package into {} — it is not a folder.", shown)
                         : fmt::format("Can't make the folder {} — {} is not a folder.", shown,
                                       printable(existing.string())));
  }
  if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    const std::string why = std::strerror(errno);
    throw UsageError(existing == absolute
                         ? fmt::format("Can't write a package into {} — {}.", shown, why)
                         : fmt::format("Can't make the folder {} in {} — {}.", shown,
                                       printable(existing.string()), why));
  }
}

void checkScript(const fs::path& script) {
  const std::string shown = printable(script.string());
  if (!present(script)) throw UsageError(fmt::format("No script at {} — no such file.", shown));
  std::error_code ec;
  if (!fs::is_regular_file(script, ec)) {
    throw UsageError(fmt::format("The script {} is not a file.", shown));
  }
  std::string extension = script.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  if (!ScriptLoader::scriptExtensions().contains(lowered(extension))) {
    throw UsageError(fmt::format(
        "The script {} is not a script file — give a .txt, .md, .text, .fountain, .rtf or .pdf "
        "file.",
        shown));
  }
  try {
    ScriptLoader::load(script.string());
  } catch (const ScriptLoader::ScriptError& e) {
    throw UsageError(printable(e.what()));
  }
}

void checkCutInputs(const CutOptions& options) {
  for (const fs::path& footage : options.footage) {
    if (const auto problem = MediaProbe::fileProblem(footage.string())) {
      throw UsageError(
          printable(MediaProbe::ProbeError::unreadable(footage.string(), *problem).what()));
    }
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
