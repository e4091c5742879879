#pragma once
// A whole file read into memory.
#include <filesystem>
#include <optional>
#include <string>

namespace kestrane {

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::string> readFileBytes(const std::filesystem::path& path);

}  // namespace kestrane
