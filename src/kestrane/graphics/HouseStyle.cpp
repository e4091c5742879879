#include "kestrane/graphics/HouseStyle.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/model/EnumText.hpp"

namespace kestrane::HouseStyle {

using List = std::vector<std::string>;

const std::string_view referenceDirective =
    "HOUSE STYLE — YOU ARE SETTING IT. This is the FIRST graphic of a set that will be authored "
    "against yours: the components you invent here — the eyebrow treatment, the card/panel shape, "
    "the corner radius, the type scale, the entrance rhythm — become the binding vocabulary for "
    "every other graphic of this video. So name the component classes plainly (.eyebrow, "
    ".headline, .panel, .accent-rule), keep the type scale to three sizes, use ONE accent color, "
    "and pick one entrance ease and one stagger value and stay with them.";

const std::string_view secondReferenceDirective =
    "YOU ARE ALSO EXTENDING THE KIT. You are the first graphic of your TYPE in this set, so "
    "whatever your type needs that the tokens above do not cover — a full-frame background "
    "treatment, an overlay's legibility panel — is yours to define, and every later graphic of "
    "your type will match it. Define only what is genuinely missing: the colors, radii, type "
    "scale, ease and stagger above are already settled and must come through unchanged.";

namespace {

void addOnce(List& list, std::string value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(std::move(value));
}

std::vector<std::string> styleBlocks(std::string_view html) {
  std::vector<std::string> blocks;
  std::size_t from = 0;
  while (true) {
    const std::size_t open = GraphicsText::findCaseless(html, "<style", from);
    if (open == std::string_view::npos) break;
    const std::size_t gt = html.find('>', open + 6);
    if (gt == std::string_view::npos) break;
    const std::size_t close = GraphicsText::findCaseless(html, "</style>", gt + 1);
    if (close == std::string_view::npos) break;
    blocks.emplace_back(html.substr(gt + 1, close - gt - 1));
    from = close + 8;
  }
  return blocks;
}

// A declaration that would fetch something: an @import, or url() of anything but data:.
bool loadsSomething(std::string_view chunk) {
  const std::string lowered = GraphicsText::lower(chunk);
  if (lowered.find("@import") != std::string::npos) return true;
  for (std::size_t at = lowered.find("url("); at != std::string::npos; at = lowered.find("url(", at + 4)) {
    std::string_view arg = GraphicsText::trimSpace(std::string_view(lowered).substr(at + 4));
    if (!arg.empty() && (arg[0] == '"' || arg[0] == '\'')) arg.remove_prefix(1);
    if (!GraphicsText::startsWith(GraphicsText::trimSpace(arg), "data:")) return true;
  }
  return false;
}

std::string withoutLoadingDeclarations(std::string_view css) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= css.size(); ++i) {
    const bool end = i == css.size();
    if (!end && css[i] != ';' && css[i] != '{' && css[i] != '}') continue;
    const std::string_view chunk = css.substr(start, i - start);
    if (!loadsSomething(chunk)) {
      out.append(chunk);
      if (!end) out += css[i];
    } else if (!end && css[i] != ';') {
      out += css[i];
    }
    start = i + 1;
  }
  return out;
}

std::map<std::string, std::string> customProperties(std::string_view css) {
  std::map<std::string, std::string> out;
  for (const auto& m : GraphicsText::findAll(R"((--[A-Za-z0-9_-]{1,40})\s*:\s*([^;{}]{1,120}))", css)) {
    out.emplace(m.groups[1], std::string(GraphicsText::trimSpace(m.groups[2])));
  }
  return out;
}

