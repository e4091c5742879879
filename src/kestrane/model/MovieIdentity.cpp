#include "kestrane/model/MovieIdentity.hpp"

namespace kestrane {

MovieIdentity movieIdentity(const struct stat& st) {
  return {static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
          static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

std::optional<MovieIdentity> movieIdentityAt(const std::filesystem::path& path) {
  struct stat st {};
  // Never through a link: only a plain file at the name is the package's movie.
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return movieIdentity(st);
}

}  // namespace kestrane
