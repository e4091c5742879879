#include "kestrane/graphics/VisualIdeas.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "kestrane/graphics/GraphicsChoices.hpp"
#include "kestrane/graphics/GraphicsText.hpp"

namespace kestrane {

namespace VisualIdeas {

namespace {

using GraphicsText::startsWith;
using GraphicsText::trimBlanks;
using GraphicsText::trimSpace;

// A value ends at an empty line, another bullet, a heading or a rule.
bool endsValue(std::string_view line) {
  const std::string_view t = trimSpace(line);
  return t.empty() || startsWith(t, "- **") || startsWith(t, "## ") || startsWith(t, "---");
}

std::string_view unquoted(std::string_view v, std::string_view open, std::string_view close) {
  if (v.size() >= open.size() + close.size() && startsWith(v, open) && v.ends_with(close) &&
      GraphicsText::graphemeCount(v) > 1) {
    return v.substr(open.size(), v.size() - open.size() - close.size());
  }
  return v;
}

std::optional<VisualIdea> makeIdea(std::string_view heading, std::string_view body) {
  const std::string_view h = trimBlanks(heading);
  const std::size_t close = h.find(']');
  if (!startsWith(h, "[") || close == std::string_view::npos) return std::nullopt;
  const auto at = seconds(h.substr(1, close - 1));
  const std::string name = GraphicsText::withoutControls(trimBlanks(h.substr(close + 1)));
  if (!at || trimBlanks(name).empty()) return std::nullopt;

  VisualIdea idea;
  idea.generationPrompt = GraphicsText::withoutControls(field("Generation prompt", body));
  if (idea.generationPrompt.empty()) return std::nullopt;
  idea.placementSeconds = *at;
  idea.name = std::string(trimBlanks(name));
  idea.type = GraphicsText::withoutControls(field("Type", body));
  idea.onScreen = GraphicsText::withoutControls(field("On screen", body));
  idea.whyHere = GraphicsText::withoutControls(field("Why here", body));
  idea.device = GraphicsText::withoutControls(field("Device", body));
  idea.anchorText = GraphicsText::withoutControls(anchor(body));
  idea.kind = kind(idea.type, idea.generationPrompt, idea.onScreen);
  idea.durationSeconds = duration(idea.generationPrompt);
  idea.leadInSeconds = lead("Lead in", body);
  idea.leadOutSeconds = lead("Lead out", body);
  idea.estimatedPlacementSeconds = idea.placementSeconds;
  idea.estimatedDurationSeconds = idea.durationSeconds;
  idea.placementSource = PlacementSource::estimated;
  return idea;
}

bool isAsciiDigitOrDot(char c) { return (c >= '0' && c <= '9') || c == '.'; }

}  // namespace

std::vector<VisualIdea> parse(std::string_view markdown) {
  std::vector<VisualIdea> ideas;
  std::optional<std::string_view> heading;
  std::string body;
  auto close = [&] {
    if (!heading) return;
    if (auto idea = makeIdea(*heading, body)) ideas.push_back(std::move(*idea));
  };
  for (std::string_view line : GraphicsText::lines(markdown)) {
    if (startsWith(line, "## ")) {
      close();
      heading = line.substr(3);
      body.clear();
    } else if (heading) {
      if (!body.empty()) body += '\n';
      body.append(line);
    }
  }
  close();
  return ideas;
}

std::vector<VisualIdea> constrain(std::vector<VisualIdea> ideas, GraphicsFormat format) {
  if (const auto forced = GraphicsChoices::forcedKind(format)) {
    for (VisualIdea& idea : ideas) idea.kind = *forced;
  }
  return ideas;
}

namespace {
std::string colonsToHyphens(std::string text) {
  std::replace(text.begin(), text.end(), ':', '-');
  return text;
}
}  // namespace

std::string timecodeSlug(double s) { return colonsToHyphens(timecode(s)); }
std::string preciseTimecodeSlug(double s) { return colonsToHyphens(preciseTimecode(s)); }

std::string slug(std::string_view text) {
  const std::string lowered = GraphicsText::lower(text);
  std::vector<std::string> pieces;
  std::string piece;
  std::size_t pos = 0;
  while (pos < lowered.size()) {
    const std::size_t at = pos;
    if (GraphicsText::isAlphanumeric(GraphicsText::next(lowered, pos))) {
      piece.append(lowered, at, pos - at);
    } else if (!piece.empty()) {
      pieces.push_back(std::move(piece));
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));

  std::string joined;
  for (const std::string& p : pieces) joined += (joined.empty() ? "" : "-") + p;
  if (joined.empty()) return "graphic";
  constexpr std::size_t limit = 43;
  if (GraphicsText::graphemeCount(joined) < limit) return joined;
  std::string taken;
  for (const std::string& p : pieces) {
    std::string longer = taken.empty() ? p : taken + "-" + p;
    if (GraphicsText::graphemeCount(longer) >= limit) break;
    taken = std::move(longer);
  }
  if (!taken.empty()) return taken;
  return std::string(GraphicsText::prefixGraphemes(joined, limit - 1));
}

std::optional<double> seconds(std::string_view timecode) {
  const std::size_t first = timecode.find_first_not_of("~ ");
  if (first == std::string_view::npos) return std::nullopt;
  timecode = timecode.substr(first, timecode.find_last_not_of("~ ") - first + 1);

  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= timecode.size();) {
    std::size_t colon = timecode.find(':', start);
    if (colon == std::string_view::npos) colon = timecode.size();
    if (colon > start) parts.push_back(timecode.substr(start, colon - start));
    start = colon + 1;
  }
  if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
  const auto last = GraphicsText::number(parts.back());
  if (!last || *last < 0) return std::nullopt;
  double total = *last;
  double unit = 60;
  for (std::size_t i = parts.size() - 1; i-- > 0; unit *= 60) {
    const auto whole = GraphicsText::wholeNumber(parts[i]);
    if (!whole || *whole < 0) return std::nullopt;
    total += static_cast<double>(*whole) * unit;
  }
  // No real cut is a day long; such a time is a corrupt heading, not a placement.
  if (!std::isfinite(total) || total > 86400) return std::nullopt;
  return total;
}

std::string field(std::string_view key, std::string_view body) {
  const std::string marker = "**" + std::string(key) + ":**";
  const auto bodyLines = GraphicsText::lines(body);
  for (std::size_t i = 0; i < bodyLines.size(); ++i) {
    const std::string_view line = trimSpace(bodyLines[i]);
    const std::size_t at = line.find(marker);
    if (at == std::string_view::npos) continue;
    std::string value(trimBlanks(line.substr(at + marker.size())));
    for (std::size_t j = i + 1; j < bodyLines.size() && !endsValue(bodyLines[j]); ++j) {
      value += ' ';
      value.append(trimBlanks(bodyLines[j]));
    }
    std::string_view v = trimSpace(value);
    v = unquoted(v, "\"", "\"");
    v = unquoted(v, "\u201C", "\u201D");
    return std::string(trimSpace(v));
  }
  return {};
}

std::string anchor(std::string_view body) {
  for (std::string_view key : {"Anchor", "Anchor line", "Transcript anchor"}) {
    std::string value = field(key, body);
    if (!value.empty()) return value;
  }
  return {};
}

double lead(std::string_view key, std::string_view body) {
  const std::string value = field(key, body);
  std::string collected;
  std::size_t pos = 0;
  while (pos < value.size()) {
    const std::size_t at = pos;
    const char32_t cp = GraphicsText::next(value, pos);
    if (GraphicsText::isNumeric(cp) || cp == U'.') {
      collected.append(value, at, pos - at);
    } else if (!collected.empty()) {
      break;
    }
  }
  const auto n = GraphicsText::number(collected);
  if (!n || *n <= 0) return 0;
  return std::min(*n, 3.0);
}

GraphicKind kind(std::string_view type, std::string_view prompt, std::string_view onScreen) {
  const std::string text = GraphicsText::lower(std::string(prompt) + " " + std::string(onScreen));
  for (std::string_view word : {"transparent", "alpha channel", "overlay on", "for overlay"}) {
    if (text.find(word) != std::string::npos) return GraphicKind::alphaOverlay;
  }
  const std::string t = GraphicsText::lower(type);
  for (std::string_view word : {"lower third", "lower-third", "caption", "overlay"}) {
    if (t.find(word) != std::string::npos) return GraphicKind::alphaOverlay;
  }
  return GraphicKind::fullFrame;
}

double duration(std::string_view prompt) {
  const std::string text = GraphicsText::lower(prompt);
  double found = 5.0;
  for (std::size_t at = text.find("second"); at != std::string::npos; at = text.find("second", at + 1)) {
    if (at == 0 || (text[at - 1] != ' ' && text[at - 1] != '-')) continue;
    std::size_t start = at - 1;
    while (start > 0 && isAsciiDigitOrDot(text[start - 1])) --start;
    const auto n = GraphicsText::number(std::string_view(text).substr(start, at - 1 - start));
    if (n && *n > 0) {
      found = *n;
      break;
    }
  }
  return std::clamp(found, 0.5, 30.0);
}

}  // namespace VisualIdeas

std::string VisualIdea::timecode() const { return VisualIdeas::timecode(placementSeconds); }
std::string VisualIdea::preciseTimecode() const { return VisualIdeas::preciseTimecode(placementSeconds); }

std::string VisualIdea::fileName() const {
  return "@" + std::string(isMeasured() ? "" : "~") + VisualIdeas::preciseTimecodeSlug(placementSeconds) + " " +
         VisualIdeas::slug(name) + " (" + std::string(GraphicsChoices::fileTag(kind)) + ")." +
         std::string(GraphicsChoices::fileExtension(kind));
}

}  // namespace kestrane