List values(std::string_view property, std::string_view css) {
  List out;
  const std::string needle = std::string(property) + ":";
  std::size_t from = 0;
  while (true) {
    const std::size_t at = GraphicsText::findCaseless(css, needle, from);
    if (at == std::string_view::npos) break;
    const std::size_t begin = at + needle.size();
    from = begin;
    std::size_t end = css.find_first_of(";}\n", begin);
    if (end == std::string_view::npos) end = css.size();
    const std::string_view v = GraphicsText::trimBlanks(css.substr(begin, end - begin));
    if (v.empty() || GraphicsText::graphemeCount(v) > 120) continue;
    std::string single;
    for (std::size_t i = 0; i < v.size(); ++i) {
      single += v[i];
      if (v[i] == ' ' && i + 1 < v.size() && v[i + 1] == ' ') ++i;
    }
    addOnce(out, std::move(single));
  }
  return out;
}

std::string resolving(std::string value, const std::map<std::string, std::string>& custom) {
  for (int pass = 0; pass < 4; ++pass) {
    const std::size_t open = value.find("var(");
    if (open == std::string::npos) break;
    const std::size_t close = value.find(')', open);
    if (close == std::string::npos) break;
    const std::string_view inner = std::string_view(value).substr(open + 4, close - open - 4);
    std::vector<std::string> parts;
    const std::size_t comma = inner.find(',');
    for (std::string_view p :
         {inner.substr(0, comma), comma == std::string_view::npos ? std::string_view{} : inner.substr(comma + 1)}) {
      const std::string_view t = GraphicsText::trimSpace(p);
      if (!t.empty()) parts.emplace_back(t);
    }
    if (parts.empty()) break;
    std::string replacement;
    if (const auto it = custom.find(parts[0]); it != custom.end()) {
      replacement = it->second;
    } else if (parts.size() > 1) {
      replacement = parts[1];
    }
    if (replacement.empty()) break;
    value.replace(open, close - open + 1, replacement);
  }
  return std::string(GraphicsText::trimSpace(value));
}

List tokens(std::string_view property, std::string_view css, const std::map<std::string, std::string>& custom) {
  List out;
  for (const std::string& v : values(property, css)) {
    std::string r = resolving(v, custom);
    if (r.empty() || GraphicsText::startsWith(r, "var(")) continue;
    addOnce(out, std::move(r));
  }
  return out;
}

double px(std::string_view v) {
  const std::size_t run = v.find_first_not_of("0123456789.");
  const double n = GraphicsText::number(v.substr(0, run)).value_or(0);
  return v.find("em") != std::string_view::npos ? n * 16 : n;
}

List sortedSizes(List sizes) {
  std::stable_sort(sizes.begin(), sizes.end(),
                   [](const std::string& a, const std::string& b) { return px(a) > px(b); });
  if (sizes.size() > 8) sizes.resize(8);
  return sizes;
}

List colorTokens(std::string_view html) {
  std::vector<std::pair<std::size_t, std::string>> pooled;
  for (auto& m : GraphicsText::findAll(R"(#[0-9a-fA-F]{3,8}\b)", html)) {
    std::string hex = m.groups[0];
    std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::toupper(c); });
    pooled.emplace_back(m.begin, std::move(hex));
  }
  for (auto& m : GraphicsText::findAll(R"(rgba?\([^)]{1,60}\))", html)) {
    pooled.emplace_back(m.begin, std::move(m.groups[0]));
  }
  std::stable_sort(pooled.begin(), pooled.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  List out;
  for (auto& [at, token] : pooled) addOnce(out, std::move(token));
  if (out.size() > 12) out.resize(12);
  return out;
}

