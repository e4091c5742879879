#include "kestrane/pipeline/MoveRecord.hpp"

#include <unistd.h>

#include <cerrno>

#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

// A header, then "move" with the staged name and the destination's name, or "remove" with a
// name, every field ended by a NUL, which no file name holds.
constexpr std::string_view kRecordHeader = "kestrane move 1";

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

std::optional<int> inTheWay(const fs::path& destination, const struct stat& folder) {
  struct stat st {};
  if (::lstat(destination.c_str(), &st) != 0) return errno == ENOENT ? std::nullopt : std::optional(errno);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return EEXIST;
  const uid_t me = ::geteuid();
  if ((folder.st_mode & S_ISVTX) != 0 && st.st_uid != me && folder.st_uid != me && me != 0) return EPERM;
  return std::nullopt;
}

}  // namespace

std::string recordText(const MoveRecord& record) {
  std::string text;
  addField(text, kRecordHeader);
  for (const MoveRecord::Move& move : record.moves) {
    addField(text, "move");
    addField(text, move.from);
    addField(text, move.to);
  }
  for (const std::string& name : record.removals) {
    addField(text, "remove");
    addField(text, name);
  }
  return text;
}

std::optional<MoveRecord> parsedRecord(const std::string& bytes) {
  const std::vector<std::string> fields = fieldsOf(bytes);
  if (fields.empty() || fields.front() != kRecordHeader) return std::nullopt;
  MoveRecord record;
  for (std::size_t i = 1; i < fields.size();) {
    if (fields[i] == "move" && i + 2 < fields.size()) {
      if (!AtomicFile::isAsideName(fields[i + 1]) || !isPlainName(fields[i + 2])) return std::nullopt;
      record.moves.push_back({fields[i + 1], fields[i + 2]});
      i += 3;
    } else if (fields[i] == "remove" && i + 1 < fields.size()) {
      if (!isPlainName(fields[i + 1])) return std::nullopt;
      record.removals.push_back(fields[i + 1]);
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return record;
}

std::optional<Obstacle> firstObstacle(const std::vector<fs::path>& destinations, const std::vector<fs::path>& removals,
                                      const struct stat& folder) {
  for (const fs::path& name : destinations) {
    if (const auto error = inTheWay(name, folder)) return Obstacle{name, false, *error};
  }
  for (const fs::path& name : removals) {
    if (const auto error = inTheWay(name, folder)) return Obstacle{name, true, *error};
  }
  return std::nullopt;
}

}  // namespace kestrane::Pipeline::detail
