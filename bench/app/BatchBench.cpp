// Ten one-minute recordings cut as one batch with Cut All, against the same ten cut by the
// command line one after another. The batch's background analysis of the next video overlaps
// the current video's cut, so it should never take longer. The recordings are made once, by
// fixtures/make-long-recording.sh, and kept in the temporary folder.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../BenchSupport.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using namespace kestrane::app;

namespace {

constexpr int videoCount = 10;

fs::path scratch() {
  static const fs::path dir = bench::scratchFolder("kestrane-bench-batch");
  return dir;
}

// Ten different one-minute recordings (each trimmed to its own length so none is a copy).
std::vector<fs::path> recordings() {
  const fs::path maker = fs::path(KESTRANE_SOURCE_DIR) / "fixtures" / "make-long-recording.sh";
  std::vector<fs::path> out;
  for (int i = 0; i < videoCount; ++i) {
    const int seconds = 60 + i;
    const fs::path file =
        scratch() / ("minute-" + std::to_string(fs::file_size(maker)) + "-" + std::to_string(i) + ".mp4");
    if (!fs::exists(file)) {
      const std::string cmd =
          "'" + maker.string() + "' '" + file.string() + "' " + std::to_string(seconds) + " 640x360 >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) return {};
    }
    out.push_back(file);
  }
  return out;
}

// Fresh copies in a folder of their own, so every package is made anew beside its footage.
std::vector<fs::path> copiesIn(const fs::path& folder, const std::vector<fs::path>& sources) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::vector<fs::path> copies;
  for (const fs::path& source : sources) {
    copies.push_back(folder / source.filename());
    fs::copy_file(source, copies.back());
  }
  return copies;
}

void BM_CutAllTenMinuteRecordings(benchmark::State& state) {
  const std::vector<fs::path> sources = recordings();
  if (sources.empty()) return state.SkipWithError("could not make the recordings (are flite, sox, ffmpeg there?)");
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  QCoreApplication qt(argc, argv);
  for (auto _ : state) {
    state.PauseTiming();
    const std::vector<fs::path> copies = copiesIn(scratch() / "batch", sources);
    QTemporaryDir settings;
    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(settings.filePath("settings.ini"), QSettings::IniFormat));
    QStringList paths;
    for (const fs::path& p : copies) paths << fromPath(p);
    state.ResumeTiming();

    job.accept(paths);
    job.cutAll();
    QDeadlineTimer deadline(3600 * 1000);
    while (job.state().screen == Screen::running && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (job.state().screen != Screen::done) return state.SkipWithError("the batch did not finish");
    const auto cut = std::count_if(job.batch().begin(), job.batch().end(),
                                   [](const BatchItem& item) { return item.output.has_value(); });
    if (cut != videoCount) return state.SkipWithError("a video of the batch failed");
  }
}

void BM_TenCommandLineCutsInTurn(benchmark::State& state) {
  const std::vector<fs::path> sources = recordings();
  if (sources.empty()) return state.SkipWithError("could not make the recordings (are flite, sox, ffmpeg there?)");
  for (auto _ : state) {
    state.PauseTiming();
    const std::vector<fs::path> copies = copiesIn(scratch() / "single", sources);
    state.ResumeTiming();
    for (const fs::path& footage : copies) {
      const std::string cmd = "'" + std::string(KESTRANE_CLI) + "' cut '" + footage.string() + "' >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) return state.SkipWithError("kestrane cut failed");
    }
  }
}

BENCHMARK(BM_CutAllTenMinuteRecordings)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_TenCommandLineCutsInTurn)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
