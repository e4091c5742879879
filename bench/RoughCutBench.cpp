// The rough-cut MP4 of a 1080p recording with 100 kept pieces, rendered by the engine and, side
// by side in the same iteration, by the ffmpeg tool from the same source with the same pieces
// (a trim/concat filter graph) and the same encoder settings. The engine holds the sound it takes
// against the recording's levels as a cut's render does, so the hearing's cost is in its time.
// The counter `vs_ffmpeg` is the engine's wall time over the tool's; the target is at most 1.2.
// `cpu_vs_ffmpeg` compares the CPU time both spent, which holds steadier when other work shares
// the machine. The recording is made once by the ffmpeg tool and kept in the system's temporary
// folder between runs. BM_RoughCutHearing times the hearing alone over an hour of sound in kept
// pieces, which has to stay a small fraction of encoding that hour.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <vector>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.hpp"
#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/LevelHearing.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/RoughCutHearing.hpp"
#include "kestrane/platform/MovieWriter.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

constexpr int kPieces = 100;
constexpr double kSourceSeconds = 140;
const RationalTime kFrame{1001, 30000};
constexpr int kSampleRate = 48000;

fs::path scratch() {
  static const fs::path dir = bench::scratchFolder("kestrane-bench-roughcut");
  return dir;
}

// 140 s of moving 1080p test picture at 29.97 fps with stereo sound, encoded the way a
// camera would (CABAC, B-frames, a keyframe every two seconds).
fs::path recording() {
  const fs::path out = scratch() / "recording-1080p-140s.mp4";
  if (fs::exists(out)) return out;
  const fs::path part = scratch() / "making.mp4";
  const std::string cmd =
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=30000/1001 "
      "-f lavfi -i \"aevalsrc=exprs='0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)':s=48000\" -t " +
      std::to_string(kSourceSeconds) +
      " -c:v libx264 -preset veryfast -crf 20 -g 60 -pix_fmt yuv420p -c:a aac -b:a 192k '" + part.string() + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  fs::rename(part, out);
  return out;
}

// 100 kept pieces of 0.5 to 1.1 s between removed stretches of 0.25 to 0.8 s, with times off
// the frame grid, like a decided cut of a talk.
CutList hundredPieces() {
  CutList cut;
  double at = 0.37;
  unsigned seed = 12345;
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 16) & 0x7fff) / 32767.0;
  };
  cut.segments.push_back({{0, at}, SegmentKind::silence, {}, {}});
  for (int i = 0; i < kPieces; ++i) {
    const double kept = 0.5 + 0.6 * next();
    const double gap = 0.25 + 0.55 * next();
    cut.segments.push_back({{at, at + kept}, SegmentKind::keep, {}, {}});
    cut.segments.push_back({{at + kept, at + kept + gap}, SegmentKind::silence, {}, {}});
    at += kept + gap;
  }
  cut.segments.back().range.end = kSourceSeconds;
  return cut;
}

std::int64_t sampleAt(std::int64_t frame) {
  return (frame * kFrame.value * kSampleRate * 2 + kFrame.timescale) / (2 * kFrame.timescale);
}

// The same cut for the ffmpeg tool: each piece trimmed by frame and by sample, then concatenated.
std::string filterGraph(const FrameSnapping::Layout& layout) {
  const std::size_t n = layout.pieces.size();
  std::string graph = "[0:v]split=" + std::to_string(n);
  for (std::size_t i = 0; i < n; ++i) graph += "[v" + std::to_string(i) + "]";
  graph += ";[0:a]asplit=" + std::to_string(n);
  for (std::size_t i = 0; i < n; ++i) graph += "[a" + std::to_string(i) + "]";
  graph += ";\n";
  std::string inputs;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& p = layout.pieces[i];
    const std::string k = std::to_string(i);
    const std::int64_t firstSample = sampleAt(p.sourceStartFrame);
    const std::int64_t samples = sampleAt(p.cutEndFrame()) - sampleAt(p.cutStartFrame);
    graph += "[v" + k + "]trim=start_frame=" + std::to_string(p.sourceStartFrame) +
             ":end_frame=" + std::to_string(p.sourceEndFrame) + ",setpts=PTS-STARTPTS[vt" + k + "];";
    graph += "[a" + k + "]atrim=start_sample=" + std::to_string(firstSample) +
             ":end_sample=" + std::to_string(firstSample + samples) + ",asetpts=PTS-STARTPTS[at" + k + "];\n";
    inputs += "[vt" + k + "][at" + k + "]";
  }
  graph += inputs + "concat=n=" + std::to_string(n) + ":v=1:a=1[v][a]\n";
  return graph;
}

