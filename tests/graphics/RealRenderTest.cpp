// One short composition through the real HyperFrames toolchain that the setup script installs,
// with no network: the frames must animate (GSAP loaded from the local copy) and a loopback
// canary the composition points at must never be reached from inside the render.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fakes/Canary.hpp"
#include "kestrane/graphics/HyperFramesRenderer.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;

namespace {

std::string bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string composition(int canaryPort) {
  return R"(<!doctype html>
<html><head><meta charset="utf-8">
<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>
<style>
  #root { position: relative; width: 320px; height: 180px; overflow: hidden; }
  .bg { position: absolute; inset: 0; background: #102040; }
  .box { position: absolute; left: 10px; top: 60px; width: 60px; height: 60px; background: #ff3366; }
</style></head>
<body>
<div id="root" data-composition-id="main" data-start="0" data-width="320" data-height="180" data-duration="0.5">
  <div class="clip" data-start="0" data-duration="0.5" data-track-index="0">
    <div class="bg"></div>
    <div class="box" id="box"></div>
    <img src="http://127.0.0.1:)" +
         std::to_string(canaryPort) + R"(/canary.png" alt="">
  </div>
</div>
<script>
  window.__timelines = window.__timelines || {};
  const tl = gsap.timeline({ paused: true });
  tl.to("#box", { x: 220, duration: 0.5, ease: "none" }, 0);
  window.__timelines["main"] = tl;
</script>
</body></html>
)";
}

}  // namespace

TEST(RealRender, AHalfSecondCompositionAnimatesOffline) {
  const auto npx = HyperFrames::detectNPX();
  if (!npx || !HyperFrames::detectGSAP(*npx) || !fs::exists("/usr/bin/chromium"))
    GTEST_SKIP() << "the renderer's toolchain is not installed (scripts/setup-graphics.sh)";
  kt::ScratchFolder scratch;
  const test::Canary canary;
  HyperFramesSettings settings;
  settings.workRoot = scratch.path() / "work";
  settings.npx = *npx;
  settings.gsapScript = HyperFrames::detectGSAP(*npx);
  settings.captureTimeout = 300;
  VisualIdea idea;
  idea.name = "Box slide";
  idea.durationSeconds = 0.5;
  idea.kind = GraphicKind::alphaOverlay;

  const fs::path movie = scratch.path() / "box.mov";
  const auto notes =
      HyperFramesRenderer(settings).render(composition(canary.port()), idea, GraphicsCanvas{320, 180, 30}, movie);
  for (const auto& n : notes) EXPECT_EQ(n.find("captured"), std::string::npos) << n;

  const auto frames = HyperFrames::orderedFrames(settings.workRoot / "box-slide-00-00/frames");
  ASSERT_EQ(frames.size(), 15u);
  EXPECT_NE(bytes(frames.front()), bytes(frames.back()));
  EXPECT_TRUE(fs::is_regular_file(movie));
  EXPECT_EQ(canary.hits(), 0);
  // An ordinary account (tests/graphics/as_ordinary_user.sh) can't make a bare network
  // namespace: its render must have run in one inside a user namespace.
  if (::geteuid() != 0) {
    EXPECT_EQ(HyperFrames::networkIsolation(), HyperFrames::NetworkIsolation::userNamespace);
  }
}
