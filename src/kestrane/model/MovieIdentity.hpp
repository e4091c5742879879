#pragma once
// Which file a package's rough-cut movie is, told without reading it: its size and modification
// time to the nanosecond. A rename keeps both, so the movie a run rendered aside is known again
// once in place; a copy that keeps times (cp -a) keeps them too. Another file left or copied at
// the movie's name, or the movie touched, is not the same.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kestrane {

struct MovieIdentity {
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;  // 0 to 999,999,999

  bool operator==(const MovieIdentity&) const = default;
};

MovieIdentity movieIdentity(const struct stat& st);

// The identity of the plain file at `path`; none when nothing, a link, a folder or anything else
// but a plain file is there, or when it can't be looked at.
std::optional<MovieIdentity> movieIdentityAt(const std::filesystem::path& path);

}  // namespace kestrane
