#pragma once
// Reading a brand's colours off its website: the front page and a few linked stylesheets are
// scanned for colours in places that carry brand meaning, weighted and ranked into a palette.
// Nothing here throws; every failure gives less.
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::BrandProbe {

// Every colour here is "#" and six lower-case hex digits.
struct Palette {
  std::vector<std::string> accents;  // 0 to 4, strongest first
  std::optional<std::string> ink;
  std::optional<std::string> paper;
  std::map<std::string, std::string> provenance;  // accent to the label of its strongest use

  bool isEmpty() const { return accents.empty() && !ink && !paper; }
  // "#ff5500, #111111 (dark), #fafafa (light) — read from host"; nothing without colours.
  std::optional<std::string> colorsField(const std::optional<std::string>& siteHost) const;
  friend bool operator==(const Palette&, const Palette&) = default;
};

struct ColorHit {
  std::string hex;
  double weight = 0;
  std::string source;
  friend bool operator==(const ColorHit&, const ColorHit&) = default;
};

enum class Target { page, stylesheet };
// Gives the body of a URL as text, or nothing.
using Fetch = std::function<std::optional<std::string>(const std::string& url, double timeout, Target)>;

// The production fetch: http and https, 4 MiB at most, UTF-8 else Latin-1. Stylesheets (which
// the page, not the user, names) never reach this computer or private addresses; tests that
// serve pages on loopback pass allowLoopbackStylesheets. A triggered stop ends a fetch under way
// and gives nothing.
Fetch networkFetcher(bool allowLoopbackStylesheets = false, std::stop_token stop = {});

// Nothing once `stop` is triggered: no further page is asked for.
std::optional<Palette> palette(std::string_view site, double timeout, int maxStylesheets,
                               const Fetch& fetch = networkFetcher(), std::stop_token stop = {});
std::optional<std::string> normalizedURL(std::string_view site);
// The host of the normalized URL as the user should read it: no scheme, port, user or password.
std::optional<std::string> siteHost(std::string_view site);

std::vector<ColorHit> colorHitsInHTML(std::string_view html);
std::vector<ColorHit> colorHitsInCSS(std::string_view css, double weightScale);
double customPropertyWeight(std::string_view name);
std::vector<std::string> stylesheetURLs(std::string_view html, std::string_view base);
std::vector<std::string> colorValues(std::string_view text);
std::optional<std::string> normalizeHex(std::string_view text);
std::optional<std::string> hexFromRGBFunction(std::string_view text);
std::optional<Palette> rank(const std::vector<ColorHit>& hits);
std::optional<std::string> attribute(std::string_view name, std::string_view tag);

}  // namespace kestrane::BrandProbe
