#include "kestrane/model/FileBytes.hpp"

#include <fstream>
#include <sstream>

namespace kestrane {

std::optional<std::string> readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

}  // namespace kestrane
