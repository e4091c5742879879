#pragma once
// The brand's typefaces resolved to families installed on this computer, the FONTS section of
// the authoring prompt, the substitution warnings and the embedded @font-face rules.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/model/BrandSpec.hpp"

namespace kestrane::LocalFonts {

struct ResolvedFont {
  std::string requested;
  std::string family;  // the requested family, a substitute, or the last resort
  bool installed = false;
  std::optional<std::filesystem::path> fileURL;

  std::string cssStack() const;
  friend bool operator==(const ResolvedFont&, const ResolvedFont&) = default;
};

// What a lookup knows of one family.
struct Installed {
  std::optional<std::filesystem::path> file;
};
using Lookup = std::function<std::optional<Installed>(std::string_view family)>;
using ReadFile = std::function<std::optional<std::string>(const std::filesystem::path&)>;

inline constexpr std::size_t maxEmbeddedBytes = 900000;

// The family a font with no installed stand-in falls back to: the first of Nimbus Sans,
// Liberation Sans and DejaVu Sans that `lookup` finds, else `systemSans` (fontconfig's own
// sans-serif) when the lookup confirms it, else the generic "sans-serif".
std::string chooseLastResort(const Lookup& lookup, const std::function<std::string()>& systemSans);
// The last resort on this computer, chosen once per process.
const std::string& lastResort();
// The fallback that ends every font-family declaration: the last resort, then "sans-serif".
std::string terminalStack();

// At most four family names from the brand's free text, role words trimmed off the ends.
std::vector<std::string> names(const std::optional<std::string>& brandFonts);
// A name that is not installed and has no installed stand-in gets `lastResortFamily`.
std::vector<ResolvedFont> resolve(const std::vector<std::string>& names, const Lookup& lookup,
                                  const std::string& lastResortFamily);
std::vector<ResolvedFont> plan(const std::optional<BrandSpec>& brand, const Lookup& lookup);

// The production lookup: installed only when a font's own family name is the one asked for.
std::optional<Installed> installedFontFile(std::string_view family);
// Installed family names in lower case, read once per process.
const std::set<std::string>& installedFamilies();

std::string promptSection(const std::vector<ResolvedFont>& fonts);
std::vector<std::string> substitutionWarnings(const std::vector<ResolvedFont>& fonts);
// One @font-face rule per family with a usable file of at most maxBytes, base64 data URIs;
// `read` is readFileBytes outside tests.
std::string fontFaceCSS(const std::vector<ResolvedFont>& fonts, std::size_t maxBytes, const ReadFile& read);
// The CSS placed as a <style> block at the start of the document's head.
std::string embedding(std::string_view css, std::string_view html);

}  // namespace kestrane::LocalFonts
