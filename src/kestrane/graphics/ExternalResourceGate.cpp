#include "kestrane/graphics/ExternalResourceGate.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <optional>
#include <set>

#include "kestrane/graphics/EscapeDecoding.hpp"
#include "kestrane/graphics/GraphicsPrompt.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::ExternalResourceGate {
namespace {

constexpr std::size_t maxReference = 120;
// How often a long scan looks for a stop.
constexpr std::size_t stopStride = 64 * 1024;

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

bool endsURL(char c) { return isSpace(c) || c == '"' || c == '\'' || c == '`' || c == ')' || c == '<' || c == '>'; }

bool isSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

std::size_t urlEnd(std::string_view text, std::size_t from) {
  while (from < text.size() && !endsURL(text[from])) ++from;
  return from;
}

// A host as a browser reads it: percent escapes resolved, the fullwidth forms of ASCII read as
// ASCII and the ideographic and halfwidth full stops as dots, lower-cased. So "%2e", "\uFF0E"
// and "\uFF11" are ".", "." and "1".
std::string browserHost(std::string_view authority) {
  const std::string decoded = EscapeDecoding::percentDecoded(authority);
  std::string host;
  host.reserve(decoded.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(decoded[k]); };
    if (i + 2 < decoded.size() && (byte(i) == 0xEF || byte(i) == 0xE3)) {
      const unsigned cp = ((byte(i) & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      const bool fullwidth = cp >= 0xFF01 && cp <= 0xFF5E;
      if (fullwidth || cp == 0xFF61 || cp == 0x3002) {
        host.push_back(fullwidth ? static_cast<char>(cp - 0xFF01 + 0x21) : '.');
        i += 2;
        continue;
      }
    }
    host.push_back(decoded[i]);
  }
  return lowered(host);
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
  return browserHost(authority);
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

// One pass: the next ":" and the next "//" are each looked for again only once passed, and an
// address's end only once it is taken.
template <typename RegionAt>
std::vector<Found> urls(std::string_view text, RegionAt regionAt) {
  std::vector<Found> found;
  std::size_t nextColon = text.find(':'), nextSlashes = text.find("//");
  std::size_t nextCheck = stopStride;
  std::size_t at = 0;
  while (at < text.size()) {
    if (at >= nextCheck) {
      checkpoint();
      nextCheck = at + stopStride;
    }
    if (nextColon < at) nextColon = text.find(':', at);
    if (nextSlashes < at) nextSlashes = text.find("//", at);
    const std::size_t colon = nextColon, slashes = nextSlashes;
    if (colon == std::string_view::npos && slashes == std::string_view::npos) break;
    if (colon < slashes) {
      std::size_t start = colon;
      while (start > 0 && isSchemeChar(text[start - 1])) --start;
      const std::string scheme = lowered(text.substr(start, colon - start));
      const bool absolute = !scheme.empty() && std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                            (isWebScheme(scheme) || text.substr(colon + 1).starts_with("//"));
      const std::size_t end = absolute ? urlEnd(text, colon + 1) : colon + 1;
      if (end > colon + 1) {
        found.push_back(
            {start, slashesEnd(text, colon + 1), std::string(text.substr(start, end - start)), isWebScheme(scheme)});
        at = end;
      } else {
        at = colon + 1;
      }
      continue;
    }
    const char before = slashes == 0 ? ' ' : text[slashes - 1];
    const bool loose = isSpace(before) || before == ',';
    const bool opens = loose || before == '"' || before == '\'' || before == '`' || before == '(' || before == '=';
    if (opens) {
      std::size_t hostEnd = slashes + 2;
      while (hostEnd < text.size() && !endsURL(text[hostEnd]) && text[hostEnd] != '/' && text[hostEnd] != '?' &&
             text[hostEnd] != '#')
        ++hostEnd;
      const std::string host = hostOf(text.substr(slashes, hostEnd - slashes));
      const Region region = regionAt(slashes);
      const bool anyHost = region == Region::style || (region == Region::markup && !loose);
      const bool hostLike = host.find('.') != std::string::npos || host.find(':') != std::string::npos ||
                            host == "localhost" || isNumericHost(host);
      if (!host.empty() && (anyHost || hostLike)) {
        const std::size_t end = urlEnd(text, hostEnd);
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

// A browser drops every tab and line break from an address before reading it.
std::string withoutTabsAndLineBreaks(std::string_view address) {
  std::string out;
  out.reserve(address.size());
  for (char c : address)
    if (c != '\t' && c != '\n' && c != '\r') out.push_back(c);
  return out;
}

struct DataFinds {
  std::vector<std::string> scripts, pages, sheets;  // the addresses, and the sheets decoded
};

// data: URIs carry their content inline, so images are fine; a script or a page inside one
// is code the scan cannot read. A stylesheet inside one is decoded to be read as any other.
DataFinds dataDocuments(std::string_view text) {
  DataFinds out;
  const std::string lower = lowered(text);
  std::size_t next = 0;
  for (std::size_t at = lower.find("data:"); at != std::string::npos; at = lower.find("data:", next)) {
    checkpoint();
    next = at + 5;
    std::size_t type = at + 5;
    while (type < lower.size() && isSpace(lower[type])) ++type;
    const std::string_view rest = std::string_view(lower).substr(type);
    const bool script = rest.starts_with("text/javascript") || rest.starts_with("application/javascript") ||
                        rest.starts_with("text/ecmascript") || rest.starts_with("application/ecmascript");
    const bool page = rest.starts_with("text/html") || rest.starts_with("application/xhtml");
    if (rest.starts_with("text/css")) {
      std::size_t end = type;
      while (end < text.size() && std::string_view("\"'<>").find(text[end]) == std::string_view::npos) ++end;
      next = std::max(next, end);
      const std::string_view uri = text.substr(type, end - type);
      const std::size_t comma = uri.find(',');
      if (comma == std::string_view::npos) continue;
      const std::string body = EscapeDecoding::percentDecoded(withoutTabsAndLineBreaks(uri.substr(comma + 1)));
      const bool base64 = lowered(uri.substr(0, comma)).find(";base64") != std::string::npos;
      out.sheets.push_back(base64 ? EscapeDecoding::base64Decoded(body) : body);
    } else if (script || page) {
      const std::size_t end = urlEnd(text, at);
      next = std::max(next, end);
      (script ? out.scripts : out.pages).emplace_back(text.substr(at, end - at));
    }
  }
  return out;
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
  for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
    checkpoint();
    if (callAt(text, at, name, next, spaced)) return true;
  }
  return false;
}

bool containsNew(std::string_view text, std::string_view name) {
  for (std::size_t at = text.find("new"); at != std::string_view::npos; at = text.find("new", at + 1)) {
    checkpoint();
    if (!callAt(text, at, "new", "")) continue;
    std::size_t i = at + 3;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i > at + 3 && callAt(text, i, name, "")) return true;
  }
  return false;
}

// In script, a network API named as a value: called, its members read, passed on, or quoted
// for a computed lookup (window["fetch"]). Prose in a script string ("we fetch data", "see the
// fetch (x) guide", ["dog", "fetch"]) is not: the script's plain string text is blanked.
bool namesInScript(std::string_view script, std::string_view name) {
  for (std::size_t at = script.find(name); at != std::string_view::npos; at = script.find(name, at + 1)) {
    checkpoint();
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

// The script of each javascript: address in `text`: such an address is script too.
std::vector<std::string> javascriptAddresses(const std::string& text) {
  constexpr std::string_view scheme = "javascript:";
  const std::string lower = lowered(text);
  std::vector<std::string> scripts;
  std::size_t next = 0;
  for (std::size_t at = lower.find(scheme); at != std::string::npos; at = lower.find(scheme, next)) {
    checkpoint();
    // The address runs to the quote that opened it, or to a blank when unquoted.
    const char quote = at > 0 && (text[at - 1] == '"' || text[at - 1] == '\'') ? text[at - 1] : ' ';
    const std::size_t from = at + scheme.size();
    std::size_t end = from;
    while (end < text.size() && text[end] != quote && text[end] != '>' && !(quote == ' ' && isSpace(text[end]))) ++end;
    scripts.push_back(text.substr(from, end - from));
    next = std::max(end, from);
  }
  return scripts;
}

constexpr int maxDepth = 4;

struct Collector {
  std::vector<Violation> found;
  std::set<std::string> seen;

  // Cutting a reference to whole characters is costly and a reply may hold thousands of them,
  // so each one looks for a stop first.
  void add(std::string kind, std::string_view reference) {
    checkpoint();
    Violation v{std::move(kind), std::string(GraphicsText::prefixGraphemes(reference, maxReference))};
    if (seen.insert(v.kind + "|" + v.reference).second) found.push_back(std::move(v));
  }
};

// Scans one document; what it holds as documents of their own (a frame's srcdoc, a stylesheet
// or a script in an address) is scanned as the browser would read it, down to `maxDepth`.
void scan(std::string_view html, int depth, Collector& out) {
  const auto add = [&out](std::string kind, std::string_view reference) { out.add(std::move(kind), reference); };
  const auto nested = [&](const std::string& document, std::string_view whole) {
    if (depth + 1 > maxDepth) return add("external resource", whole);
    scan(document, depth + 1, out);
  };

  EscapeDecoding::Decoded decoded = EscapeDecoding::document(html);
  std::string& text = decoded.text;
  backslashesAsSlashes(text);
  backslashesAsSlashes(decoded.script);
  std::vector<std::size_t> removedAt;
  const std::string joined = joinedAddresses(text, removedAt);
  // Read where tabs and line breaks are dropped, as the browser drops them from "java\tscript:".
  const std::vector<std::string> javascript = javascriptAddresses(joined);
  for (const auto& script : javascript) decoded.script += script + "\n";

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
  if (!removedAt.empty()) {
    // Only split web addresses are taken here, whatever their region.
    for (const Found& url : urls(joined, [](std::size_t) { return Region::script; })) {
      const auto removed = std::upper_bound(removedAt.begin(), removedAt.end(), url.start);
      const bool split = removed != removedAt.end() && *removed <= url.headEnd;
      if (url.webScheme && split) check(url.url);
    }
  }
  const DataFinds data = dataDocuments(text);
  for (const auto& uri : data.scripts) add("external script", uri);
  for (const auto& uri : data.pages) add("external resource", uri);
  for (const auto& unread : decoded.unread) add("external resource", unread);
  for (const auto& sheet : data.sheets) nested("<style>" + sheet + "</style>", "data:text/css," + sheet);

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

  for (const auto& document : decoded.documents) nested(document, document);
  for (const auto& script : javascript) {
    // The browser runs the address's script with its percent escapes resolved.
    if (script.find('%') != std::string::npos)
      nested("<script>" + EscapeDecoding::percentDecoded(withoutTabsAndLineBreaks(script)) + "</script>",
             "javascript:" + script);
  }
}

}  // namespace

std::vector<Violation> violations(std::string_view html, std::stop_token stop) {
  // The scan's loops look for a stop through the thread's scope; a caller without a token of
  // its own keeps whatever scope it runs in.
  std::optional<StopScope> scope;
  if (stop.stop_possible()) scope.emplace(std::move(stop));
  Collector collector;
  scan(html, 0, collector);
  return std::move(collector.found);
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
