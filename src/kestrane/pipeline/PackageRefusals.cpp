#include "kestrane/pipeline/PackageRefusals.hpp"

#include <fmt/format.h>

namespace kestrane::Pipeline::detail {

MoveLeftHalfway::MoveLeftHalfway(const std::filesystem::path& destination, const std::string& reason)
    : PackageMayBeMixed(fmt::format(
          "Couldn't move {} into place ({}) once this run had begun moving its files, so the record of the move and "
          "the files not yet moved were left for the next run — {}",
          destination.string(), reason, kMayBeMixed)),
      write_(destination, reason) {}

}  // namespace kestrane::Pipeline::detail
