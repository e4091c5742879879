#include "kestrane/graphics/LocalFonts.hpp"

#include <algorithm>
#include <map>
#include <mutex>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/platform/FontCatalog.hpp"

namespace kestrane::LocalFonts {

namespace {

// The last resort, best first; a machine with none of them gets fontconfig's own sans-serif.
constexpr std::string_view kLastResorts[] = {"Nimbus Sans", "Liberation Sans", "DejaVu Sans"};
// What is left on a machine without a single font: the browser's generic family.
constexpr std::string_view kGenericSans = "sans-serif";

bool isRoleWord(std::string_view word) {
  static const std::set<std::string, std::less<>> roles{
      "display", "headline", "headlines", "heading",  "headings", "title",    "titles", "body", "text",
      "copy",    "ui",       "caption",   "captions", "subhead",  "subheads", "accent", "for",  "and",
      "regular", "bold",     "black",     "medium",   "light",    "semibold", "font",   "fonts"};
  return roles.contains(GraphicsText::lower(word));
}

// Each brand family first, then families Debian ships that keep its metrics or its character:
// Nimbus Sans (Helvetica's metrics), Liberation Sans (Arial's), Nimbus Sans Narrow for the
// condensed display faces, URW Gothic for the geometric ones, C059 and Nimbus Roman or
// Liberation Serif for the serifs.
const std::vector<std::string>& substitutes(const std::string& key) {
  static const std::map<std::string, std::vector<std::string>> rows{
      {"anton", {"Anton", "Nimbus Sans Narrow", "Liberation Sans"}},
      {"bebas neue", {"Bebas Neue", "Nimbus Sans Narrow", "Liberation Sans"}},
      {"oswald", {"Oswald", "Nimbus Sans Narrow", "Liberation Sans"}},
      {"inter", {"Inter", "Nimbus Sans", "Liberation Sans"}},
      {"roboto", {"Roboto", "Nimbus Sans", "Liberation Sans"}},
      {"open sans", {"Open Sans", "Nimbus Sans", "Liberation Sans"}},
      {"lato", {"Lato", "Nimbus Sans", "Liberation Sans"}},
      {"montserrat", {"Montserrat", "URW Gothic", "Nimbus Sans"}},
      {"poppins", {"Poppins", "URW Gothic", "Nimbus Sans"}},
      {"futura", {"Futura", "URW Gothic"}},
      {"nunito", {"Nunito", "URW Gothic", "Nimbus Sans"}},
      {"source sans pro", {"Source Sans Pro", "Nimbus Sans", "Liberation Sans"}},
      {"work sans", {"Work Sans", "Nimbus Sans", "Liberation Sans"}},
      {"dm sans", {"DM Sans", "Nimbus Sans", "Liberation Sans"}},
      {"space grotesk", {"Space Grotesk", "Nimbus Sans", "Liberation Sans"}},
      {"playfair display", {"Playfair Display", "C059", "Nimbus Roman"}},
      {"merriweather", {"Merriweather", "C059", "Liberation Serif"}},
      {"georgia", {"Georgia", "C059", "Liberation Serif"}},
      {"helvetica", {"Helvetica", "Nimbus Sans", "Liberation Sans"}}};
  static const std::vector<std::string> none;
  const auto it = rows.find(key);
  return it == rows.end() ? none : it->second;
}

// Splits at any of the given separators (UTF-8 aware for "·").
std::vector<std::string> pieces(std::string_view text) {
  std::vector<std::string> out(1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t at = pos;
    const char32_t cp = GraphicsText::next(text, pos);
    if (cp == U',' || cp == U';' || cp == U'/' || cp == U'\u00B7' || cp == U'|' || cp == U'\n') {
      out.emplace_back();
    } else {
      out.back().append(text.substr(at, pos - at));
    }
  }
  return out;
}

std::string base64(std::string_view bytes) {
  static constexpr char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v =
        (static_cast<unsigned char>(bytes[i]) << 16) | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += two ? table[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

std::string ResolvedFont::cssStack() const {
  if (GraphicsText::lower(family) == GraphicsText::lower(lastResort())) return terminalStack();
  return "\"" + family + "\", " + terminalStack();
}

std::string chooseLastResort(const Lookup& lookup, const std::function<std::string()>& systemSans) {
  for (std::string_view family : kLastResorts) {
    if (lookup(family)) return std::string(family);
  }
  const std::string sans = systemSans();
  return !sans.empty() && lookup(sans) ? sans : std::string(kGenericSans);
}

const std::string& lastResort() {
  static const std::string chosen = chooseLastResort(installedFontFile, FontCatalog::sansSerif);
  return chosen;
}

std::string terminalStack() {
  const std::string& last = lastResort();
  return last == kGenericSans ? last : "\"" + last + "\", sans-serif";
}

std::vector<std::string> names(const std::optional<std::string>& brandFonts) {
  std::vector<std::string> kept;
  if (!brandFonts || GraphicsText::trimSpace(*brandFonts).empty()) return kept;
  std::set<std::string> seen;
  for (const std::string& piece : pieces(*brandFonts)) {
    std::vector<std::string_view> words;
    std::string_view rest = GraphicsText::trimBlanks(piece);
    while (!rest.empty()) {
      const std::size_t cut = rest.find_first_of(" \t");
      std::string_view word = rest.substr(0, cut);
      rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
      const std::size_t a = word.find_first_not_of("()\"'.");
      if (a == std::string_view::npos) continue;
      word = word.substr(a, word.find_last_not_of("()\"'.") - a + 1);
      words.push_back(word);
    }
    const auto joined = [&words] {
      std::string name;
      for (std::string_view w : words) name += (name.empty() ? "" : " ") + std::string(w);
      return name;
    };
    // A family the stand-in table knows keeps its own last word ("Playfair Display").
    while (!words.empty() && isRoleWord(words.back()) && substitutes(GraphicsText::lower(joined())).empty())
      words.pop_back();
    while (!words.empty() && isRoleWord(words.front())) words.erase(words.begin());
    std::string name = joined();
    if (name.empty() || GraphicsText::graphemeCount(name) > 40) continue;
    if (!seen.insert(GraphicsText::lower(name)).second) continue;
    kept.push_back(std::move(name));
  }
  if (kept.size() > 4) kept.resize(4);
  return kept;
}

std::vector<ResolvedFont> resolve(const std::vector<std::string>& names, const Lookup& lookup,
                                  const std::string& lastResortFamily) {
  std::vector<ResolvedFont> out;
  for (const std::string& name : names) {
    if (const auto found = lookup(name)) {
      out.push_back({name, name, true, found->file});
      continue;
    }
    const std::string key = GraphicsText::lower(name);
    std::optional<ResolvedFont> stand;
    for (const std::string& candidate : substitutes(key)) {
      if (GraphicsText::lower(candidate) == key) continue;
      if (const auto found = lookup(candidate)) {
        stand = ResolvedFont{name, candidate, false, found->file};
        break;
      }
    }
    out.push_back(stand ? *stand : ResolvedFont{name, lastResortFamily, false, std::nullopt});
  }
  return out;
}

std::vector<ResolvedFont> plan(const std::optional<BrandSpec>& brand, const Lookup& lookup) {
  if (!brand) return {};
  return resolve(names(brand->fonts), lookup, chooseLastResort(lookup, FontCatalog::sansSerif));
}

const std::set<std::string>& installedFamilies() {
  static std::mutex lock;
  static std::set<std::string> cache;
  std::lock_guard guard(lock);
  if (cache.empty()) {
    for (const std::string& f : FontCatalog::families()) cache.insert(GraphicsText::lower(f));
  }
  return cache;
}

std::optional<Installed> installedFontFile(std::string_view family) {
  if (!installedFamilies().contains(GraphicsText::lower(family))) return std::nullopt;
  return Installed{FontCatalog::fileOf(family)};
}

std::string promptSection(const std::vector<ResolvedFont>& fonts) {
  std::string s =
      "FONTS — LOCAL ONLY, NO NETWORK. Do not add a Google Fonts <link>, an @import, a URL on "
      "fonts.googleapis.com or fonts.gstatic.com, or any other remote stylesheet or font file. A "
      "composition that references ANY external resource is rejected outright and the graphic is "
      "not delivered, so there is no partial credit here. If you need a face that isn't listed "
      "below, use one that is — or embed the face yourself as an @font-face with a `data:` URI. "
      "Every font-family declaration must end in a real fallback (" +
      terminalStack() + "), never a bare family name.";
  if (fonts.empty()) {
    return s + "\n\nNo brand fonts were supplied. Use the system stack (" + terminalStack() +
           ") and get the character from weight, case, tracking and scale rather than from a "
           "novelty face.";
  }
  s += "\n\nUse these EXACT stacks (they resolve on the machine doing the render):\n";
  for (const ResolvedFont& f : fonts) {
    s += "- `font-family: " + f.cssStack() + ";` — ";
    if (f.installed) {
      s += "\"" + f.requested + "\" is installed locally";
    } else {
      s += "\"" + f.requested + "\" is NOT on this machine — \"" + f.family +
           "\" is the approved local stand-in; do not try to load " + f.requested + " from the web";
    }
    s += "\n";
  }
  return s;
}

std::vector<std::string> substitutionWarnings(const std::vector<ResolvedFont>& fonts) {
  std::vector<std::string> out;
  for (const ResolvedFont& f : fonts) {
    if (f.installed) continue;
    out.push_back("Motion graphics fonts: \"" + f.requested +
                  "\" isn't installed on this computer, so the graphics use \"" + f.family + "\" instead. Install " +
                  f.requested +
                  " (or add it to the brand) if the typeface matters — nothing is fetched from "
                  "the web.");
  }
  return out;
}

std::string fontFaceCSS(const std::vector<ResolvedFont>& fonts, std::size_t maxBytes, const ReadFile& read) {
  std::vector<std::string> rules;
  std::set<std::string> considered;
  for (const ResolvedFont& f : fonts) {
    if (!f.fileURL || !considered.insert(f.family).second) continue;
    const std::string ext = GraphicsText::lower(f.fileURL->extension().string());
    std::string format;
    if (ext == ".ttf") format = "truetype";
    else if (ext == ".otf") format = "opentype";
    else if (ext == ".woff") format = "woff";
    else if (ext == ".woff2") format = "woff2";
    else continue;
    const auto bytes = read(*f.fileURL);
    if (!bytes || bytes->empty() || bytes->size() > maxBytes) continue;
    rules.push_back("@font-face { font-family: \"" + f.family + "\"; src: url(data:font/" + format + ";base64," +
                    base64(*bytes) + ") format(\"" + format + "\"); font-display: block; }");
  }
  std::string out;
  for (const std::string& r : rules) out += (out.empty() ? "" : "\n") + r;
  return out;
}

std::string embedding(std::string_view css, std::string_view html) {
  if (css.empty()) return std::string(html);
  const std::string block = "<style>\n" + std::string(css) + "\n</style>";
  std::string doc(html);
  if (const std::size_t head = GraphicsText::findCaseless(doc, "<head>"); head != std::string::npos) {
    return doc.replace(head, 6, "<head>\n" + block);
  }
  if (const std::size_t open = GraphicsText::findCaseless(doc, "<html"); open != std::string::npos) {
    if (const std::size_t gt = doc.find('>', open); gt != std::string::npos) {
      return doc.replace(gt, 1, ">\n<head>" + block + "</head>");
    }
  }
  return block + "\n" + doc;
}

}  // namespace kestrane::LocalFonts
