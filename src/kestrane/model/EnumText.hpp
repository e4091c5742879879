#pragma once
// Stored texts of enumerations: every enumeration that is written to the session file
// specialises EnumText with its texts in case order.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrane {

template <class E>
struct EnumText;  // specialise: static constexpr std::array<std::string_view, N> texts

template <class E>
constexpr std::string_view rawValue(E value) {
  return EnumText<E>::texts[static_cast<std::size_t>(value)];
}

template <class E>
constexpr std::optional<E> fromRawValue(std::string_view text) {
  const auto& texts = EnumText<E>::texts;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == text) return static_cast<E>(i);
  }
  return std::nullopt;
}

template <class E>
std::vector<E> allCases() {
  std::vector<E> cases;
  for (std::size_t i = 0; i < EnumText<E>::texts.size(); ++i) cases.push_back(static_cast<E>(i));
  return cases;
}

}  // namespace kestrane
