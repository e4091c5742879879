#include "kestrane/pipeline/FileIdentity.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <vector>

namespace kestrane::Pipeline::detail {

namespace {

constexpr std::string_view kNothing = "none";

bool sameTime(const std::timespec& a, const std::timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool sameContentSigns(const struct stat& st, const FileIdentity& id) {
  return (st.st_mode & S_IFMT) == id.kind && st.st_size == id.size && sameTime(st.st_mtim, id.modified);
}

// Whole decimal numbers split by single spaces, nothing else.
std::optional<std::vector<std::int64_t>> numbersIn(std::string_view text) {
  std::vector<std::int64_t> numbers;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (true) {
    std::int64_t n = 0;
    const auto [next, error] = std::from_chars(at, end, n);
    if (error != std::errc{}) return std::nullopt;
    numbers.push_back(n);
    if (next == end) break;
    if (*next != ' ') return std::nullopt;
    at = next + 1;
  }
  return numbers;
}

}  // namespace

FileIdentity identityOf(const struct stat& st) { return {st.st_mode & S_IFMT, st.st_uid, st.st_size, st.st_mtim}; }

Held heldAt(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return {0, st};
  return {errno == ENOENT ? 0 : errno, std::nullopt};
}

std::string identityText(const std::optional<FileIdentity>& held) {
  if (!held) return std::string(kNothing);
  return fmt::format("{} {} {} {} {}", held->kind, held->owner, held->size, held->modified.tv_sec,
                     held->modified.tv_nsec);
}

bool parsedIdentity(std::string_view text, std::optional<FileIdentity>& held) {
  if (text == kNothing) {
    held.reset();
    return true;
  }
  const auto numbers = numbersIn(text);
  if (!numbers || numbers->size() != 5) return false;
  const auto& n = *numbers;
  if (n[0] < 0 || (n[0] & ~static_cast<std::int64_t>(S_IFMT)) != 0 || n[1] < 0 || n[2] < 0 || n[4] < 0 ||
      n[4] >= 1'000'000'000) {
    return false;
  }
  held = FileIdentity{static_cast<mode_t>(n[0]),
                      static_cast<uid_t>(n[1]),
                      static_cast<off_t>(n[2]),
                      {static_cast<std::time_t>(n[3]), static_cast<long>(n[4])}};
  return true;
}

bool isStagedFile(const struct stat& st, const FileIdentity& staged, uid_t owner) {
  return S_ISREG(st.st_mode) && staged.kind == S_IFREG && st.st_uid == owner && st.st_nlink == 1 &&
         sameContentSigns(st, staged);
}

bool isFileHeldBefore(const struct stat& st, const FileIdentity& before, uid_t owner) {
  return (st.st_uid == before.owner || st.st_uid == owner) && sameContentSigns(st, before);
}

}  // namespace kestrane::Pipeline::detail
