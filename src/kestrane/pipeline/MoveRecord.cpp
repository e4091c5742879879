#include "kestrane/pipeline/MoveRecord.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

// A header, then "aside" with a name, the free name its file takes and that file's identity,
// "move" with the staged name, the destination's name, the staged file's identity and what the
// destination held, or "remove" with a name and what it held, every field ended by a NUL, which
// no file name holds. An earlier build wrote the first header, with no identities and nothing
// set aside.
constexpr std::string_view kRecordHeader = "kestrane move 2";
constexpr std::string_view kEarlierHeader = "kestrane move 1";

void addField(std::string& record, std::string_view field) {
  record += field;
  record += '\0';
}

std::vector<std::string> fieldsOf(const std::string& record) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(record.substr(start, end - start));
  }
  return fields;
}

// One file in the folder itself: a record naming a path elsewhere is none of ours.
bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// A folder, or anything else that is no file or link: no file moved in may replace it.
bool isInTheWayKind(const struct stat& st) { return !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode); }

std::optional<int> inTheWay(const fs::path& destination, const struct stat& folder) {
  struct stat st {};
  if (::lstat(destination.c_str(), &st) != 0) return errno == ENOENT ? std::nullopt : std::optional(errno);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (isInTheWayKind(st)) return EEXIST;
  const uid_t me = ::geteuid();
  if ((folder.st_mode & S_ISVTX) != 0 && st.st_uid != me && folder.st_uid != me && me != 0) return EPERM;
  return std::nullopt;
}

bool holds(const Held& held, const std::optional<FileIdentity>& file, uid_t owner) {
  if (!held.known()) return false;
  if (!file) return !held.st;
  return held.st && isFileHeldBefore(*held.st, *file, owner);
}

}  // namespace

std::string recordText(const MoveRecord& record) {
  std::string text;
  addField(text, kRecordHeader);
  for (const MoveRecord::SetAside& setAside : record.setAsides) {
    addField(text, "aside");
    addField(text, setAside.name);
    addField(text, setAside.as);
    addField(text, identityText(setAside.file));
  }
  for (const MoveRecord::Move& move : record.moves) {
    addField(text, "move");
    addField(text, move.from);
    addField(text, move.to);
    addField(text, identityText(move.staged));
    addField(text, identityText(move.before));
  }
  for (const MoveRecord::Removal& removal : record.removals) {
    addField(text, "remove");
    addField(text, removal.name);
    addField(text, identityText(removal.before));
  }
  return text;
}

std::optional<MoveRecord> parsedRecord(const std::string& bytes) {
  const std::vector<std::string> fields = fieldsOf(bytes);
  if (fields.empty() || (fields.front() != kRecordHeader && fields.front() != kEarlierHeader)) return std::nullopt;
  MoveRecord record;
  record.earlier = fields.front() == kEarlierHeader;
  // An earlier record's entries have no identities.
  const std::size_t identities = record.earlier ? 0 : 1;
  for (std::size_t i = 1; i < fields.size();) {
    if (fields[i] == "move" && i + 2 + 2 * identities < fields.size()) {
      MoveRecord::Move move{fields[i + 1], fields[i + 2], {}, std::nullopt};
      if (!AtomicFile::isAsideName(move.from) || !isPlainName(move.to)) return std::nullopt;
      if (!record.earlier) {
        std::optional<FileIdentity> staged;
        if (!parsedIdentity(fields[i + 3], staged) || !staged || !parsedIdentity(fields[i + 4], move.before))
          return std::nullopt;
        move.staged = *staged;
      }
      record.moves.push_back(std::move(move));
      i += 3 + 2 * identities;
    } else if (fields[i] == "aside" && !record.earlier && i + 3 < fields.size()) {
      MoveRecord::SetAside setAside{fields[i + 1], fields[i + 2], {}};
      std::optional<FileIdentity> file;
      if (!isPlainName(setAside.name) || !isPlainName(setAside.as) || !parsedIdentity(fields[i + 3], file) || !file)
        return std::nullopt;
      setAside.file = *file;
      record.setAsides.push_back(std::move(setAside));
      i += 4;
    } else if (fields[i] == "remove" && i + 1 + identities < fields.size()) {
      MoveRecord::Removal removal{fields[i + 1], std::nullopt};
      if (!isPlainName(removal.name)) return std::nullopt;
      if (!record.earlier && !parsedIdentity(fields[i + 2], removal.before)) return std::nullopt;
      record.removals.push_back(std::move(removal));
      i += 2 + identities;
    } else {
      return std::nullopt;
    }
  }
  return record;
}

