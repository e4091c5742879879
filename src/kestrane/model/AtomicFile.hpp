#pragma once
// Whole-file writes that never leave a half-written file in place: documents, timelines and
// the session file alike.
#include <filesystem>
#include <string>
#include <string_view>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::AtomicFile {

// A file that could not be written; the message names the file, reason() is the system's word.
class WriteError : public UserFacingError {
 public:
  WriteError(const std::filesystem::path& path, std::string reason)
      : UserFacingError("Couldn't write " + path.string() + " — " + reason), reason_(std::move(reason)) {}

  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// Writes `bytes` beside `path` and renames the result into place; on failure any earlier file
// at `path` is left as it was and WriteError is thrown.
void write(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` to a new hidden file beside `path`, flushed to disk, and returns its name
// without moving it into place; on failure nothing is left behind and WriteError is thrown.
std::filesystem::path writeAside(const std::filesystem::path& path, std::string_view bytes);

}  // namespace kestrane::AtomicFile
