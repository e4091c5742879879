#pragma once
// Whole-file writes that never leave a half-written file in place.
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::AtomicFile {

// A file that could not be written; the message names the file.
class WriteError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
};

// Writes `bytes` beside `path` and renames the result into place; on failure any earlier file
// at `path` is left as it was and WriteError is thrown.
void write(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kestrane::AtomicFile
