#include "kestrane/pipeline/PackageNaming.hpp"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "kestrane/model/Utf8Text.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

namespace {

// Length in bytes of the whitespace character (ASCII or Unicode) at `i`, or 0.
std::size_t spaceAt(const std::string& s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  if (c == 0xC2 && i + 1 < s.size() && (b(i + 1) == 0x85 || b(i + 1) == 0xA0)) return 2;
  if (i + 2 >= s.size()) return 0;
  const unsigned char c1 = b(i + 1), c2 = b(i + 2);
  if (c == 0xE1 && c1 == 0x9A && c2 == 0x80) return 3;  // U+1680
  if (c == 0xE2 && c1 == 0x80 && (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF))
    return 3;                                           // U+2000…200A, 2028, 2029, 202F
  if (c == 0xE2 && c1 == 0x81 && c2 == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && c1 == 0x80 && c2 == 0x80) return 3;  // U+3000
  return 0;
}

// Byte length of the whitespace character that ends just before `end`, or 0.
std::size_t spaceBefore(const std::string& s, std::size_t end) {
  for (std::size_t len = 1; len <= 3 && len <= end; ++len) {
    if (spaceAt(s, end - len) == len) return len;
  }
  return 0;
}

bool isContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string trimmed(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end) {
    const std::size_t n = spaceAt(text, begin);
    if (n == 0) break;
    begin += n;
  }
  while (end > begin) {
    const std::size_t n = spaceBefore(text, end);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

std::optional<std::string> trimmedOrAbsent(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string t = trimmed(*text);
  if (t.empty()) return std::nullopt;
  return t;
}

std::string sourceStem(const std::filesystem::path& source) {
  // Names the documents and their files, which are UTF-8 even when the footage's name is not.
  return Utf8Text::lossy(source.filename().replace_extension().string());
}

std::string resolvedProjectName(const std::optional<std::string>& name, const std::filesystem::path& source) {
  if (auto given = trimmedOrAbsent(name)) return *given;
  return sourceStem(source);
}

std::string safeFolderName(const std::string& projectName, std::size_t reservedBytes, std::size_t nameMax) {
  std::string safe;
  safe.reserve(projectName.size());
  for (std::size_t i = 0; i < projectName.size(); ++i) {
    const auto c = static_cast<unsigned char>(projectName[i]);
    if (c == '/' || c < 0x20 || c == 0x7F) {
      safe += '-';
    } else if (c == 0xC2 && i + 1 < projectName.size() && static_cast<unsigned char>(projectName[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(projectName[i + 1]) <= 0x9F) {
      safe += '-';  // C1 control character
      ++i;
    } else {
      safe += static_cast<char>(c);
    }
  }
  const std::size_t budget = nameMax > reservedBytes ? nameMax - reservedBytes : 0;
  if (safe.size() > budget) {
    std::size_t cut = budget;
    while (cut > 0 && isContinuationByte(static_cast<unsigned char>(safe[cut]))) --cut;
    safe.resize(cut);
  }
  return safe;
}

std::string packageFolderName(const std::string& projectName, int ordinal, std::size_t nameMax) {
  const std::string suffix =
      ordinal <= 1 ? std::string(" Kestrane.kestrane") : fmt::format(" Kestrane {}.kestrane", ordinal);
  return safeFolderName(projectName, suffix.size(), nameMax) + suffix;
}

std::filesystem::path reservePackageDir(const std::filesystem::path& parent, const std::string& projectName,
                                        const std::function<bool(const std::filesystem::path&)>& takeTaken) {
  const auto fail = [&](const std::string& why) {
    return PipelineError(fmt::format("Can't create the package folder in {} — {}.", parent.string(), why));
  };
  std::error_code ec;
  std::filesystem::create_directories(parent, ec);
  if (ec) throw fail(ec.message());

  long limit = ::pathconf(parent.c_str(), _PC_NAME_MAX);
  const std::size_t nameMax = limit > 0 ? static_cast<std::size_t>(limit) : 255;

  constexpr int kMaxOrdinal = 10000;
  for (int ordinal = 1; ordinal <= kMaxOrdinal; ++ordinal) {
    std::filesystem::path candidate = parent / packageFolderName(projectName, ordinal, nameMax);
    if (::mkdir(candidate.c_str(), 0777) == 0) return candidate;
    if (errno != EEXIST) throw fail(std::strerror(errno));
    if (takeTaken && takeTaken(candidate)) return candidate;
  }
  throw fail("every package name for this project is taken");
}

std::filesystem::path recutPackageDir(const std::filesystem::path& sessionPath,
                                      const std::optional<std::string>& projectName) {
  const std::filesystem::path sessionFolder = sessionPath.parent_path();
  const auto name = trimmedOrAbsent(projectName);
  if (!name) return sessionFolder;
  const std::string base = *name + " Kestrane";
  const std::string own = sessionFolder.filename().string();
  if (own == base || own == base + ".kestrane") return sessionFolder;
  return sessionFolder.parent_path() / (base + ".kestrane");
}

std::string elapsedString(double seconds) {
  std::int64_t total = std::llround(seconds);
  if (total < 0) total = 0;
  const std::int64_t h = total / 3600, m = (total % 3600) / 60, s = total % 60;
  if (total >= 3600) return fmt::format("{}h {}m {}s", h, m, s);
  if (total < 60) return fmt::format("{}s", s);
  return fmt::format("{}m {}s", m, s);
}

}  // namespace kestrane::Pipeline
