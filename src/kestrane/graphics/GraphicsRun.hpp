#pragma once
// One motion-graphics run: the ideas of a cut, cut to the budget, authored by the model and
// rendered into the package's assets folder. The reference ideas (the first overlay and the
// first full-frame one) go first and alone, so every other idea is authored against the house
// style they set; the rest run a bounded number at a time. No idea's failure stops the run.
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/graphics/GraphicsCanvas.hpp"
#include "kestrane/graphics/LocalFonts.hpp"
#include "kestrane/graphics/VisualIdea.hpp"
#include "kestrane/model/BrandSpec.hpp"
#include "kestrane/model/ComponentVocabulary.hpp"
#include "kestrane/model/GraphicsAsset.hpp"

namespace kestrane::GraphicsRun {

inline constexpr const char* compositionsFolder = ".compositions";

struct Options {
  int maxAssets = 1;    // at least 1
  int concurrency = 1;  // 1 to 8
  static Options clamped(int maxAssets, int concurrency);
};

struct Progress {
  enum class Phase { authoring, rendering, finished, failed };
  int index = 0;  // 1-based, in time order
  int total = 0;
  std::string name;
  Phase phase = Phase::authoring;
  // "Motion graphics 2 of 5 — Retention curve (rendering)"
  std::string label() const;
};

// The model's reply for one idea: text that should hold one HTML composition.
using Author = std::function<std::string(const VisualIdea&, const std::string& prompt)>;
// Writes the movie for one composition at the destination; returns notes for the warnings.
using Renderer = std::function<std::vector<std::string>(const std::string& html, const VisualIdea&,
                                                        const GraphicsCanvas&, const std::filesystem::path&)>;

struct Request {
  std::vector<VisualIdea> ideas;
  std::optional<BrandSpec> brand;
  std::optional<std::string> graphicsNotes;
  std::string projectName;
  GraphicsCanvas canvas;
  std::filesystem::path assetsDir;
  Options options;
  std::optional<ComponentVocabulary> vocabulary;  // inherited from the brand's earlier video
  std::optional<std::vector<LocalFonts::ResolvedFont>> fonts;
  bool countFromLimit = false;  // maxAssets is the user's graphics limit, not the density's count
};

struct Result {
  std::vector<GraphicsAsset> assets;  // in time order, rendered and failed
  std::vector<std::string> warnings;
  double totalSeconds = 0;
  std::optional<ComponentVocabulary> vocabulary;
  std::vector<LocalFonts::ResolvedFont> fonts;

  int rendered() const;
  int failed() const;
};

// The model's reply with any code fence and any prose before the document removed.
std::string sanitize(std::string_view reply);

// Never throws for an idea's failure; a stop ends it with Cancelled once the running renders
// have returned.
Result run(const Request& request, const Author& author, const Renderer& renderer,
           const std::function<void(const Progress&)>& progress = {}, std::stop_token stop = {});

struct ReadmeInput {
  std::string projectName;
  std::vector<GraphicsAsset> assets;
  std::vector<VisualIdea> unrendered;
  std::optional<BrandSpec> brand;
  std::optional<std::string> graphicsNotes;
  GraphicsCanvas canvas;
  std::set<std::string> compositions;  // asset file names whose composition was kept
  std::optional<ComponentVocabulary> vocabulary;
  bool inheritedVocabulary = false;
  std::vector<LocalFonts::ResolvedFont> fonts;
  double totalSeconds = 0;
  bool countFromLimit = false;  // the budget was the user's graphics limit
};

// The text of assets/README.md.
std::string readme(const ReadmeInput& in);

}  // namespace kestrane::GraphicsRun
