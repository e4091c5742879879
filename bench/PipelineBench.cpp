// A ten-minute 1080p presenter recording from footage to package (no MP4), timed stage by
// stage, with the peak memory of the process. The recording is made once, by
// fixtures/make-long-recording.sh, and kept in the temporary folder.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

const fs::path kSourceDir = KESTRANE_SOURCE_DIR;

fs::path scratch() {
  static const fs::path dir = bench::scratchFolder("kestrane-bench-pipeline");
  return dir;
}

// Ten minutes of varied lines with stumbles, false starts and pauses, at 1920x1080 and 25 fps.
fs::path tenMinuteRecording() {
  const fs::path maker = kSourceDir / "fixtures" / "make-long-recording.sh";
  // Named after the maker's size, so a changed maker makes a new recording.
  const fs::path out = scratch() / ("ten-minutes-1080p-" + std::to_string(fs::file_size(maker)) + ".mp4");
  if (fs::exists(out)) return out;
  const std::string cmd = "'" + maker.string() + "' '" + out.string() + "' 600 1920x1080 >/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  return out;
}

double peakMemoryMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

void BM_FootageToPackage(benchmark::State& state) {
  const fs::path footage = tenMinuteRecording();
  if (footage.empty()) {
    state.SkipWithError("could not make the ten-minute recording (is ffmpeg installed?)");
    return;
  }
  std::map<std::string, double> stageSeconds;
  for (auto _ : state) {
    const fs::path out = scratch() / "packages";
    fs::remove_all(out);
    using Clock = std::chrono::steady_clock;
    std::string current;
    Clock::time_point mark = Clock::now();
    const auto progress = [&](const Pipeline::Stage& stage) {
      const Clock::time_point now = Clock::now();
      if (!current.empty()) stageSeconds[current] += std::chrono::duration<double>(now - mark).count();
      current = stage.rawValue;
      mark = now;
    };
    Pipeline::Request request;
    request.input = footage;
    request.outputDir = out;
    request.settings = bench::appSettings();
    const Pipeline::Output output = Pipeline::run(request, std::nullopt, progress);
    benchmark::DoNotOptimize(output.packageDir);
    stageSeconds[current] += std::chrono::duration<double>(Clock::now() - mark).count();
  }
  for (const auto& [label, seconds] : stageSeconds) {
    state.counters[label + " (s)"] = seconds / static_cast<double>(state.iterations());
  }
  state.counters["peak memory (MiB)"] = peakMemoryMiB();
}

BENCHMARK(BM_FootageToPackage)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
