#pragma once
// Distinct tokens interned once, with their characters as small integers, so
// that the near-match rule can be applied to many pairs of them cheaply.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "kestrane/brain/TextAlignDetail.hpp"

namespace kestrane::TextAlign {

class TokenTypes {
 public:
  using Head = std::array<int, 4>;

  // The token's id; canonically equal tokens share one.
  int intern(const std::string& token);

  std::size_t size() const { return types_.size(); }
  // A plain character is its byte; any other grapheme cluster has an id from 256 up.
  const std::vector<int>& characters(int id) const { return type(id).characters; }
  std::size_t length(int id) const { return type(id).characters.size(); }
  // The first four characters, of a token at least that long.
  Head head(int id) const {
    const auto& c = characters(id);
    return {c[0], c[1], c[2], c[3]};
  }
  // The toolkit's near-match rule for two distinct ids.
  bool isNear(int x, int y) const {
    const Type& a = type(x);
    const Type& b = type(y);
    return detail::isNearMatch(std::span<const int>(a.characters), std::span<const int>(b.characters), a.bits, b.bits);
  }

 private:
  struct Type {
    std::vector<int> characters;
    std::uint64_t bits = 0;  // which characters occur, folded to 64 bits
  };
  const Type& type(int id) const { return types_[static_cast<std::size_t>(id)]; }

  std::unordered_map<std::string, int> ids_;
  std::unordered_map<std::string, int> characterIds_;
  std::vector<Type> types_;
};

}  // namespace kestrane::TextAlign
