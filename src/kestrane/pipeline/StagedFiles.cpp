#include "kestrane/pipeline/StagedFiles.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

StagedFiles::~StagedFiles() {
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::remove(aside.string());
}

void StagedFiles::write(const std::filesystem::path& destination, std::string_view bytes) {
  const std::filesystem::path aside = AtomicFile::writeAside(destination, bytes);
  platform::ScratchFiles::add(aside.string());
  written_.emplace_back(aside, destination);
}

void StagedFiles::removeOnCommit(const std::filesystem::path& destination) { removals_.push_back(destination); }

void StagedFiles::commit() {
  while (!written_.empty()) {
    const auto& [aside, destination] = written_.front();
    if (std::rename(aside.c_str(), destination.c_str()) != 0) {
      throw AtomicFile::WriteError(destination, std::strerror(errno));
    }
    platform::ScratchFiles::forget(aside.string());
    written_.erase(written_.begin());
  }
  for (const auto& path : removals_) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  removals_.clear();
}

}  // namespace kestrane::Pipeline::detail