Progress progressOf(const fs::path& folder, const MoveRecord::Move& move, uid_t owner) {
  const Held to = heldAt(folder / move.to), from = heldAt(folder / move.from);
  const bool before = holds(to, move.before, owner);
  // A free name loses nothing to the move, and one that can take no file stops it as in the way.
  const bool mayTake = before || (to.known() && (!to.st || isInTheWayKind(*to.st)));
  if (mayTake && from.st && isStagedFile(*from.st, move.staged, owner)) return Progress::toMake;
  // Once it is made, its staged name is free, and whatever stands there now is none of its own.
  if (to.st && isStagedFile(*to.st, move.staged, owner)) return Progress::made;
  return before ? Progress::unstaged : Progress::foreign;
}

Progress progressOf(const fs::path& folder, const MoveRecord::Removal& removal, uid_t owner) {
  const Held held = heldAt(folder / removal.name);
  if (held.known() && !held.st) return Progress::made;
  return holds(held, removal.before, owner) || (held.st && isInTheWayKind(*held.st)) ? Progress::toMake
                                                                                     : Progress::foreign;
}

Progress progressOf(const fs::path& folder, const MoveRecord::SetAside& setAside, uid_t owner) {
  const Held as = heldAt(folder / setAside.as);
  if (holds(as, setAside.file, owner)) return Progress::made;
  return holds(heldAt(folder / setAside.name), setAside.file, owner) && as.known() && !as.st ? Progress::toMake
                                                                                             : Progress::foreign;
}

MoveProgress progressIn(const fs::path& folder, const MoveRecord& record, uid_t owner) {
  MoveProgress found;
  if (record.earlier) {
    for (const MoveRecord::Move& move : record.moves) {
      if (!heldAt(folder / move.to).st) found.toMake.push_back(move);
    }
    return found;
  }
  const auto note = [&](Progress progress, const std::string& name) {
    if (progress == Progress::foreign && !found.foreign) found.foreign = name;
    return progress;
  };
  for (const MoveRecord::SetAside& setAside : record.setAsides) {
    if (note(progressOf(folder, setAside, owner), setAside.name) == Progress::toMake)
      found.setAsides.push_back(setAside);
  }
  for (const MoveRecord::Move& move : record.moves) {
    const Progress progress = note(progressOf(folder, move, owner), move.to);
    if (progress == Progress::toMake) found.toMake.push_back(move);
    if (progress == Progress::unstaged) found.unstaged.push_back(move);
  }
  for (const MoveRecord::Removal& removal : record.removals) {
    if (note(progressOf(folder, removal, owner), removal.name) == Progress::toMake) {
      found.removals.push_back(removal.name);
    }
  }
  return found;
}

std::optional<Obstacle> firstObstacle(const std::vector<fs::path>& destinations, const std::vector<fs::path>& removals,
                                      const struct stat& folder, const std::vector<fs::path>& freeNames) {
  for (const fs::path& name : destinations) {
    if (const auto error = inTheWay(name, folder)) return Obstacle{name, false, *error};
  }
  for (const fs::path& name : removals) {
    if (const auto error = inTheWay(name, folder)) return Obstacle{name, true, *error};
  }
  for (const fs::path& name : freeNames) {
    const Held held = heldAt(name);
    if (!held.known() || held.st) return Obstacle{name, false, held.known() ? EEXIST : held.error};
  }
  return std::nullopt;
}

namespace {

// True when `error`, met linking a file, says the disk keeps no hard links.
bool noHardLinks(int error) { return error == EPERM || error == ENOTSUP || error == ENOSYS || error == EMLINK; }

// Takes the free name `to` with a placeholder made only where it is free (a file, or an empty
// folder for a folder), then renames `from` over it: for a disk that can neither rename without
// replacing nor link (exFAT, say). False with errno set, and the placeholder gone, when it can't.
bool renameOntoPlaceholder(const fs::path& from, const fs::path& to, bool folder) {
  bool made = false;
  if (folder) {
    made = ::mkdir(to.c_str(), 0700) == 0;
  } else if (const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600); fd >= 0) {
    ::close(fd);
    made = true;
  }
  if (!made) return false;
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  const int error = errno;
  if (folder) {
    ::rmdir(to.c_str());
  } else {
    ::unlink(to.c_str());
  }
  errno = error;
  return false;
}

}  // namespace

// The package is locked, so no run of ours takes `to` meanwhile.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A file system that can't rename so: a file is linked under the new name, which fails when
  // it is taken, and then unlinked under the old.
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return true;
    }
    if (!noHardLinks(errno)) return false;
  }
  return renameOntoPlaceholder(from, to, S_ISDIR(st.st_mode));
}

}  // namespace kestrane::Pipeline::detail
