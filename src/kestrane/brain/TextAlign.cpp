#include "kestrane/brain/TextAlign.hpp"

namespace kestrane::TextAlign {
TokenList tokens(std::string_view) { return {}; }
double jaccard(Tokens, Tokens, int) { return 0; }
int editDistance(std::string_view, std::string_view) { return 0; }
LocalAlignment localAlign(Tokens, Tokens, double) { return {}; }
bool isAbortedPrefix(Tokens, Tokens) { return false; }
bool sameText(std::string_view a, std::string_view b) { return a == b; }
std::string canonical(std::string_view text) { return std::string(text); }
int characterCount(std::string_view text) { return static_cast<int>(text.size()); }
}  // namespace kestrane::TextAlign
