#include "kestrane/graphics/BrandProbe.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

#include <unicode/utf8.h>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/platform/WebPageFetch.hpp"

namespace kestrane::BrandProbe {

namespace {

std::vector<std::string> matches(std::string_view pattern, std::string_view text) {
  return GraphicsText::matchTexts(pattern, text, true);
}

bool isValidUtf8(std::string_view s) {
  int32_t i = 0;
  const auto n = static_cast<int32_t>(s.size());
  while (i < n) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, n, c);
    if (c < 0) return false;
  }
  return true;
}

std::string latin1ToUtf8(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct Rgb {
  double r, g, b;
};

std::optional<Rgb> rgbFromHex(std::string_view hex) {
  if (!hex.empty() && hex[0] == '#') hex.remove_prefix(1);
  if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
    return std::nullopt;
  }
  const unsigned long v = std::stoul(std::string(hex), nullptr, 16);
  return Rgb{((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

double hue(const Rgb& c) {
  const double mx = std::max({c.r, c.g, c.b});
  const double mn = std::min({c.r, c.g, c.b});
  const double d = mx - mn;
  if (d == 0) return 0;
  double h;
  if (mx == c.r) {
    h = std::fmod((c.g - c.b) / d, 6.0) / 6;
  } else if (mx == c.g) {
    h = ((c.b - c.r) / d + 2) / 6;
  } else {
    h = ((c.r - c.g) / d + 4) / 6;
  }
  return h < 0 ? h + 1 : h;
}

// A channel or alpha number: "50%" as a fraction of `full`, else the number itself.
std::optional<double> amount(std::string_view piece, double full) {
  if (piece.ends_with("%")) {
    const auto n = GraphicsText::number(piece.substr(0, piece.size() - 1));
    if (!n) return std::nullopt;
    return *n / 100 * full;
  }
  return GraphicsText::number(piece);
}

}  // namespace

Fetch networkFetcher(bool allowLoopbackStylesheets, std::stop_token stop) {
  return [allowLoopbackStylesheets, stop](const std::string& url, double timeout,
                                          Target target) -> std::optional<std::string> {
    WebPageFetch::Options options;
    options.timeoutSeconds = timeout;
    options.refusePrivateAddresses = target == Target::stylesheet;
    options.allowLoopback = allowLoopbackStylesheets;
    auto body = WebPageFetch::get(url, options, stop);
    if (!body) return std::nullopt;
    if (isValidUtf8(*body)) return body;
    return latin1ToUtf8(*body);
  };
}

std::optional<std::string> normalizedURL(std::string_view site) {
  const std::string_view t = GraphicsText::trimSpace(site);
  if (t.empty()) return std::nullopt;
  const std::string lowered = GraphicsText::lower(t);
  std::string text(t);
  if (!lowered.starts_with("http://") && !lowered.starts_with("https://")) text = "https://" + text;
  const auto url = WebPageFetch::absoluteURL(text);
  if (!url || !WebPageFetch::host(*url)) return std::nullopt;
  return url;
}

std::optional<std::string> siteHost(std::string_view site) {
  const auto url = normalizedURL(site);
  return url ? WebPageFetch::host(*url) : std::nullopt;
}

std::optional<std::string> attribute(std::string_view name, std::string_view tag) {
  const std::string n(name);
  for (const std::string& pattern :
       {n + R"re(\s*=\s*"([^"]*)")re", n + R"re(\s*=\s*'([^']*)')re", n + R"re(\s*=\s*([^\s>]+))re"}) {
    const auto found = GraphicsText::findAll(pattern, tag, true);
    if (found.empty()) continue;
    const std::string_view v = GraphicsText::trimBlanks(found[0].groups[1]);
    if (!v.empty()) return std::string(v);
  }
  return std::nullopt;
}

std::vector<ColorHit> colorHitsInHTML(std::string_view html) {
  std::vector<ColorHit> hits;
  for (const std::string& tag : matches("<meta[^>]+>", html)) {
    const std::string lowered = GraphicsText::lower(tag);
    if (lowered.find("theme-color") == std::string::npos &&
        lowered.find("msapplication-tilecolor") == std::string::npos) {
      continue;
    }
    const auto content = attribute("content", tag);
    if (!content) continue;
    for (std::string& hex : colorValues(*content)) hits.push_back({std::move(hex), 14.0, "theme-color"});
  }
  return hits;
}

double customPropertyWeight(std::string_view name) {
  const auto has = [name](std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(),
                       [name](std::string_view w) { return name.find(w) != std::string_view::npos; });
  };
  if (has({"gray", "grey", "neutral", "slate", "zinc", "stone", "border", "shadow", "muted", "disabled", "backdrop",
           "overlay"})) {
    return 0.5;
  }
  if (has({"brand", "primary", "accent", "theme", "highlight", "cta"})) return 12.0;
  if (has({"secondary", "link", "button", "btn", "logo", "tint"})) return 6.0;
  return 2.0;
}

std::vector<ColorHit> colorHitsInCSS(std::string_view css, double weightScale) {
  std::vector<ColorHit> hits;
  for (const std::string& m : matches(R"(--[A-Za-z0-9_-]+\s*:\s*[^;{}]+)", css)) {
    const std::size_t colon = m.find(':');
    const std::string name = GraphicsText::lower(std::string_view(m).substr(0, colon));
    const double weight = customPropertyWeight(name) * weightScale;
    for (std::string& hex : colorValues(std::string_view(m).substr(colon + 1))) {
      hits.push_back({std::move(hex), weight, name});
    }
  }
  static constexpr std::array<std::pair<std::string_view, double>, 6> properties{{{"background-color", 3.0},
                                                                                  {"background", 3.0},
                                                                                  {"fill", 3.0},
                                                                                  {"border-color", 1.5},
                                                                                  {"color", 1.0},
                                                                                  {"stroke", 1.5}}};
  for (const auto& [property, weight] : properties) {
    for (const std::string& m : matches(R"(\b)" + std::string(property) + R"(\s*:\s*[^;{}]+)", css)) {
      for (std::string& hex : colorValues(m)) {
        hits.push_back({std::move(hex), weight * weightScale, std::string(property)});
      }
    }
  }
  return hits;
}

std::vector<std::string> stylesheetURLs(std::string_view html, std::string_view base) {
  std::vector<std::string> urls;
  for (const std::string& tag : matches("<link[^>]+>", html)) {
    const std::string lowered = GraphicsText::lower(tag);
    if (lowered.find("stylesheet") == std::string::npos && lowered.find(".css") == std::string::npos) {
      continue;
    }
    const auto href = attribute("href", tag);
    if (!href) continue;
    auto url = WebPageFetch::resolveURL(base, *href);
    if (url && std::find(urls.begin(), urls.end(), *url) == urls.end()) urls.push_back(std::move(*url));
  }
  return urls;
}

std::vector<std::string> colorValues(std::string_view text) {
  std::vector<std::string> out;
  for (const std::string& m : matches(R"(#[0-9A-Fa-f]{3,8}\b)", text)) {
    if (auto hex = normalizeHex(m)) out.push_back(std::move(*hex));
  }
  for (const std::string& m : matches(R"(rgba?\([^)]*\))", text)) {
    if (auto hex = hexFromRGBFunction(m)) out.push_back(std::move(*hex));
  }
  return out;
}

std::optional<std::string> normalizeHex(std::string_view text) {
  if (!text.empty() && text[0] == '#') text.remove_prefix(1);
  if (text.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) return std::nullopt;
  const std::string d = GraphicsText::lower(text);
  const auto doubled = [&d] { return std::string{'#', d[0], d[0], d[1], d[1], d[2], d[2]}; };
  switch (d.size()) {
    case 3: return doubled();
    case 4:
      if (d[3] == '0') return std::nullopt;
      return doubled();
    case 6: return "#" + d;
    case 8:
      if (d[6] == '0') return std::nullopt;  // alpha below 0x10
      return "#" + d.substr(0, 6);
    default: return std::nullopt;
  }
}

std::optional<std::string> hexFromRGBFunction(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  std::string inner(text.substr(open + 1, close - open - 1));
  std::replace(inner.begin(), inner.end(), ',', ' ');
  std::replace(inner.begin(), inner.end(), '/', ' ');
  std::vector<std::string_view> pieces;
  std::string_view rest = inner;
  while (!rest.empty()) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::size_t end = rest.find(' ');
    pieces.push_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  }
  if (pieces.size() < 3) return std::nullopt;
  std::string hex = "#";
  for (int i = 0; i < 3; ++i) {
    const auto v = amount(pieces[static_cast<std::size_t>(i)], 255);
    if (!v) return std::nullopt;
    const double rounded = std::round(*v);
    if (!(rounded >= 0 && rounded <= 255)) return std::nullopt;
    static constexpr char digits[] = "0123456789abcdef";
    const int c = static_cast<int>(rounded);
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  if (pieces.size() > 3) {
    if (const auto alpha = amount(pieces[3], 1); alpha && *alpha < 0.06) return std::nullopt;
  }
  return hex;
}

std::optional<Palette> rank(const std::vector<ColorHit>& hits) {
  if (hits.empty()) return std::nullopt;
  struct Colour {
    std::string hex;
    double total = 0;
    double bestWeight = 0;
    std::string bestSource;
  };
  std::vector<Colour> colours;
  std::unordered_map<std::string, std::size_t> index;
  for (const ColorHit& h : hits) {
    auto [it, fresh] = index.emplace(h.hex, colours.size());
    if (fresh) colours.push_back({h.hex, 0, h.weight, h.source});
    Colour& c = colours[it->second];
    c.total += h.weight;
    if (h.weight > c.bestWeight) {
      c.bestWeight = h.weight;
      c.bestSource = h.source;
    }
  }
  std::stable_sort(colours.begin(), colours.end(), [](const Colour& a, const Colour& b) {
    if (a.total != b.total) return a.total > b.total;
    return a.hex > b.hex;
  });

  Palette p;
  std::vector<Rgb> chosen;
  double inkLevel = 2;
  double paperLevel = -1;
  for (const Colour& c : colours) {
    const auto rgb = rgbFromHex(c.hex);
    if (!rgb) continue;
    const double mx = std::max({rgb->r, rgb->g, rgb->b});
    const double mn = std::min({rgb->r, rgb->g, rgb->b});
    if (mx <= 0.25 && mx < inkLevel) {
      inkLevel = mx;
      p.ink = c.hex;
    }
    if (mx >= 0.9 && mx > paperLevel) {
      paperLevel = mx;
      p.paper = c.hex;
    }
    if (p.accents.size() == 4 || mx == 0) continue;
    const double saturation = (mx - mn) / mx;
    if (saturation < 0.35 || mx < 0.3) continue;
    const bool nearDuplicate = std::any_of(chosen.begin(), chosen.end(), [&](const Rgb& o) {
      const double omx = std::max({o.r, o.g, o.b});
      const double osat = omx == 0 ? 0 : (omx - std::min({o.r, o.g, o.b})) / omx;
      double dh = std::fabs(hue(*rgb) - hue(o));
      if (dh > 0.5) dh = 1 - dh;
      return dh < 0.055 && std::fabs(saturation - osat) < 0.3 && std::fabs(mx - omx) < 0.3;
    });
    if (nearDuplicate) continue;
    chosen.push_back(*rgb);
    p.accents.push_back(c.hex);
    p.provenance[c.hex] = c.bestSource.empty() ? "css" : c.bestSource;
  }
  if (p.isEmpty()) return std::nullopt;
  return p;
}

std::optional<std::string> Palette::colorsField(const std::optional<std::string>& siteHost) const {
  std::vector<std::string> parts = accents;
  if (ink) parts.push_back(*ink + " (dark)");
  if (paper) parts.push_back(*paper + " (light)");
  if (parts.empty()) return std::nullopt;
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  if (siteHost) text += " — read from " + *siteHost;
  return text;
}

std::optional<Palette> palette(std::string_view site, double timeout, int maxStylesheets, const Fetch& fetch,
                               std::stop_token stop) {
  const auto url = normalizedURL(site);
  if (!url || stop.stop_requested()) return std::nullopt;
  const auto page = fetch(*url, timeout, Target::page);
  if (!page || stop.stop_requested()) return std::nullopt;
  std::vector<ColorHit> hits = colorHitsInHTML(*page);
  for (ColorHit& h : colorHitsInCSS(*page, 1.0)) hits.push_back(std::move(h));
  std::vector<std::string> sheets = stylesheetURLs(*page, *url);
  if (static_cast<long long>(sheets.size()) > std::max(0, maxStylesheets)) {
    sheets.resize(static_cast<std::size_t>(std::max(0, maxStylesheets)));
  }
  for (const std::string& sheet : sheets) {
    if (stop.stop_requested()) return std::nullopt;
    if (const auto css = fetch(sheet, timeout, Target::stylesheet)) {
      for (ColorHit& h : colorHitsInCSS(*css, 1.0)) hits.push_back(std::move(h));
    }
  }
  return rank(hits);
}

}  // namespace kestrane::BrandProbe
