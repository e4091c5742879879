#include "kestrane/platform/FontCatalog.hpp"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace kestrane::FontCatalog {

namespace {

struct FontSetCloser {
  void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetCloser>;

// Lists fonts matching `pattern` (no substitution, so aliases never apply).
FontSetPtr list(FcPattern* pattern, std::initializer_list<const char*> objects) {
  FcObjectSet* os = FcObjectSetCreate();
  for (const char* o : objects) FcObjectSetAdd(os, o);
  FcFontSet* set = FcFontList(nullptr, pattern, os);
  FcObjectSetDestroy(os);
  return FontSetPtr(set);
}

// A browser takes TrueType, OpenType and WOFF files; the Type 1 copies some families also
// install (.pfb, .t1) are no use to a composition.
bool embeddable(std::string_view file) {
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ext = file.substr(dot + 1);
  for (const char* known : {"ttf", "otf", "woff", "woff2"}) {
    if (strcasecmp(std::string(ext).c_str(), known) == 0) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> families() {
  std::vector<std::string> out;
  FcPattern* all = FcPatternCreate();
  FontSetPtr set = list(all, {FC_FAMILY});
  FcPatternDestroy(all);
  if (!set) return out;
  for (int i = 0; i < set->nfont; ++i) {
    FcChar8* name = nullptr;
    for (int n = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch; ++n) {
      out.emplace_back(reinterpret_cast<const char*>(name));
    }
  }
  return out;
}

std::optional<std::filesystem::path> fileOf(std::string_view family) {
  const std::string wanted(family);
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(wanted.c_str()));
  FontSetPtr set = list(pattern, {FC_FAMILY, FC_FILE, FC_WEIGHT, FC_SLANT});
  FcPatternDestroy(pattern);
  if (!set) return std::nullopt;

  std::optional<std::filesystem::path> best;
  int bestDistance = 0;
  for (int i = 0; i < set->nfont; ++i) {
    FcPattern* font = set->fonts[i];
    // fontconfig compares families ignoring blanks too; only case may differ here.
    bool named = false;
    FcChar8* name = nullptr;
    for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &name) == FcResultMatch; ++n) {
      if (strcasecmp(reinterpret_cast<const char*>(name), wanted.c_str()) == 0) named = true;
    }
    FcChar8* file = nullptr;
    if (!named || FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(font, FC_SLANT, 0, &slant);
    const int distance = std::abs(weight - FC_WEIGHT_REGULAR) + (slant == FC_SLANT_ROMAN ? 0 : 1000) +
                         (embeddable(reinterpret_cast<const char*>(file)) ? 0 : 10000);
    if (!best || distance < bestDistance) {
      best = std::filesystem::path(reinterpret_cast<const char*>(file));
      bestDistance = distance;
    }
  }
  return best;
}

std::string sansSerif() {
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  if (!pattern) return {};
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  std::string family;
  FcChar8* name = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) {
    family = reinterpret_cast<const char*>(name);
  }
  if (match) FcPatternDestroy(match);
  return family;
}

}  // namespace kestrane::FontCatalog
