#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "graphics/GoldenFile.hpp"
#include "kestrane/graphics/GraphicsRun.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;
using Strings = std::vector<std::string>;

namespace {

VisualIdea idea(double at, std::string name, GraphicKind kind = GraphicKind::alphaOverlay) {
  VisualIdea i;
  i.placementSeconds = at;
  i.estimatedPlacementSeconds = at;
  i.name = std::move(name);
  i.kind = kind;
  i.durationSeconds = 3;
  i.generationPrompt = "a panel";
  return i;
}

const std::string styled =
    "<!doctype html><html><head><style>.panel { font-family: \"Inter\"; color: #ff3366; }"
    "</style></head><body><div class=\"panel\"></div></body></html>";

}  // namespace

TEST(GraphicsRun, ReferencesFirstAndAloneThenABoundedBatchInTimeOrder) {
  kt::ScratchFolder scratch;
  GraphicsRun::Request request;
  request.ideas = {idea(50, "F1", GraphicKind::fullFrame),
                   idea(10, "O1"),
                   idea(30, "Leaky"),
                   idea(40, "O3"),
                   idea(60, "O4"),
                   idea(20, "Prose"),
                   idea(70, "O5")};
  request.projectName = "Demo";
  request.canvas = {64, 36, 30};
  request.assetsDir = scratch.path() / "pkg/assets";
  request.options = GraphicsRun::Options::clamped(6, 2);
  request.fonts = std::vector<LocalFonts::ResolvedFont>{};

  std::mutex mutex;
  Strings authored;
  std::vector<std::pair<std::string, int>> renders;  // name, works running when it started
  std::atomic<int> running{0};
  int most = 0;
  const GraphicsRun::Author author = [&](const VisualIdea& i, const std::string&) -> std::string {
    const int now = ++running;
    {
      std::lock_guard lock(mutex);
      authored.push_back(i.name);
      most = std::max(most, now);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    --running;
    if (i.name == "Prose") return "Sorry, I can't draw that.";
    if (i.name == "Leaky")
      return "```html\n<html><link href=\"https://fonts.googleapis.com/css2?family=Inter\"></html>\n```";
    return "Here it is:\n" + styled;
  };
  const GraphicsRun::Renderer renderer = [&](const std::string&, const VisualIdea& i, const GraphicsCanvas&,
                                             const fs::path& to) {
    kt::writeFile(to.string(), "movie");
    std::lock_guard lock(mutex);
    renders.emplace_back(i.name, running.load());
    return i.name == "O3" ? Strings{"O3: a note"} : Strings{};
  };
  Strings phases;
  const auto result = GraphicsRun::run(request, author, renderer, [&](const GraphicsRun::Progress& p) {
    std::lock_guard lock(mutex);
    phases.push_back(p.label());
  });

  ASSERT_GE(authored.size(), 2u);
  EXPECT_EQ((Strings{authored[0], authored[1]}), (Strings{"O1", "F1"}));
  EXPECT_EQ(authored.size(), 6u);  // O5 is over the budget
  EXPECT_LE(most, 2);
  EXPECT_EQ(phases.front(), "Motion graphics 1 of 6 — O1 (designing)");

  Strings order, failures;
  for (const auto& a : result.assets) {
    order.push_back(a.name);
    failures.push_back(a.failure.value_or(""));
    EXPECT_EQ(a.relativePath.has_value(), !a.failure) << a.name;
  }
  EXPECT_EQ(order, (Strings{"O1", "Prose", "Leaky", "O3", "F1", "O4"}));
  EXPECT_EQ(failures[1], "the design pass didn't return an HTML composition");
  EXPECT_TRUE(failures[2].starts_with(
      "the composition loads 1 external resource — web font https://fonts.googleapis.com/css2?family=Inter."));
  EXPECT_EQ(result.rendered(), 4);
  EXPECT_TRUE(fs::is_regular_file(request.assetsDir / result.assets[0].fileName));
  // The refused composition is kept for inspection; the unreadable reply wrote nothing.
  EXPECT_TRUE(fs::exists(request.assetsDir / ".compositions" /
                         (fs::path(result.assets[2].fileName).stem().string() + ".html")));
  EXPECT_FALSE(fs::exists(request.assetsDir / ".compositions" /
                          (fs::path(result.assets[1].fileName).stem().string() + ".html")));
  ASSERT_TRUE(result.vocabulary);

  ASSERT_GE(result.warnings.size(), 3u);
  EXPECT_EQ(result.warnings.front(),
            "Motion graphics: rendered the first 6 of 7 ideas (limit 6) — the rest are listed in "
            "assets/README.md");
  EXPECT_NE(std::find(result.warnings.begin(), result.warnings.end(), "O3: a note"), result.warnings.end());
  EXPECT_EQ(result.warnings.back(), "Motion graphic failed — Leaky (00:30): " + failures[2]);
  EXPECT_TRUE(fs::is_regular_file(request.assetsDir / "README.md"));

  // No ideas: nothing on disk.
  request.ideas.clear();
  request.assetsDir = scratch.path() / "empty/assets";
  EXPECT_TRUE(GraphicsRun::run(request, author, renderer).assets.empty());
  EXPECT_FALSE(fs::exists(request.assetsDir));
}

// Ideas of one name at one time each get a file of their own, and so does each composition
// kept beside them; ideas that differ only by letter case count as the same name.
TEST(GraphicsRun, SameNamedIdeasWriteFilesOfTheirOwn) {
  kt::ScratchFolder scratch;
  GraphicsRun::Request request;
  request.ideas = {idea(12, "Stat"), idea(12, "Stat"), idea(12, "STAT"), idea(40, "Stat")};
  request.projectName = "Demo";
  request.canvas = {64, 36, 30};
  request.assetsDir = scratch.path() / "assets";
  request.options = GraphicsRun::Options::clamped(8, 3);
  request.fonts = std::vector<LocalFonts::ResolvedFont>{};
  std::mutex mutex;
  Strings written;
  const GraphicsRun::Author author = [&](const VisualIdea&, const std::string&) { return styled; };
  const GraphicsRun::Renderer renderer = [&](const std::string&, const VisualIdea& i, const GraphicsCanvas&,
                                             const fs::path& to) {
    kt::writeFile(to.string(), i.name);
    std::lock_guard lock(mutex);
    written.push_back(to.filename().string());
    return Strings{};
  };
  const auto result = GraphicsRun::run(request, author, renderer);

  ASSERT_EQ(result.assets.size(), 4u);
  const std::string first = result.assets[0].fileName;
  const fs::path stem = fs::path(first).stem();
  const std::string extension = fs::path(first).extension().string();
  EXPECT_EQ(result.assets[1].fileName, stem.string() + " 2" + extension);
  EXPECT_EQ(GraphicsText::lower(result.assets[2].fileName), GraphicsText::lower(stem.string() + " 3" + extension));
  EXPECT_NE(result.assets[3].fileName, first);
  std::set<std::string> distinct(written.begin(), written.end());
  EXPECT_EQ(distinct.size(), 4u);
  for (const auto& a : result.assets) {
    EXPECT_EQ(a.relativePath, "assets/" + a.fileName);
    EXPECT_TRUE(fs::is_regular_file(request.assetsDir / a.fileName)) << a.fileName;
    EXPECT_TRUE(
        fs::is_regular_file(request.assetsDir / ".compositions" / (fs::path(a.fileName).stem().string() + ".html")))
        << a.fileName;
  }
}

TEST(GraphicsRun, RepliesAreCleanedToTheirDocument) {
  EXPECT_EQ(GraphicsRun::sanitize("```html\n<html>x</html>\n```\nThat's it."), "<html>x</html>");
  EXPECT_EQ(GraphicsRun::sanitize("Sure!\n<!DOCTYPE html><html></html>"), "<!DOCTYPE html><html></html>");
  EXPECT_EQ(GraphicsRun::sanitize("  <HTML><body></body></HTML> "), "<HTML><body></body></HTML>");
  EXPECT_EQ(GraphicsRun::sanitize("```\n<body></body>"), "<body></body>");
}

TEST(GraphicsRun, ReadmeGolden) {
  GraphicsRun::ReadmeInput in;
  in.projectName = "Launch video";
  in.canvas = {1920, 1080, 30};
  GraphicsAsset measured{"Retention curve",
                         "@01-23.4 retention-curve (ALPHA overlay).mov",
                         "assets/@01-23.4 retention-curve (ALPHA overlay).mov",
                         83.4,
                         GraphicKind::alphaOverlay,
                         4.25,
                         31.2,
                         std::nullopt,
                         std::string(80, 'w'),
                         true,
                         3.96,
                         81.0};
  GraphicsAsset plain = measured;
  plain.name = "Price card";
  plain.fileName = "@02-00.0 price-card (full-frame).mp4";
  plain.kind = GraphicKind::fullFrame;
  plain.placementSeconds = 120;
  plain.spokenSeconds.reset();
  plain.anchorText.reset();
  plain.estimatedPlacementSeconds.reset();
  GraphicsAsset guessed = measured;
  guessed.name = "Guess";
  guessed.fileName = "@~03-00.0 guess (ALPHA overlay).mov";
  guessed.placementSeconds = 180;
  guessed.anchoredToTranscript.reset();
  GraphicsAsset refused = measured;
  refused.name = "Leaky";
  refused.fileName = "@04-00.0 leaky (ALPHA overlay).mov";
  refused.placementSeconds = 3599.6;
  refused.relativePath.reset();
  refused.failure = "the composition loads 1 external resource — web font x. Graphics must render offline.";
  GraphicsAsset unauthored = refused;
  unauthored.name = "Quiet";
  unauthored.fileName = "@66-40.0 quiet (ALPHA overlay).mov";
  unauthored.placementSeconds = 4000;
  unauthored.renderSeconds.reset();
  unauthored.failure = "the design pass didn't return an HTML composition";
  in.assets = {measured, plain, guessed, refused, unauthored};
  in.unrendered = {idea(4100, "Outro", GraphicKind::fullFrame)};
  in.compositions = {measured.fileName, refused.fileName};
  in.brand = BrandSpec{};
  in.brand->name = "Pelu";
  in.brand->colors = "  #ff3366 accent ";
  in.graphicsNotes = " keep it calm \n";
  ComponentVocabulary v;
  v.fontFamilies = {"Inter", "Mono", "Third"};
  v.colors = {"#111", "#222", "#333", "#444", "#555"};
  v.eases = {"power3.out"};
  in.vocabulary = v;
  in.fonts = {{"Inter", "Inter", true, fs::path("/f/Inter.ttf")}, {"Brandy", "Helvetica Neue", false, std::nullopt}};
  in.totalSeconds = 61.25;
  expectGolden("assets-readme.md", GraphicsRun::readme(in));
  // A budget set by the graphics limit grows only with the limit.
  in.countFromLimit = true;
  EXPECT_NE(GraphicsRun::readme(in).find("These ideas are ready to render — raise the graphics limit and re-run."),
            std::string::npos);

  // Nothing rendered: the placeholder row and a plural count of none.
  const std::string none = GraphicsRun::readme({"P", {}, {}, {}, {}, {}, {}, {}, false, {}, 0});
  EXPECT_NE(none.find("\n| _none rendered_ | — | — | — | — | — |"), std::string::npos);
  EXPECT_NE(none.find("for 0 assets.\n"), std::string::npos);
  EXPECT_NE(none.find("No brand was attached"), std::string::npos);
}

// A render that fails with a sentence for the user fails its asset with that sentence; one
// that fails with a fault of the program fails it as an internal error, and the run goes on.
TEST(GraphicsRun, AFailedRenderSaysWhetherItIsTheProgramsFault) {
  kt::ScratchFolder scratch;
  GraphicsRun::Request request;
  request.ideas = {idea(10, "Said"), idea(20, "Fault"), idea(30, "Fine")};
  request.projectName = "Demo";
  request.canvas = {64, 36, 30};
  request.assetsDir = scratch.path() / "assets";
  request.options = GraphicsRun::Options::clamped(8, 1);
  request.fonts = std::vector<LocalFonts::ResolvedFont>{};
  const GraphicsRun::Author author = [](const VisualIdea&, const std::string&) { return styled; };
  const GraphicsRun::Renderer renderer = [](const std::string&, const VisualIdea& i, const GraphicsCanvas&,
                                            const fs::path& to) {
    if (i.name == "Said") throw UserFacingError("frame capture failed: timed out after 2s");
    if (i.name == "Fault") throw std::out_of_range("vector::_M_range_check");
    kt::writeFile(to.string(), "movie");
    return Strings{};
  };
  const auto result = GraphicsRun::run(request, author, renderer);

  ASSERT_EQ(result.assets.size(), 3u);
  EXPECT_EQ(result.assets[0].failure, "frame capture failed: timed out after 2s");
  EXPECT_EQ(result.assets[1].failure, "internal error: vector::_M_range_check");
  EXPECT_EQ(result.assets[2].failure, std::nullopt);
  EXPECT_EQ(result.rendered(), 1);
}

// A stop that lands while a long composition is being checked ends the check: the graphic is
// not rendered and the run ends as cancelled.
TEST(GraphicsRun, AStopReachesTheCompositionCheck) {
  kt::ScratchFolder scratch;
  GraphicsRun::Request request;
  request.ideas = {idea(10, "Long")};
  request.projectName = "Demo";
  request.canvas = {64, 36, 30};
  request.assetsDir = scratch.path() / "assets";
  request.fonts = std::vector<LocalFonts::ResolvedFont>{};
  std::stop_source stop;
  const GraphicsRun::Author author = [&](const VisualIdea&, const std::string&) {
    stop.request_stop();
    std::string html = "<html><body>";
    while (html.size() < (1u << 20)) html += "<p>Quarterly numbers</p>\n";
    return html + "</body></html>";
  };
  int renders = 0;
  const GraphicsRun::Renderer renderer = [&](const std::string&, const VisualIdea&, const GraphicsCanvas&,
                                             const fs::path&) {
    ++renders;
    return Strings{};
  };
  EXPECT_THROW(GraphicsRun::run(request, author, renderer, {}, stop.get_token()), Cancelled);
  EXPECT_EQ(renders, 0);
}
