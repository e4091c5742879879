#include "kestrane/pipeline/InputCheck.hpp"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/analysis/ScriptLoader.hpp"

namespace kestrane::Pipeline {

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

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void checkFootage(const fs::path& footage) {
  if (const auto problem = platform::MediaFile::problemAt(footage.string())) {
    throw InputError(MediaProbe::ProbeError::unreadable(footage.string(), *problem).what());
  }
}

void checkWritableFolder(const fs::path& dir) {
  const fs::path absolute = fs::absolute(dir);
  fs::path existing = absolute;
  while (!present(existing) && existing.has_relative_path()) existing = existing.parent_path();
  const std::string shown = dir.string();
  if (!isFolder(existing)) {
    throw InputError(existing == absolute
                         ? fmt::format("Can't write a package into {} — it is not a folder.", shown)
                         : fmt::format("Can't make the folder {} — {} is not a folder.", shown, existing.string()));
  }
  if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    const std::string why = std::strerror(errno);
    throw InputError(existing == absolute
                         ? fmt::format("Can't write a package into {} — {}.", shown, why)
                         : fmt::format("Can't make the folder {} in {} — {}.", shown, existing.string(), why));
  }
}

void checkScript(const fs::path& script) {
  const std::string shown = script.string();
  if (!present(script)) throw InputError(fmt::format("No script at {} — no such file.", shown));
  std::error_code ec;
  if (!fs::is_regular_file(script, ec)) {
    throw InputError(fmt::format("The script {} is not a file.", shown));
  }
  std::string extension = script.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  if (!ScriptLoader::scriptExtensions().contains(lowered(extension))) {
    throw InputError(
        fmt::format("The script {} is not a script file — give a .txt, .md, .text, .fountain, .rtf or .pdf "
                    "file.",
                    shown));
  }
  try {
    ScriptLoader::load(script.string());
  } catch (const ScriptLoader::ScriptError& e) {
    throw InputError(e.what());
  }
}

void checkInputs(const Request& request) {
  checkFootage(request.input);
  checkWritableFolder(request.outputDir ? *request.outputDir : fs::absolute(request.input).parent_path());
  if (request.scriptURL) checkScript(*request.scriptURL);
}

}  // namespace kestrane::Pipeline
