#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "kestrane/export/GraphicsPlacer.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;
using Strings = std::vector<std::string>;

namespace {

GraphicsAsset asset(const std::string& file, double at, double length, bool anchored = true) {
  GraphicsAsset a;
  a.name = file;
  a.fileName = file;
  a.relativePath = "assets/" + file;
  a.placementSeconds = at;
  a.durationSeconds = length;
  a.anchoredToTranscript = anchored;
  return a;
}

GraphicsPlacement clip(double start, double length, GraphicKind kind) {
  GraphicsPlacement p;
  p.startSeconds = start;
  p.durationSeconds = length;
  p.kind = kind;
  return p;
}

std::vector<int> lanes(const std::vector<GraphicsPlacement>& placed) {
  std::vector<int> out;
  for (const auto& p : placed) out.push_back(p.lane);
  return out;
}

}  // namespace

TEST(GraphicsPlacer, LanesStackOverlapsWithFullFrameBelow) {
  constexpr auto full = GraphicKind::fullFrame;
  constexpr auto overlay = GraphicKind::alphaOverlay;
  using GraphicsPlacer::assignLanes;
  EXPECT_EQ(lanes(assignLanes({clip(0, 10, full), clip(2, 8, full), clip(4, 2, overlay)})),
            (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(lanes(assignLanes({clip(3, 2, overlay), clip(3, 2, full)})), (std::vector<int>{2, 1}));
  EXPECT_EQ(lanes(assignLanes({clip(0, 10, overlay), clip(5, 3, full)})), (std::vector<int>{1, 2}));
  EXPECT_EQ(lanes(assignLanes({clip(0, 2, overlay), clip(2, 2, overlay)})), (std::vector<int>{1, 1}));
}

TEST(GraphicsPlacer, EachRecordedGraphicIsPlacedTrimmedOrExplained) {
  kt::ScratchFolder scratch;
  const fs::path package = scratch.path() / "pkg";
  fs::create_directories(package / "assets");
  std::map<std::string, double> lengths{{"six.mov", 6.0},   {"late.mov", 6.0}, {"long.mov", 5.3}, {"close.mov", 5.1},
                                        {"guess.mov", 2.0}, {"empty.mov", 0},  {"broken.mov", -1}};
  for (const auto& [name, _] : lengths) kt::writeFile((package / "assets" / name).string(), "x");
  kt::writeFile((scratch.path() / "outside.mov").string(), "x");
  fs::create_symlink(scratch.path() / "outside.mov", package / "assets/linked.mov");
  const GraphicsPlacer::Probe probe = [&](const fs::path& file) {
    const double length = lengths.at(file.filename().string());
    if (length < 0) throw UserFacingError("not a movie");  // as the real probe fails
    GraphicMedia m;
    m.path = file.string();
    m.durationSeconds = length;
    m.width = length > 0 ? 64 : 0;
    m.height = 36;
    return m;
  };

  GraphicsAsset failed = asset("six.mov", 1, 6);
  failed.failure = "frame capture failed: no detail reported";
  GraphicsAsset unrendered = asset("six.mov", 1, 6);
  unrendered.relativePath.reset();
  GraphicsAsset escaping = asset("x.mov", 1, 6);
  escaping.relativePath = "../outside.mov";
  GraphicsAsset absolute = asset("y.mov", 1, 6);
  absolute.relativePath = (scratch.path() / "outside.mov").string();
  GraphicsAsset early = asset("guess.mov", -3, 2, false);
  early.anchoredToTranscript.reset();

  const auto plan = GraphicsPlacer::plan(
      {failed, unrendered, asset("six.mov", 57, 6), asset("late.mov", 60, 6), asset("long.mov", 10, 5.0),
       asset("close.mov", 20, 5.0), early, asset("missing.mov", 1, 2), asset("empty.mov", 1, 2),
       asset("broken.mov", 1, 2), escaping, absolute, asset("linked.mov", 1, 2)},
      package, 60.0, probe);

  ASSERT_EQ(plan.placements.size(), 4u);
  EXPECT_EQ(plan.placements[0].startSeconds, 57);
  EXPECT_EQ(plan.placements[0].durationSeconds, 3);
  EXPECT_DOUBLE_EQ(plan.placements[1].durationSeconds, 5.3);  // the file decides the length
  EXPECT_EQ(plan.placements[3].startSeconds, 0);
  EXPECT_TRUE(plan.placements[3].isEstimate);
  EXPECT_EQ(plan.warnings,
            (Strings{
                "Graphic trimmed to the end of the cut — six.mov would have run 6.0s from 00:57.",
                "Graphic not placed — late.mov sits at 01:00, past the end of the 60.0s cut.",
                "Graphic placed at its FILE length — long.mov is 5.3s on disk where the session recorded 5.0s.",
                "Graphic placed from an ESTIMATE, check it — guess.mov at 00:00: its anchor line wasn't "
                "located in the cut transcript, so this timecode is the visual-ideas doc's guess. The clip "
                "is on the timeline; nudge it to taste.",
                "Graphic not placed — missing.mov is missing from the package (expected assets/missing.mov).",
                "Graphic not placed — empty.mov probes as empty (0 frames or no picture).",
                "Graphic not placed — couldn't read broken.mov: not a movie",
                "Graphic not placed — x.mov is recorded at ../outside.mov, which is outside the package.",
                "Graphic not placed — y.mov is recorded at " + (scratch.path() / "outside.mov").string() +
                    ", which is outside the package.",
                "Graphic not placed — linked.mov is recorded at assets/linked.mov, which is outside the package.",
            }));

  // Without a cut length nothing is trimmed or dropped for its time.
  EXPECT_EQ(GraphicsPlacer::plan({asset("late.mov", 60, 6)}, package, 0, probe).placements.size(), 1u);
}
