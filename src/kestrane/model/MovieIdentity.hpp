#pragma once
// Which file a package's rough-cut movie is: its size and a digest of samples of its bytes
// (platform/MovieFile reads both). Bytes survive every copy (cp -r, tar, zip, a disk that keeps
// whole or two-second times), so the movie a run put in place is known again wherever it is
// copied; another file left or copied at the movie's name has other bytes. The modification time
// rides along for earlier builds, which know the movie by size and time alone.
#include <cstdint>
#include <optional>
#include <string>

namespace kestrane {

struct MovieIdentity {
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;  // 0 to 999,999,999
  // SHA-256 of the file's samples, 64 lowercase hexadecimal digits; none in a record an earlier
  // build wrote, or for a file that could not be read.
  std::optional<std::string> sampledSHA256;

  bool operator==(const MovieIdentity&) const = default;
};

}  // namespace kestrane
