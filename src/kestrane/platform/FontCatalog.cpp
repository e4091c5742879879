#include "kestrane/platform/FontCatalog.hpp"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <cstdlib>
#include <memory>
#include <string>

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
    const int distance = std::abs(weight - FC_WEIGHT_REGULAR) + (slant == FC_SLANT_ROMAN ? 0 : 1000);
    if (!best || distance < bestDistance) {
      best = std::filesystem::path(reinterpret_cast<const char*>(file));
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace kestrane::FontCatalog
