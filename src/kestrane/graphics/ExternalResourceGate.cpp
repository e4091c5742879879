#include "kestrane/graphics/ExternalResourceGate.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <set>

#include "kestrane/graphics/EscapeDecoding.hpp"
#include "kestrane/graphics/GraphicsPrompt.hpp"
#include "kestrane/graphics/GraphicsText.hpp"

namespace kestrane::ExternalResourceGate {
namespace {

constexpr std::size_t maxReference = 120;

// The stylesheet and font-file hosts of one web-font service and one host of two others.
constexpr std::array<std::string_view, 4> webFontHosts{"fonts.googleapis.com", "fonts.gstatic.com", "use.typekit.net",
                                                       "fonts.bunny.net"};
// Namespace URIs (an SVG xmlns) name this host without anything ever fetching from it.
constexpr std::string_view namespaceHost = "www.w3.org";

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool endsWithAny(std::string_view text, std::initializer_list<std::string_view> tails) {
  for (auto tail : tails)
    if (endsWith(text, tail)) return true;
  return false;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool startsTag(std::string_view lower, std::size_t at, std::string_view name) {
  if (lower.compare(at, name.size(), name) != 0) return false;
  const std::size_t after = at + name.size();
  return after >= lower.size() || isSpace(lower[after]) || lower[after] == '>' || lower[after] == '/';
}

// Past the comment whose "<!--" ends just before `body`, where a browser ends it: "<!-->" and
// "<!--->" are whole comments, and "--!>" closes one as "-->" does. npos when nothing closes it.
std::size_t commentEnd(std::string_view html, std::size_t body) {
  if (html.substr(body).starts_with(">")) return body + 1;
  if (html.substr(body).starts_with("->")) return body + 2;
  const std::size_t plain = html.find("-->", body);
  const std::size_t bang = html.find("--!>", body);
  if (plain == std::string_view::npos && bang == std::string_view::npos) return std::string_view::npos;
  return plain < bang ? plain + 3 : bang + 4;
}

// Drops HTML comments outside <style> and <script>: inside those, "<!--" is ordinary text, so
// it must not hide what follows. A comment that is never closed is scanned as it stands.
std::string withoutComments(std::string_view html) {
  const std::string lower = lowered(html);
  std::string out;
  out.reserve(html.size());
  std::size_t i = 0;
  while (i < html.size()) {
    if (html[i] == '<') {
      const bool script = startsTag(lower, i, "<script");
      if (script || startsTag(lower, i, "<style")) {
        const std::size_t close = lower.find(script ? "</script" : "</style", i);
        const std::size_t end = close == std::string::npos ? html.size() : close;
        out.append(html.substr(i, end - i));
        i = end;
        if (close != std::string::npos) {
          out.push_back(html[i]);
          ++i;
        }
        continue;
      }
      if (html.compare(i, 4, "<!--") == 0) {
        if (const std::size_t end = commentEnd(html, i + 4); end != std::string::npos) {
          i = end;
          continue;
        }
      }
    }
    out.push_back(html[i]);
    ++i;
  }
  return out;
}

bool endsURL(char c) { return isSpace(c) || c == '"' || c == '\'' || c == '`' || c == ')' || c == '<' || c == '>'; }

bool isSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

std::size_t urlEnd(std::string_view text, std::size_t from) {
  while (from < text.size() && !endsURL(text[from])) ++from;
  return from;
}

// A browser reads the ideographic, fullwidth and halfwidth full stops in a host as dots.
std::string withASCIIDots(std::string host) {
  for (std::string_view dot : {"\u3002", "\uFF0E", "\uFF61"})
    for (auto at = host.find(dot); at != std::string::npos; at = host.find(dot, at + 1))
      host.replace(at, dot.size(), ".");
  return host;
}

// The authority of "scheme://authority/...", "//authority/..." or, as browsers read web
// addresses, "https:authority" and "https:/authority": lower-cased and without any user part
// ("https://cdn.jsdelivr.net@evil.example/" names evil.example).
std::string hostOf(std::string_view url) {
  std::size_t start = 0;
  if (const auto colon = url.find(':'); colon != std::string_view::npos && colon < url.find('/')) start = colon + 1;
  while (start < url.size() && url[start] == '/') ++start;
  std::size_t end = start;
  while (end < url.size() && url[end] != '/' && url[end] != '?' && url[end] != '#') ++end;
  std::string_view authority = url.substr(start, end - start);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  return withASCIIDots(lowered(authority));
}

// Schemes a browser reaches the network by even when the slashes after the colon are missing
// (the ICE servers of a peer connection are named "stun:host" and "turn:host").
bool isWebScheme(std::string_view lowerScheme) {
  for (std::string_view scheme : {"http", "https", "ws", "wss", "ftp", "stun", "stuns", "turn", "turns"})
    if (lowerScheme == scheme) return true;
  return false;
}

// A host written as a number: 2130706433, 0x7f000001, 0177.0.0.1.
bool isNumericHost(std::string_view host) {
  if (host.empty() || std::isdigit(static_cast<unsigned char>(host[0])) == 0) return false;
  return std::all_of(host.begin(), host.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == 'x' || c == '.'; });
}

// Where a "//" stands in the decoded document.
enum class Region { markup, style, script };

// Every absolute address (any scheme followed by "//", and the web schemes in any letter case
// with or without slashes) and every address that starts with "//" where a quoted value, a
// url(...), an unquoted attribute value or a srcset entry begins. In markup and CSS every such
// "//" is an address. In script, where comments have been blanked but two slashes may still
// open a comment the blanking could not tell apart, only a host that looks like one is taken: a
// dot, a port, localhost or a number. So is one after a blank or a comma in markup, which may
// be prose.
struct Found {
  std::size_t start = 0;
  std::size_t headEnd = 0;  // past the scheme's colon and slashes, or past the leading "//"
  std::string url;
  bool webScheme = false;
};

std::size_t slashesEnd(std::string_view text, std::size_t at) {
  while (at < text.size() && text[at] == '/') ++at;
  return at;
}

template <typename RegionAt>
std::vector<Found> urls(std::string_view text, RegionAt regionAt) {
  std::vector<Found> found;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t colon = text.find(':', at);
    const std::size_t slashes = text.find("//", at);
    if (colon == std::string_view::npos && slashes == std::string_view::npos) break;
    if (colon < slashes) {
      std::size_t start = colon;
      while (start > 0 && isSchemeChar(text[start - 1])) --start;
      const std::string scheme = lowered(text.substr(start, colon - start));
      const bool absolute = !scheme.empty() && std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                            (isWebScheme(scheme) || text.substr(colon + 1).starts_with("//"));
      const std::size_t end = urlEnd(text, colon + 1);
      if (absolute && end > colon + 1) {
        found.push_back(
            {start, slashesEnd(text, colon + 1), std::string(text.substr(start, end - start)), isWebScheme(scheme)});
        at = end;
      } else {
        at = colon + 1;
      }
      continue;
    }
    const char before = slashes == 0 ? ' ' : text[slashes - 1];
    const std::size_t end = urlEnd(text, slashes + 2);
    const bool loose = isSpace(before) || before == ',';
    const bool opens = loose || before == '"' || before == '\'' || before == '`' || before == '(' || before == '=';
    if (opens) {
      const std::string host = hostOf(text.substr(slashes, end - slashes));
      const Region region = regionAt(slashes);
      const bool anyHost = region == Region::style || (region == Region::markup && !loose);
      const bool hostLike = host.find('.') != std::string::npos || host.find(':') != std::string::npos ||
                            host == "localhost" || isNumericHost(host);
      if (!host.empty() && (anyHost || hostLike)) {
        found.push_back({slashes, slashes + 2, std::string(text.substr(slashes, end - slashes)), true});
        at = end;
        continue;
      }
    }
    at = slashes + 2;
  }
  return found;
}

bool isWebFontHost(std::string_view host) {
  for (auto fontHost : webFontHosts)
    if (host == fontHost || endsWith(host, "." + std::string(fontHost))) return true;
  return false;
}

std::string kindOf(std::string_view url, std::string_view host) {
  const std::string lower = lowered(url);
  if (isWebFontHost(host) || endsWithAny(lower, {".woff", ".woff2", ".ttf", ".otf"}) ||
      lower.find("/css2?family=") != std::string::npos)
    return "web font";
  if (endsWith(lower, ".css")) return "external stylesheet";
  if (endsWithAny(lower, {".js", ".mjs"})) return "external script";
  if (endsWithAny(lower, {".png", ".jpg", ".jpeg", ".svg", ".gif", ".webp", ".avif"})) return "external image";
  if (endsWithAny(lower, {".mp4", ".webm", ".mp3", ".wav"})) return "external media";
  const bool plainWeb = lower.starts_with("http://") || lower.starts_with("https://");
  if (plainWeb && host == namespaceHost) return {};
  return "external resource";
}

// Whether the tag opened at `open` shows a whole document: an <iframe>, <object> or <embed>.
bool isDocumentFrame(std::string_view lower, std::size_t open) {
  return open != std::string_view::npos &&
         (startsTag(lower, open, "<iframe") || startsTag(lower, open, "<object") || startsTag(lower, open, "<embed"));
}

// data: URIs carry their content inline, so images are fine; a script or a page inside one
// is code the scan cannot read. So is an SVG or XML document shown in a frame, which runs its
// scripts and loads what it names (as an image it does neither).
void dataDocuments(std::string_view text, std::vector<std::string>& scripts, std::vector<std::string>& pages) {
  const std::string lower = lowered(text);
  std::size_t scanned = 0;
  std::size_t lastOpen = std::string::npos;  // the last "<" before the URI: the tag it stands in
  for (std::size_t at = lower.find("data:"); at != std::string::npos; at = lower.find("data:", at + 5)) {
    for (; scanned < at; ++scanned)
      if (lower[scanned] == '<') lastOpen = scanned;
    std::size_t type = at + 5;
    while (type < lower.size() && isSpace(lower[type])) ++type;
    const std::string_view rest = std::string_view(lower).substr(type);
    const bool script = rest.starts_with("text/javascript") || rest.starts_with("application/javascript") ||
                        rest.starts_with("text/ecmascript") || rest.starts_with("application/ecmascript");
    std::size_t typeLength = 0;
    while (typeLength < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[typeLength])) != 0 ||
                                        std::string_view("/+-._").find(rest[typeLength]) != std::string_view::npos))
      ++typeLength;
    const std::string_view mediaType = rest.substr(0, typeLength);
    const bool framed =
        (mediaType.find("svg") != std::string_view::npos || mediaType.find("xml") != std::string_view::npos) &&
        isDocumentFrame(lower, lastOpen);
    const bool page = rest.starts_with("text/html") || rest.starts_with("application/xhtml") || framed;
    if (!script && !page) continue;
    (script ? scripts : pages).emplace_back(text.substr(at, urlEnd(text, at) - at));
  }
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; }

