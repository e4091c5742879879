#include "kestrane/pipeline/StagedFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "kestrane/model/FileBytes.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

namespace fs = std::filesystem;

// The record: a header, then "move" with the hidden name and the destination's name, or
// "remove" with a name, every field ended by a NUL, which no file name holds.
constexpr std::string_view kRecordName = ".kestrane.move";
constexpr std::string_view kRecordHeader = "kestrane move 1";

void addField(std::string& record, std::string_view field) {
  record += field;
  record += '\0';
}

// A file name in the folder itself, never one that reaches out of it.
bool plainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// So the record is on disk before any file is replaced.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::vector<std::string> fieldsOf(const std::string& record) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(record.substr(start, end - start));
  }
  return fields;
}

}  // namespace

StagedFiles::~StagedFiles() {
  // Once the move is recorded, the files not moved belong to the record.
  if (recorded_) return;
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::remove(aside.path().string());
}

void StagedFiles::write(const fs::path& destination, std::string_view bytes) {
  AtomicFile::Aside aside = AtomicFile::writeAside(destination, bytes);
  platform::ScratchFiles::add(aside.path().string());
  written_.emplace_back(std::move(aside), destination);
}

void StagedFiles::removeOnCommit(const fs::path& destination) { removals_.push_back(destination); }

void StagedFiles::commit() {
  std::string record;
  addField(record, kRecordHeader);
  for (const auto& [aside, destination] : written_) {
    addField(record, "move");
    addField(record, aside.path().filename().string());
    addField(record, destination.filename().string());
  }
  for (const auto& path : removals_) {
    addField(record, "remove");
    addField(record, path.filename().string());
  }
  const fs::path recordPath = folder_ / kRecordName;
  AtomicFile::write(recordPath, record);
  syncFolder(folder_);
  recorded_ = true;
  // A forced exit from here on leaves the staged files for the next run to move.
  for (const auto& [aside, destination] : written_) platform::ScratchFiles::forget(aside.path().string());

  for (const auto& [aside, destination] : written_) {
    if (std::rename(aside.path().c_str(), destination.c_str()) != 0) {
      throw AtomicFile::WriteError(destination, std::strerror(errno));
    }
  }
  for (const auto& path : removals_) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  written_.clear();
  removals_.clear();
  ::unlink(recordPath.c_str());
}

bool finishInterruptedMove(const fs::path& folder) {
  const fs::path recordPath = folder / kRecordName;
  struct stat st {};
  if (::lstat(recordPath.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return false;
  const auto bytes = readFileBytes(recordPath);
  const std::vector<std::string> fields = bytes ? fieldsOf(*bytes) : std::vector<std::string>{};
  const bool valid = !fields.empty() && fields.front() == kRecordHeader;
  std::vector<std::string> removals;
  for (std::size_t i = 1; valid && i < fields.size(); ++i) {
    if (fields[i] == "move" && i + 2 < fields.size()) {
      const std::string& from = fields[i + 1];
      const std::string& to = fields[i + 2];
      i += 2;
      if (!AtomicFile::isAsideName(from) || !plainName(to)) continue;
      struct stat staged {};
      // One that is gone was moved before the run ended.
      if (::lstat((folder / from).c_str(), &staged) == 0 && S_ISREG(staged.st_mode)) {
        std::rename((folder / from).c_str(), (folder / to).c_str());
      }
    } else if (fields[i] == "remove" && i + 1 < fields.size()) {
      if (plainName(fields[i + 1])) removals.push_back(fields[i + 1]);
      ++i;
    }
  }
  for (const auto& name : removals) ::unlink((folder / name).c_str());
  ::unlink(recordPath.c_str());
  return true;
}

}  // namespace kestrane::Pipeline::detail
