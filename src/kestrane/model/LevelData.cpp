#include "kestrane/model/LevelData.hpp"

#include <array>
#include <cmath>
#include <cstdint>

#include "kestrane/model/Cancelled.hpp"

namespace kestrane {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::int8_t levelByte(float level) {
  if (std::isnan(level)) return -128;
  const float whole = std::round(level);  // halves away from zero
  if (whole <= -128.0f) return -128;
  if (whole >= 127.0f) return 127;
  return static_cast<std::int8_t>(whole);
}

std::string encoded(const std::vector<float>& levelsDBFS) {
  std::string out;
  out.reserve((levelsDBFS.size() + 2) / 3 * 4);
  const std::size_t n = levelsDBFS.size();
  auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(levelByte(levelsDBFS[i])); };
  for (std::size_t i = 0; i < n; i += 3) {
    const std::uint32_t b0 = byteAt(i);
    const std::uint32_t b1 = i + 1 < n ? byteAt(i + 1) : 0;
    const std::uint32_t b2 = i + 2 < n ? byteAt(i + 2) : 0;
    const std::uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    out += kAlphabet[(triple >> 18) & 63];
    out += kAlphabet[(triple >> 12) & 63];
    out += i + 1 < n ? kAlphabet[(triple >> 6) & 63] : '=';
    out += i + 2 < n ? kAlphabet[triple & 63] : '=';
  }
  return out;
}

std::vector<float> decoded(const std::string& s) {
  if (s.size() % 4 != 0) return {};
  std::vector<float> levels;
  levels.reserve(s.size() / 4 * 3);
  for (std::size_t i = 0; i < s.size(); i += 4) {
    // A hundred hours of levels are tens of megabytes; the job's stop is heard meanwhile.
    if ((i + 4) % (1u << 20) == 0) checkpoint();
    const bool last = i + 4 == s.size();
    std::array<int, 4> v{};
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s[i + k];
      if (c == '=' && last && k >= 2) {
        ++padding;
        v[k] = 0;
        continue;
      }
      if (padding > 0) return {};  // data after padding
      v[k] = sextet(c);
      if (v[k] < 0) return {};
    }
    const std::uint32_t triple = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    // Padding bits must be zero for a canonical encoding.
    if (padding == 1 && (triple & 0xFF) != 0) return {};
    if (padding == 2 && (triple & 0xFFFF) != 0) return {};
    levels.push_back(static_cast<float>(static_cast<std::int8_t>((triple >> 16) & 0xFF)));
    if (padding < 2) levels.push_back(static_cast<float>(static_cast<std::int8_t>((triple >> 8) & 0xFF)));
    if (padding < 1) levels.push_back(static_cast<float>(static_cast<std::int8_t>(triple & 0xFF)));
  }
  return levels;
}

}  // namespace

LevelData LevelData::fromLevels(double hopDuration, const std::vector<float>& levelsDBFS,
                                const std::vector<float>& speechLevelsDBFS) {
  return {hopDuration, encoded(levelsDBFS), encoded(speechLevelsDBFS)};
}

std::vector<float> LevelData::levelsDBFS() const { return decoded(base64); }

std::vector<float> LevelData::speechLevelsDBFS() const { return decoded(speechBase64); }

}  // namespace kestrane