List quotedValues(std::string_view key, std::string_view html) {
  List out;
  const std::string needle = std::string(key) + ":";
  for (std::size_t at = html.find(needle); at != std::string_view::npos; at = html.find(needle, at + needle.size())) {
    const std::string_view window = GraphicsText::prefixGraphemes(html.substr(at + needle.size()), 80);
    const std::size_t open = window.find_first_of("\"'");
    if (open == std::string_view::npos) continue;
    const std::size_t close = window.find(window[open], open + 1);
    const std::string_view v = GraphicsText::trimSpace(
        window.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
    if (!v.empty() && GraphicsText::graphemeCount(v) <= 40) addOnce(out, std::string(v));
  }
  return out;
}

List numericValues(std::string_view key, std::string_view html) {
  List out;
  const std::string needle = std::string(key) + ":";
  for (std::size_t at = html.find(needle); at != std::string_view::npos; at = html.find(needle, at + needle.size())) {
    std::size_t pos = at + needle.size();
    while (pos < html.size() && html[pos] == ' ') ++pos;
    std::string run;
    while (pos < html.size()) {
      std::size_t next = pos;
      const char32_t cp = GraphicsText::next(html, next);
      if (!GraphicsText::isNumeric(cp) && cp != U'.') break;
      run.append(html.substr(pos, next - pos));
      pos = next;
    }
    if (!run.empty() && GraphicsText::number(run)) addOnce(out, std::move(run));
  }
  return out;
}

List componentClasses(std::string_view html) {
  static constexpr std::string_view roles[] = {
      "eyebrow", "kicker", "headline",  "title",  "subtitle", "label",   "pill", "badge", "chip",    "card",
      "panel",   "rule",   "underline", "accent", "tag",      "counter", "stat", "bar",   "divider", "callout"};
  List out;
  auto consider = [&](std::string_view name) {
    if (name == "clip") return;
    const std::string lowered = GraphicsText::lower(name);
    for (std::string_view role : roles) {
      if (lowered.find(role) != std::string::npos) {
        addOnce(out, "." + std::string(name));
        return;
      }
    }
  };
  for (const auto& m : GraphicsText::findAll(R"re(class="([^"]{1,120})")re", html)) {
    std::string_view names = m.groups[1];
    while (!names.empty()) {
      const std::size_t cut = names.find(' ');
      if (cut != 0) consider(names.substr(0, cut));
      names = cut == std::string_view::npos ? std::string_view{} : names.substr(cut + 1);
    }
  }
  for (const auto& m : GraphicsText::findAll(R"(\.([A-Za-z][\w-]{1,40})\s*[,{])", html)) {
    consider(m.groups[1]);
  }
  if (out.size() > 14) out.resize(14);
  return out;
}

std::optional<std::string> excerpt(std::string_view css) {
  const std::string_view t = GraphicsText::trimSpace(css);
  if (t.empty()) return std::nullopt;
  if (GraphicsText::graphemeCount(t) <= 2600) return std::string(t);
  const std::string_view head = GraphicsText::prefixGraphemes(t, 2600);
  const std::size_t brace = head.rfind('}');
  return std::string(brace == std::string_view::npos ? head : head.substr(0, brace + 1));
}

List merged(const List& a, const List& b, std::size_t cap) {
  List out = a;
  for (const std::string& s : b) addOnce(out, s);
  if (out.size() > cap) out.resize(cap);
  return out;
}

std::string joinedFirst(const List& list, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < list.size() && i < n; ++i) out += (i ? ", " : "") + list[i];
  return out;
}

}  // namespace

bool isEmpty(const ComponentVocabulary& v) {
  return v.fontFamilies.empty() && v.typeScale.empty() && v.colors.empty() && v.eases.empty() && v.components.empty() &&
         v.styleExcerpts.empty();
}

ComponentVocabulary derive(std::string_view html, GraphicKind kind, std::string_view name) {
  std::string joined;
  for (const std::string& block : styleBlocks(html)) joined += (joined.empty() ? "" : "\n") + block;
  const std::string css = withoutLoadingDeclarations(joined);
  const auto custom = customProperties(css);
  ComponentVocabulary v;
  v.fontFamilies = tokens("font-family", css, custom);
  v.typeScale = sortedSizes(tokens("font-size", css, custom));
  v.cornerRadii = tokens("border-radius", css, custom);
  v.letterSpacing = tokens("letter-spacing", css, custom);
  v.textTransform = tokens("text-transform", css, custom);
  v.colors = colorTokens(html);
  v.eases = quotedValues("ease", html);
  v.motionDurations = numericValues("duration", html);
  v.staggers = numericValues("stagger", html);
  v.components = componentClasses(html);
  if (auto e = excerpt(css)) v.styleExcerpts.emplace(std::string(rawValue(kind)), std::move(*e));
  v.derivedFrom = {std::string(name)};
  return v;
}

ComponentVocabulary merging(const ComponentVocabulary& a, const ComponentVocabulary& b) {
  ComponentVocabulary v;
  v.fontFamilies = merged(a.fontFamilies, b.fontFamilies, 4);
  v.typeScale = sortedSizes(merged(a.typeScale, b.typeScale, 8));
  v.colors = merged(a.colors, b.colors, 10);
  v.cornerRadii = merged(a.cornerRadii, b.cornerRadii, 5);
  v.letterSpacing = merged(a.letterSpacing, b.letterSpacing, 4);
  v.textTransform = merged(a.textTransform, b.textTransform, 3);
  v.eases = merged(a.eases, b.eases, 5);
  v.motionDurations = merged(a.motionDurations, b.motionDurations, 6);
  v.staggers = merged(a.staggers, b.staggers, 4);
  v.components = merged(a.components, b.components, 12);
  v.derivedFrom = merged(a.derivedFrom, b.derivedFrom, 4);
  v.styleExcerpts = a.styleExcerpts;
  for (const auto& [k, e] : b.styleExcerpts) v.styleExcerpts.emplace(k, e);
  return v;
}

std::string promptSection(const ComponentVocabulary& v, GraphicKind kind) {
  if (isEmpty(v)) return {};
  const std::pair<std::string_view, std::pair<const List*, std::size_t>> rows[] = {
      {"Type faces (use these exact stacks)", {&v.fontFamilies, 4}},
      {"Type scale (px values, re-use them)", {&v.typeScale, 6}},
      {"Palette — COPY THESE HEX VALUES CHARACTER FOR CHARACTER", {&v.colors, 8}},
      {"Corner radii", {&v.cornerRadii, 4}},
      {"Letter spacing", {&v.letterSpacing, 3}},
      {"Case treatment", {&v.textTransform, 3}},
      {"Eases", {&v.eases, 4}},
      {"Tween durations (seconds)", {&v.motionDurations, 5}},
      {"Stagger", {&v.staggers, 3}},
      {"Named components already in this set", {&v.components, 10}}};
  std::string s =
      "HOUSE STYLE — BINDING, AND THE POINT OF IT. The other graphics in this set have already "
      "been designed";
  if (!v.derivedFrom.empty()) s += " (reference: " + joinedFirst(v.derivedFrom, v.derivedFrom.size()) + ")";
  s += ". They will sit in the same video, minutes apart, and the editor will cut between them. "
       "Yours must look as if it came out of the same kit: the same eyebrow treatment, the same "
       "panel/card shape, the same corner radius, the same type scale and case, the same entrance "
       "rhythm and easing. Re-use the tokens below literally — a hex one shade off, a radius a few "
       "pixels different or a second ease reads as a different designer. Do not \"improve\" them, "
       "do not introduce a second accent colour, and do not restyle a component the set already "
       "defines — an eyebrow that is a pill here stays a pill.\n\n";
  std::string rowText;
  for (const auto& [label, list] : rows) {
    if (list.first->empty()) continue;
    rowText += (rowText.empty() ? "" : "\n") + std::string("- ") + std::string(label) + ": " +
               joinedFirst(*list.first, list.second);
  }
  s += rowText;
  const std::string key(rawValue(kind));
  const std::string* chosen = nullptr;
  if (const auto it = v.styleExcerpts.find(key); it != v.styleExcerpts.end()) {
    chosen = &it->second;
  } else if (!v.styleExcerpts.empty()) {
    chosen = &v.styleExcerpts.begin()->second;  // the map is ordered: the smallest key
  }
  if (chosen) {
    s += "\n\nThe reference composition's own stylesheet (copy these component rules; adapt only "
         "what your brief's content needs):\n\n```css\n" +
         *chosen + "\n```";
  }
  return s;
}

}  // namespace kestrane::HouseStyle