// The identifier `name` stands alone at `at`, followed by `next` (after white space when
// `spaced`, as script allows).
bool callAt(std::string_view text, std::size_t at, std::string_view name, std::string_view next, bool spaced = true) {
  if (text.compare(at, name.size(), name) != 0) return false;
  if (at > 0 && isWordChar(text[at - 1])) return false;
  std::size_t i = at + name.size();
  if (next.empty()) return i >= text.size() || !isWordChar(text[i]);
  while (spaced && i < text.size() && isSpace(text[i])) ++i;
  return text.substr(i).starts_with(next);
}

bool containsCall(std::string_view text, std::string_view name, std::string_view next, bool spaced) {
  for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1))
    if (callAt(text, at, name, next, spaced)) return true;
  return false;
}

bool containsNew(std::string_view text, std::string_view name) {
  for (std::size_t at = text.find("new"); at != std::string_view::npos; at = text.find("new", at + 1)) {
    if (!callAt(text, at, "new", "")) continue;
    std::size_t i = at + 3;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i > at + 3 && callAt(text, i, name, "")) return true;
  }
  return false;
}

// In script, a network API named as a value: called, its members read, passed on, or quoted
// for a computed lookup (window["fetch"]). Prose in a script string ("we fetch data") is not.
bool namesInScript(std::string_view script, std::string_view name) {
  for (std::size_t at = script.find(name); at != std::string_view::npos; at = script.find(name, at + 1)) {
    if (at > 0 && isWordChar(script[at - 1])) continue;
    std::size_t i = at + name.size();
    if (i < script.size() && isWordChar(script[i])) continue;
    while (i < script.size() && isSpace(script[i])) ++i;
    if (i >= script.size() || std::string_view("(.),;]'\"`").find(script[i]) != std::string_view::npos) return true;
  }
  return false;
}

