#pragma once
// The fonts installed on this computer, from fontconfig. Only a font's own family names
// count: the configuration's aliases (a family standing in for another) are not consulted.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::FontCatalog {

// Every family name some installed font carries, as written by the font.
std::vector<std::string> families();

// The file of the upright regular face of an installed family (compared ignoring case), or of
// its nearest face; nothing when no installed font carries that family name.
std::optional<std::filesystem::path> fileOf(std::string_view family);

// The family fontconfig itself picks for "sans-serif" (after its aliases), or empty.
std::string sansSerif();

}  // namespace kestrane::FontCatalog
