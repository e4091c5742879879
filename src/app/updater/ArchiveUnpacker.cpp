#include "app/updater/ArchiveUnpacker.hpp"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string>

namespace kestrane::updater {
namespace fs = std::filesystem;
namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&archive_write_free)>;

[[noreturn]] void unsafe() { throw UnpackError("the update package holds files outside its folder"); }
[[noreturn]] void unreadable() { throw UnpackError("the update package couldn't be unpacked"); }

// A relative path of plain names only: no root, no "." or ".." anywhere.
bool isPlainRelative(const fs::path& path) {
  if (path.empty() || path.has_root_path()) return false;
  for (const auto& part : path) {
    if (part == ".." || part == ".") return false;
  }
  return true;
}

// Whether a link stored at `entry` (relative to the tree) pointing at `target` stays inside.
bool linkStaysInside(const fs::path& entry, const fs::path& target) {
  if (target.empty() || target.has_root_path()) return false;
  int depth = 0;
  for (const auto& part : entry.parent_path()) {
    if (!part.empty()) ++depth;
  }
  for (const auto& part : target) {
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (part != "." && !part.empty()) {
      ++depth;
    }
  }
  return true;
}

bool isInside(const fs::path& path, const fs::path& root) {
  auto rel = path.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

// Links are checked once more on disk, where a chain of links could still lead out.
void checkLinksOnDisk(const fs::path& root) {
  auto canonicalRoot = fs::canonical(root);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_symlink()) continue;
    std::error_code error;
    auto resolved = fs::canonical(it->path(), error);
    if (error || !isInside(resolved, canonicalRoot)) unsafe();
  }
}

}  // namespace

void unpackArchive(const fs::path& archive, const fs::path& destination, const UnpackLimits& limits) {
  Reader reader(archive_read_new(), archive_read_free);
  Writer writer(archive_write_disk_new(), archive_write_free);
  if (!reader || !writer) unreadable();
  archive_read_support_format_zip(reader.get());
  archive_read_support_format_tar(reader.get());
  archive_read_support_filter_gzip(reader.get());
  archive_read_support_filter_xz(reader.get());
  // Our own checks come first; these flags also stop writes through links already on disk.
  archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                   ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_NO_OVERWRITE);
  if (archive_read_open_filename(reader.get(), archive.c_str(), 1 << 16) != ARCHIVE_OK) unreadable();

  std::int64_t total = 0;
  std::int64_t entries = 0;
  archive_entry* entry = nullptr;
  while (true) {
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) unreadable();
    if (++entries > limits.maxEntries) throw UnpackError("the update package is too large");

    const char* name = archive_entry_pathname(entry);
    if (!name) unreadable();
    fs::path relative = fs::path(name).lexically_normal();
    if (!relative.empty() && !relative.has_filename()) relative = relative.parent_path();  // "dir/"
    if (!isPlainRelative(fs::path(name).relative_path()) || !isPlainRelative(relative)) unsafe();
    if (archive_entry_hardlink(entry)) unsafe();

    auto type = archive_entry_filetype(entry);
    if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(entry);
      if (!target || !linkStaysInside(relative, target)) unsafe();
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      unsafe();
    }

    auto full = destination / relative;
    archive_entry_set_pathname(entry, full.c_str());
    if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN) unreadable();
    if (type == AE_IFREG) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      while ((status = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
        total += static_cast<std::int64_t>(size);
        if (total > limits.maxTotalBytes) throw UnpackError("the update package is too large");
        if (archive_write_data_block(writer.get(), block, size, offset) < ARCHIVE_WARN) unreadable();
      }
      if (status != ARCHIVE_EOF) unreadable();
    }
    if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) unreadable();
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK) unreadable();
  checkLinksOnDisk(destination);
}

}  // namespace kestrane::updater