// Browsers read a backslash in a web address as a slash.
void backslashesAsSlashes(std::string& text) {
  for (char& c : text)
    if (c == '\\') c = '/';
}

// The text with tabs and line breaks dropped where they split a word or an address: a browser
// strips them from a web address, so "ht<tab>tps://host" is fetched. `removedAt` receives the
// positions in the result where something was dropped.
std::string joinedAddresses(std::string_view text, std::vector<std::size_t>& removedAt) {
  const auto addressChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '/' || c == '.';
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == '\t' || c == '\n' || c == '\r') && !out.empty() && addressChar(out.back())) {
      std::size_t next = i;
      while (next < text.size() && (text[next] == '\t' || text[next] == '\n' || text[next] == '\r')) ++next;
      if (next < text.size() && addressChar(text[next])) {
        removedAt.push_back(out.size());
        i = next - 1;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

// The script of each javascript: address in `text`, one per line: such an address is script too.
std::string javascriptAddresses(const std::string& text) {
  constexpr std::string_view scheme = "javascript:";
  const std::string lower = lowered(text);
  std::string script;
  for (std::size_t at = lower.find(scheme); at != std::string::npos; at = lower.find(scheme, at + 1)) {
    // The address runs to the quote that opened it, or to a blank when unquoted.
    const char quote = at > 0 && (text[at - 1] == '"' || text[at - 1] == '\'') ? text[at - 1] : ' ';
    const std::size_t from = at + scheme.size();
    std::size_t end = from;
    while (end < text.size() && text[end] != quote && text[end] != '>' && !(quote == ' ' && isSpace(text[end]))) ++end;
    script += text.substr(from, end - from) + "\n";
  }
  return script;
}

}  // namespace

std::vector<Violation> violations(std::string_view html) {
  EscapeDecoding::Decoded decoded = EscapeDecoding::document(withoutComments(html));
  std::string& text = decoded.text;
  backslashesAsSlashes(text);
  backslashesAsSlashes(decoded.script);
  decoded.script += javascriptAddresses(text);

  std::vector<Violation> found;
  std::set<std::string> seen;
  const auto add = [&](std::string kind, std::string_view reference) {
    Violation v{std::move(kind), std::string(GraphicsText::prefixGraphemes(reference, maxReference))};
    if (seen.insert(v.kind + "|" + v.reference).second) found.push_back(std::move(v));
  };

  const auto check = [&](const std::string& url) {
    if (url == GraphicsPrompt::gsapScriptURL) return;
    const std::string host = hostOf(url);
    if (host.empty()) return;
    if (std::string kind = kindOf(url, host); !kind.empty()) add(std::move(kind), url);
  };
  const auto regionAt = [&decoded](std::size_t at) {
    const auto inside = [at](const std::vector<EscapeDecoding::Decoded::Range>& ranges) {
      auto after = std::upper_bound(ranges.begin(), ranges.end(), at,
                                    [](std::size_t t, const EscapeDecoding::Decoded::Range& r) { return t < r.start; });
      return after != ranges.begin() && at < std::prev(after)->start + std::prev(after)->length;
    };
    if (inside(decoded.scriptRanges)) return Region::script;
    return inside(decoded.styleRanges) ? Region::style : Region::markup;
  };
  for (const Found& url : urls(text, regionAt)) check(url.url);
  std::vector<std::size_t> removedAt;
  const std::string joined = joinedAddresses(text, removedAt);
  if (!removedAt.empty()) {
    // Only split web addresses are taken here, whatever their region.
    for (const Found& url : urls(joined, [](std::size_t) { return Region::script; })) {
      const bool split = std::any_of(removedAt.begin(), removedAt.end(),
                                     [&](std::size_t at) { return at > url.start && at <= url.headEnd; });
      if (url.webScheme && split) check(url.url);
    }
  }
  std::vector<std::string> scripts, pages;
  dataDocuments(text, scripts, pages);
  for (const auto& uri : scripts) add("external script", uri);
  for (const auto& uri : pages) add("external resource", uri);

  if (lowered(text).find("@import") != std::string::npos) add("CSS @import", "@import in the composition's stylesheet");

  struct Call {
    std::string_view name, next, reference;
    bool constructed;
  };
  static constexpr std::array<Call, 9> calls{{
      {"fetch", "(", "fetch(", false},
      {"XMLHttpRequest", "", "XMLHttpRequest", false},
      {"importScripts", "(", "importScripts(", false},
      {"sendBeacon", "", "navigator.sendBeacon", false},
      {"WebSocket", "", "new WebSocket", true},
      {"EventSource", "", "new EventSource", true},
      {"import", "(", "import(", false},
      {"RTCPeerConnection", "", "RTCPeerConnection", false},
      {"webkitRTCPeerConnection", "", "webkitRTCPeerConnection", false},
  }};
  for (const Call& call : calls) {
    // Outside script only the call as written counts: "fetch (and drop)" is prose.
    const bool hit = call.constructed ? containsNew(text, call.name)
                                      : containsCall(text, call.name, call.next, false) ||
                                            containsCall(decoded.script, call.name, call.next, true);
    const bool named = call.name != "import" && namesInScript(decoded.script, call.name);
    if (hit || named) add("runtime network call", call.reference);
  }
  return found;
}

std::string failureReason(const std::vector<Violation>& violations) {
  if (violations.empty()) return {};
  const std::size_t n = violations.size();
  std::string text = "the composition loads " + std::to_string(n) + " external resource" + (n == 1 ? "" : "s") + " — ";
  for (std::size_t i = 0; i < n && i < 3; ++i) {
    if (i > 0) text += "; ";
    text += violations[i].description();
  }
  if (n >= 4) text += " (+" + std::to_string(n - 3) + " more)";
  return text +
         ". Graphics must render with no network: use the local font families Kestrane listed, "
         "or embed a face as a data: URI.";
}

}  // namespace kestrane::ExternalResourceGate
