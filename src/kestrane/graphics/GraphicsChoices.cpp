#include "kestrane/graphics/GraphicsChoices.hpp"

#include <array>
#include <cmath>

#include <fmt/format.h>

#include "kestrane/graphics/GraphicsText.hpp"

namespace kestrane::GraphicsChoices {

namespace {

constexpr std::array<double, 4> kShare{0.12, 0.27, 0.65, 1.0};
constexpr std::array<int, 4> kFloor{2, 3, 4, 4};

std::size_t at(auto value) { return static_cast<std::size_t>(value); }

// Beats estimated from the cut's length; a non-finite length counts as 0.
long long estimatedBeats(double cutSeconds) {
  const double seconds = std::isfinite(cutSeconds) && cutSeconds > 0 ? cutSeconds : 0;
  return std::max(1LL, GraphicsText::roundedClamped(seconds / 3.0, 0, 1e9));
}

// Lower case without blanks, "-" and "_".
std::string normalised(std::string_view text) {
  std::string out;
  for (char c : GraphicsText::lower(text)) {
    if (c != '-' && c != '_' && c != ' ') out += c;
  }
  return out;
}

}  // namespace

std::string_view label(GraphicsDensity density) {
  static constexpr std::array<std::string_view, 4> texts{"Sparse", "Moderate", "Heavy", "Fully animated"};
  return texts[at(density)];
}

std::string_view hint(GraphicsDensity density) {
  static constexpr std::array<std::string_view, 4> texts{
      "The hook and a couple of key moments — the rest plays straight.",
      "Visual flair through the middle: the beats that carry the argument.", "Most beats carry a visual.",
      "Every line has a visual. Longest run, biggest bill."};
  return texts[at(density)];
}

std::string cadenceHint(GraphicsDensity density) {
  const int cap = densityCap(density);
  if (density == GraphicsDensity::fullyAnimated) {
    return fmt::format("a visual on every line, up to {} in one run", cap);
  }
  const long long every = GraphicsText::roundedClamped(3.0 / kShare[at(density)], 0, 1e6);
  return fmt::format("roughly one visual every {}s of the finished cut, up to {} in one run", every, cap);
}

int uncappedCount(GraphicsDensity density, double cutSeconds, std::optional<int> beats) {
  const long long n = beats ? *beats : estimatedBeats(cutSeconds);
  const long long wanted = GraphicsText::roundedClamped(kShare[at(density)] * static_cast<double>(n), -1e12, 1e12);
  return static_cast<int>(std::min(n, std::max<long long>(kFloor[at(density)], wanted)));
}

std::optional<std::string> ceilingNote(GraphicsDensity density, double cutSeconds, std::optional<int> beats) {
  const int uncapped = uncappedCount(density, cutSeconds, beats);
  const int capped = assetCount(density, cutSeconds, beats);
  if (capped >= uncapped) return std::nullopt;
  return fmt::format(
      "Graphics density \"{}\" on a {}-minute cut works out to {} visuals; this run is capped at {} "
      "(each one is a Claude call plus real frame capture). A graphics limit (--graphics-limit) "
      "makes more in one run.",
      GraphicsText::lower(label(density)), GraphicsText::fixed(cutSeconds / 60, 1), uncapped, capped);
}

std::optional<GraphicsDensity> parseDensity(std::string_view text) {
  const std::string n = normalised(text);
  if (n == "sparse" || n == "light" || n == "minimal") return GraphicsDensity::sparse;
  if (n == "moderate" || n == "medium" || n == "normal" || n == "default") {
    return GraphicsDensity::moderate;
  }
  if (n == "heavy" || n == "dense" || n == "lots") return GraphicsDensity::heavy;
  if (n == "fullyanimated" || n == "full" || n == "animated" || n == "every" || n == "max") {
    return GraphicsDensity::fullyAnimated;
  }
  return std::nullopt;
}

std::string_view label(GraphicsFormat format) {
  static constexpr std::array<std::string_view, 3> texts{"Full-screen only", "Overlays only", "Mix"};
  return texts[at(format)];
}

std::string_view hint(GraphicsFormat format) {
  static constexpr std::array<std::string_view, 3> texts{
      "Every visual replaces the footage for its moment (H.264, opaque, full canvas).",
      "Everything sits on top of you — lower thirds, callouts, panels (ProRes 4444 with alpha).",
      "Kestrane picks per moment: overlays where you're the subject, full-screen where the visual "
      "is."};
  return texts[at(format)];
}

std::string_view ideasDirective(GraphicsFormat format) {
  static constexpr std::array<std::string_view, 3> texts{
      "FORMAT — BINDING: every visual is a FULL-SCREEN graphic that REPLACES the footage for its "
      "moment. Do not propose lower thirds, name tags, corner badges, or anything described as an "
      "overlay on the speaker. Types to use: motion graphic, diagram, screen recording, b-roll.",
      "FORMAT — BINDING: every visual is an ALPHA OVERLAY composited ON TOP of the talking-head "
      "footage. The speaker stays on screen the whole time, so never propose anything that "
      "replaces the frame (no b-roll cutaways, no screen recordings, no opaque full-bleed "
      "scenes). Say \"transparent background\" in each generation prompt.\n\n"
      "\"Overlay\" is a CONTAINER, not a genre, and it does NOT mean \"text in a box\". "
      "Everything in THE BAR above still applies: a mechanism, a system, a built object, a "
      "diagram, a transformation — all of it works as an overlay, composed into the part of the "
      "frame the speaker isn't using. Lower thirds and name tags are the fallback when nothing "
      "better fits, never the default.",
      "FORMAT: mix freely — overlays (lower thirds, callouts, badges) where the speaker should "
      "stay on screen, full-screen pieces where the visual IS the point. Say \"transparent "
      "background\" in the generation prompt of anything meant to sit over the footage."};
  return texts[at(format)];
}

std::optional<GraphicKind> forcedKind(GraphicsFormat format) {
  switch (format) {
    case GraphicsFormat::fullScreen: return GraphicKind::fullFrame;
    case GraphicsFormat::overlays: return GraphicKind::alphaOverlay;
    case GraphicsFormat::mix: break;
  }
  return std::nullopt;
}

bool allows(GraphicsFormat format, GraphicKind kind) {
  const auto forced = forcedKind(format);
  return !forced || *forced == kind;
}

std::optional<GraphicsFormat> parseFormat(std::string_view text) {
  const std::string n = normalised(text);
  if (n == "fullscreen" || n == "full" || n == "fullframe" || n == "opaque") {
    return GraphicsFormat::fullScreen;
  }
  if (n == "overlays" || n == "overlay" || n == "alpha" || n == "alphaoverlay" || n == "alphaoverlays") {
    return GraphicsFormat::overlays;
  }
  if (n == "mix" || n == "mixed" || n == "both" || n == "any") return GraphicsFormat::mix;
  return std::nullopt;
}

std::string_view label(GraphicKind kind) {
  return kind == GraphicKind::alphaOverlay ? "ALPHA overlay (ProRes 4444)" : "full-frame (H.264)";
}
std::string_view fileTag(GraphicKind kind) {
  return kind == GraphicKind::alphaOverlay ? "ALPHA overlay" : "full-frame";
}
std::string_view fileExtension(GraphicKind kind) { return kind == GraphicKind::alphaOverlay ? "mov" : "mp4"; }

}  // namespace kestrane::GraphicsChoices
