#pragma once
// What can be checked before any analysis, so that a mistyped path fails in a moment instead
// of after minutes of transcription. Each check throws UsageError with the one-line message.
#include <filesystem>

#include "CutOptions.hpp"

namespace kestrane::cli {

// Every footage file is a readable, non-empty regular file; the output folder (or, without
// one, each footage file's folder) can take a new package; the script is a readable script
// file that holds text.
void checkCutInputs(const CutOptions& options);

// `dir` is a folder this process may write in, or can be made inside one.
void checkWritableFolder(const std::filesystem::path& dir);

// The script exists, is a file of one of the script types, and reads as text.
void checkScript(const std::filesystem::path& script);

}  // namespace kestrane::cli
