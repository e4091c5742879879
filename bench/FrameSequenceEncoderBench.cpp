// Encoding 30 captured 1920x1080 frames (one second of a graphic) into each kind of movie:
// ProRes 4444 with alpha for overlays, H.264 for full-frame graphics. The frames are made once
// with the ffmpeg tool and kept in the scratch folder.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "BenchSupport.hpp"
#include "kestrane/platform/FrameSequenceEncoder.hpp"

namespace {

using namespace kestrane;
namespace fs = std::filesystem;

std::vector<fs::path> capturedFrames() {
  const fs::path dir = bench::scratchFolder("kestrane-encoder-bench");
  std::vector<fs::path> frames;
  for (int i = 1; i <= 30; ++i) frames.push_back(dir / ("frame-" + std::to_string(i) + ".png"));
  if (!fs::exists(frames.back())) {
    // Moving detail over a transparent half, as an overlay's frames look.
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=1 -vf "
        "\"format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,960),255,0)'\" '" +
        (dir / "frame-%d.png").string() + "'";
    if (std::system(command.c_str()) != 0) return {};
  }
  return frames;
}

void EncodeOneSecond(benchmark::State& state) {
  const bool alpha = state.range(0) == 1;
  const auto frames = capturedFrames();
  if (frames.empty()) {
    state.SkipWithError("couldn't make the frames with ffmpeg");
    return;
  }
  const fs::path movie = bench::scratchFolder("kestrane-encoder-bench") / (alpha ? "out.mov" : "out.mp4");
  for (auto _ : state) FrameSequenceEncoder::encode(frames, {movie, 30, 1920, 1080, alpha});
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(frames.size()) * state.iterations(), benchmark::Counter::kIsRate);
  state.SetLabel(alpha ? "ProRes 4444" : "H.264 High");
}

BENCHMARK(EncodeOneSecond)->Arg(1)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
