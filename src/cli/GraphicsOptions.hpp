#pragma once
// The visual-ideas and graphics choices shared by `cut` and `recut`.
#include <filesystem>
#include <optional>
#include <string>

#include "OptionParsing.hpp"
#include "kestrane/model/BrandSpec.hpp"
#include "kestrane/model/PipelineSettings.hpp"

namespace kestrane::cli {

struct GraphicsOptions {
  bool ideas = false;              // ask the AI for visual ideas
  std::optional<BrandSpec> brand;  // read when the options are parsed
  bool graphics = false;           // make motion graphics
  bool noGraphics = false;         // brand spec and placement only, nothing authored
  std::optional<std::string> notes;
  std::optional<int> concurrency;
};

// The options' lines of the usage texts (a literal, so the usage texts can take it in place).
#define KESTRANE_GRAPHICS_USAGE                                                                    \
  "  --ideas                  ask the AI for visual ideas (visual-ideas.md in the package)\n"      \
  "  --graphics-density D     sparse, moderate (default), heavy or fullyAnimated\n"                \
  "  --graphics-format F      fullScreen, overlays or mix (default)\n"                             \
  "  --graphics-limit N       make at most N graphics (1 to 1000), whatever the density\n"         \
  "  --brand FILE             the brand: a brand JSON, or a session file to take it from\n"        \
  "  --graphics               make motion graphics of the visual ideas (assets/ in the package)\n" \
  "  --no-graphics            brand spec only: no graphics authored, earlier ones placed again\n"  \
  "  --graphics-notes TEXT    the direction for this video's graphics\n"                           \
  "  --graphics-concurrency N make up to N graphics at once (1 to 8, default 3)\n"

// The brand of a brand file: a brand object as sessions store it, or a whole session file
// whose brand is taken. Throws UsageError.
BrandSpec readBrandFile(const std::filesystem::path& file);

GraphicsDensity parseDensity(const std::string& value);
GraphicsFormat parseFormat(const std::string& value);
int parseGraphicsLimit(const std::string& value);
int parseGraphicsConcurrency(const std::string& value);

// "--graphics-density", "--graphics-format" and "--graphics-limit" into the cut or re-cut
// choices, "--brand" and "--ideas" into `o`.
template <class Choices>
void addGraphicsChoices(Valued& valued, Flags& flags, GraphicsOptions& o, Choices& choices) {
  valued.insert({
      {"--graphics-density", [&choices](const std::string& v) { choices.graphicsDensity = parseDensity(v); }},
      {"--graphics-format", [&choices](const std::string& v) { choices.graphicsFormat = parseFormat(v); }},
      {"--graphics-limit", [&choices](const std::string& v) { choices.graphicsLimit = parseGraphicsLimit(v); }},
      {"--brand",
       [&o](const std::string& v) {
         if (v.empty()) throw UsageError("--brand takes a file.");
         o.brand = readBrandFile(v);
       }},
  });
  valued.insert({
      {"--graphics-notes", [&o](const std::string& v) { o.notes = v; }},
      {"--graphics-concurrency", [&o](const std::string& v) { o.concurrency = parseGraphicsConcurrency(v); }},
  });
  flags.insert({"--ideas", [&o] { o.ideas = true; }});
  flags.insert({"--graphics", [&o] { o.graphics = true; }});
  flags.insert({"--no-graphics", [&o] { o.noGraphics = true; }});
}

}  // namespace kestrane::cli