// CPU seconds (user and system, every thread) used so far by this process or by its finished
// children. Less swayed than wall time by other work on a shared machine.
double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RoughCut1080pHundredPieces(benchmark::State& state) {
  const fs::path footage = recording();
  if (footage.empty()) {
    state.SkipWithError("could not make the 1080p recording (is ffmpeg installed?)");
    return;
  }
  SourceMedia source;
  source.path = footage.string();
  source.durationSeconds = kSourceSeconds;
  source.frameDuration = kFrame;
  source.width = 1920;
  source.height = 1080;
  source.hasVideo = true;
  source.audioSampleRate = kSampleRate;
  source.audioChannelCount = 2;
  const CutList cut = hundredPieces();
  const FrameSnapping::Layout layout = MP4Renderer::composition(MP4Renderer::openFootage(source), cut).layout;
  const AudioAnalyzer::LevelTrack measured = AudioAnalyzer::measureLevels(MediaProbe::held(footage.string()));
  const LevelData levels = LevelData::fromLevels(measured.hopDuration, measured.levelsDBFS);

  const fs::path graph = scratch() / "cut.filtergraph";
  std::ofstream(graph) << filterGraph(layout);
  const platform::MovieSettings settings;
  const fs::path theirs = scratch() / "ffmpeg rough cut.mp4";
  const std::string tool = "ffmpeg -hide_banner -loglevel error -y -i '" + footage.string() +
                           "' -filter_complex_script '" + graph.string() +
                           "' -map '[v]' -map '[a]' -c:v libx264 -preset " + settings.x264Preset + " -crf " +
                           std::to_string(settings.x264CRF) + " -pix_fmt yuv420p -c:a aac -b:a " +
                           std::to_string(settings.audioBitRatePerChannel * 2) + " '" + theirs.string() + "'";
  const fs::path ours = scratch() / "engine rough cut.mp4";

  double engineTotal = 0;
  double toolTotal = 0;
  double engineCPU = 0;
  double toolCPU = 0;
  bool engineFirst = true;
  for (auto _ : state) {
    double engine = 0;
    double byTool = 0;
    // Alternate who goes first, so neither always gets the warmer caches.
    for (int turn = 0; turn < 2; ++turn) {
      const auto start = std::chrono::steady_clock::now();
      if ((turn == 0) == engineFirst) {
        const double cpu = cpuSeconds(RUSAGE_SELF);
        MP4Renderer::render(MP4Renderer::openFootage(source, Pipeline::roughCutHearing(levels)), cut, ours);
        engine = secondsSince(start);
        engineCPU += cpuSeconds(RUSAGE_SELF) - cpu;
      } else {
        const double cpu = cpuSeconds(RUSAGE_CHILDREN);
        if (std::system(tool.c_str()) != 0) {
          state.SkipWithError("the ffmpeg tool failed on the same cut");
          return;
        }
        byTool = secondsSince(start);
        toolCPU += cpuSeconds(RUSAGE_CHILDREN) - cpu;
      }
    }
    engineFirst = !engineFirst;
    state.SetIterationTime(engine);
    engineTotal += engine;
    toolTotal += byTool;
  }
  state.counters["pieces"] = static_cast<double>(layout.pieces.size());
  state.counters["frames"] = static_cast<double>(layout.totalFrames);
  state.counters["ffmpeg_s"] = toolTotal / static_cast<double>(state.iterations());
  state.counters["engine_s"] = engineTotal / static_cast<double>(state.iterations());
  state.counters["vs_ffmpeg"] = engineTotal / toolTotal;
  state.counters["cpu_vs_ffmpeg"] = engineCPU / toolCPU;
}

// An hour of 48 kHz stereo sound in kept pieces of a second, heard a frame of 1/30 s at a time
// against levels that say it is so: a tone loud for half of every second and 20 dB quieter for
// the other half, like speech and its pauses.
void BM_RoughCutHearing(benchmark::State& state) {
  constexpr int kRate = 48000;
  constexpr int kHourSeconds = 3600;
  constexpr int kFrame = kRate / 30;
  std::vector<float> second(kRate);
  for (int n = 0; n < kRate; ++n) {
    const double level = n < kRate / 2 ? -20 : -40;
    second[static_cast<std::size_t>(n)] =
        static_cast<float>(std::sqrt(2.0) * std::pow(10.0, level / 20) * std::sin(2 * M_PI * 440 * n / kRate));
  }
  std::vector<float> stored(static_cast<std::size_t>(kHourSeconds) * 100);
  for (std::size_t hop = 0; hop < stored.size(); ++hop) stored[hop] = hop % 100 < 50 ? -20.f : -40.f;
  for (auto _ : state) {
    AudioAnalyzer::LevelHearing hearing(stored, 0.01, kRate);
    for (std::int64_t piece = 0; piece < kHourSeconds; ++piece) {
      hearing.startPiece(piece * kRate);
      for (int frame = 0; frame < 30; ++frame) {
        const float* planes[] = {second.data() + frame * kFrame, second.data() + frame * kFrame};
        hearing.push(planes, 2, kFrame);
      }
      if (hearing.finishPiece(std::nullopt)) {
        state.SkipWithError("the hearing found the same sound different");
        return;
      }
    }
  }
  state.counters["sound_hours"] = 1;
}

BENCHMARK(BM_RoughCutHearing)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK(BM_RoughCut1080pHundredPieces)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
