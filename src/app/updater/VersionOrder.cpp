#include "app/updater/VersionOrder.hpp"

#include <charconv>
#include <cstdint>
#include <vector>

namespace kestrane::updater {
namespace {

std::int64_t pieceValue(std::string_view piece) {
  // std::from_chars takes no leading "+"; a leading "-" is part of its syntax.
  if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
  if (piece.empty() || piece.front() == '+') return 0;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
  if (error != std::errc{} || end != piece.data() + piece.size()) return 0;
  return value;
}

std::vector<std::int64_t> pieces(std::string_view text) {
  std::vector<std::int64_t> values;
  while (!text.empty()) {
    auto dot = text.find('.');
    auto piece = text.substr(0, dot);
    if (!piece.empty()) values.push_back(pieceValue(piece));
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return values;
}

}  // namespace

bool isNewer(std::string_view candidate, std::string_view current) {
  auto a = pieces(candidate);
  auto b = pieces(current);
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    std::int64_t x = i < a.size() ? a[i] : 0;
    std::int64_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x > y;
  }
  return false;
}

}  // namespace kestrane::updater
