#pragma once
// Move records made by hand in a test's folder, as a run of this user's would leave them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "kestrane/pipeline/MoveRecord.hpp"

namespace kestrane::test {

// Moves of a record: a staged file's name and the name it takes.
using Moves = std::vector<std::pair<std::string, std::string>>;

// The record of these moves and removals, naming what each name in `folder` holds now: the
// staged files as they were written, and what the names they take and those removed held.
inline std::string recordIn(const std::filesystem::path& folder, const Moves& moves,
                            const std::vector<std::string>& removals = {}) {
  using namespace Pipeline::detail;
  const auto held = [&](const std::string& name) -> std::optional<FileIdentity> {
    const Held found = heldAt(folder / name);
    return found.st ? std::optional(identityOf(*found.st)) : std::nullopt;
  };
  MoveRecord record;
  for (const auto& [from, to] : moves)
    record.moves.push_back({from, to, held(from).value_or(FileIdentity{}), held(to)});
  for (const std::string& name : removals) record.removals.push_back({name, held(name)});
  return recordText(record);
}

// Writes `text` as the record in `folder`, writable by its owner alone as a run writes it,
// whatever the test's umask.
inline void writeRecord(const std::filesystem::path& folder, const std::string& text, mode_t mode = 0644) {
  const std::filesystem::path path = folder / Pipeline::detail::kMoveRecordName;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return;
  (void)!::write(fd, text.data(), text.size());
  ::fchmod(fd, mode);
  ::close(fd);
}

}  // namespace kestrane::test
