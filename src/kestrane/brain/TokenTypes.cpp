#include "kestrane/brain/TokenTypes.hpp"

#include "kestrane/brain/UnicodeText.hpp"

namespace kestrane::TextAlign {

int TokenTypes::intern(const std::string& token) {
  const bool plain = UnicodeText::isPlainAscii(token);
  auto [it, fresh] = ids_.try_emplace(plain ? token : UnicodeText::nfc(token), static_cast<int>(types_.size()));
  if (!fresh) return it->second;
  Type type;
  if (plain) {
    for (unsigned char c : token) type.characters.push_back(c);
  } else {
    for (auto g : UnicodeText::graphemes(it->first)) {
      if (g.size() == 1 && static_cast<unsigned char>(g[0]) < 0x80) {
        type.characters.push_back(static_cast<unsigned char>(g[0]));
      } else {
        auto [c, _] = characterIds_.try_emplace(std::string(g), 256 + static_cast<int>(characterIds_.size()));
        type.characters.push_back(c->second);
      }
    }
  }
  for (int c : type.characters) type.bits |= std::uint64_t{1} << (static_cast<unsigned>(c) & 63u);
  types_.push_back(std::move(type));
  return it->second;
}

}  // namespace kestrane::TextAlign
