// Four 3-second graphics at 1920x1080 through the real renderer toolchain, one, two and four at
// a time, and the share of each asset's time spent in our own encoder. Needs the toolchain of
// scripts/setup-graphics.sh; takes minutes, so it is run by hand, not in CI.
#include <benchmark/benchmark.h>

#include <chrono>

#include "BenchSupport.hpp"
#include "kestrane/graphics/GraphicsRun.hpp"
#include "kestrane/graphics/HyperFramesRenderer.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"
#include "kestrane/platform/FrameSequenceEncoder.hpp"

namespace {

using namespace kestrane;
namespace fs = std::filesystem;

const char* const composition = R"(<!doctype html>
<html><head><meta charset="utf-8">
<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>
<style>
  #root { position: relative; width: 1920px; height: 1080px; overflow: hidden; }
  .panel { position: absolute; left: 160px; top: 620px; width: 900px; height: 220px;
           border-radius: 24px; background: #102040; color: #fff; font: 700 72px sans-serif;
           padding: 40px; box-sizing: border-box; }
</style></head>
<body>
<div id="root" data-composition-id="main" data-start="0" data-width="1920" data-height="1080" data-duration="3">
  <div class="clip" data-start="0" data-duration="3" data-track-index="0">
    <div class="panel" id="panel">Retention up 38%</div>
  </div>
</div>
<script>
  window.__timelines = window.__timelines || {};
  const tl = gsap.timeline({ paused: true });
  tl.from("#panel", { x: -400, opacity: 0, duration: 0.8, ease: "power3.out" }, 0)
    .to("#panel", { scale: 1.1, duration: 1.2, ease: "sine.inOut" }, 1)
    .to("#panel", { opacity: 0, duration: 0.6 }, 2.4);
  window.__timelines["main"] = tl;
</script>
</body></html>
)";

void RenderFourGraphics(benchmark::State& state) {
  const auto npx = HyperFrames::detectNPX();
  if (!npx || !HyperFrames::detectGSAP(*npx)) {
    state.SkipWithError("the renderer's toolchain is not installed (scripts/setup-graphics.sh)");
    return;
  }
  const int concurrency = static_cast<int>(state.range(0));
  const fs::path root = bench::scratchFolder("kestrane-graphics-bench") / std::to_string(concurrency);
  double encodeSeconds = 0, assetSeconds = 0;
  for (auto _ : state) {
    fs::remove_all(root);
    HyperFramesSettings settings;
    settings.workRoot = root / "work";
    settings.npx = *npx;
    settings.gsapScript = HyperFrames::detectGSAP(*npx);
    const HyperFramesRenderer renderer(settings);

    GraphicsRun::Request request;
    for (int i = 0; i < 4; ++i) {
      VisualIdea idea;
      idea.name = "Graphic " + std::to_string(i + 1);
      idea.placementSeconds = 10.0 * (i + 1);
      idea.durationSeconds = 3;
      idea.kind = i % 2 == 0 ? GraphicKind::alphaOverlay : GraphicKind::fullFrame;
      request.ideas.push_back(idea);
    }
    request.projectName = "Bench";
    request.canvas = {1920, 1080, 30};
    request.assetsDir = root / "assets";
    request.options = GraphicsRun::Options::clamped(4, concurrency);
    ComponentVocabulary house;  // given, so all four run in one batch
    house.fontFamilies = {"sans-serif"};
    request.vocabulary = house;
    request.fonts = std::vector<LocalFonts::ResolvedFont>{};
    const auto result = GraphicsRun::run(
        request, [](const VisualIdea&, const std::string&) { return std::string(composition); },
        [&](const std::string& html, const VisualIdea& idea, const GraphicsCanvas& canvas, const fs::path& to) {
          return renderer.render(html, idea, canvas, to);
        });
    if (result.rendered() != 4) {
      state.SkipWithError(result.warnings.empty() ? "a graphic failed" : result.warnings.back().c_str());
      return;
    }

    // Our encoder's part of each asset: its frames encoded again on their own.
    state.PauseTiming();
    for (const auto& asset : result.assets) {
      assetSeconds += asset.renderSeconds.value_or(0);
      const fs::path folder =
          settings.workRoot / (VisualIdeas::slug(asset.name) + "-" + VisualIdeas::timecodeSlug(asset.placementSeconds));
      const auto start = std::chrono::steady_clock::now();
      FrameSequenceEncoder::encode(
          HyperFrames::orderedFrames(folder / "frames"),
          {root / ("again-" + asset.fileName), 30, 1920, 1080, asset.kind == GraphicKind::alphaOverlay});
      encodeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.ResumeTiming();
  }
  state.counters["encodeShare"] = assetSeconds > 0 ? encodeSeconds / assetSeconds : 0;
  state.counters["encodeSeconds"] = encodeSeconds;
  state.counters["assetSeconds"] = assetSeconds;
}
BENCHMARK(RenderFourGraphics)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
