// The live draft on a synthetic one-hour recording (about 10,000 words in utterances with
// pauses, 360,000 level hops), on one core:
// - from an option change to the new draft published on the window's thread, through the job
//   model (p95 is reported as a counter): the tightness, and the options the take decision reads;
// - the engine's draft alone, afresh and over a cache after a tightness change.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "../BenchSupport.hpp"
#include "app/core/JobModel.hpp"
#include "app/views/MainWindow.hpp"

namespace {

using namespace kestrane;

Pipeline::Analysis oneHour() {
  std::mt19937 random(11);
  const auto words =
      bench::madeUpVocabulary(random, {"the", "a",   "to",   "we", "is",   "and", "of", "it",  "that", "our",
                                       "in",  "for", "this", "so", "with", "on",  "be", "are", "can",  "i"},
                              {"ba", "ko", "ri", "sen", "tu", "vel", "mar", "do", "lin", "pra"}, 2000);
  constexpr std::size_t hops = 360000;
  std::vector<float> levels(hops, -58.0f);
  Pipeline::Analysis analysis;
  double t = 0.5;
  while (t < 3595) {
    const int count = 6 + static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      const double length = 0.18 + static_cast<double>(random() % 20) / 100;
      std::string text = bench::pickWord(random, words);
      if (i == count - 1) text += ".";
      analysis.transcript.words.push_back({text, {t, t + length}});
      for (auto h = static_cast<std::size_t>(t * 100); h < static_cast<std::size_t>((t + length) * 100); ++h) {
        levels[h] = static_cast<float>(-22 + 6 * std::sin(static_cast<double>(h)));
      }
      t += length + 0.05;
    }
    t += 0.3 + static_cast<double>(random() % 150) / 100;  // the pause between utterances
  }
  analysis.source.path = "/bench/one hour.mov";
  analysis.source.durationSeconds = hops * 0.01;
  analysis.levels = LevelData::fromLevels(0.01, levels);
  return analysis;
}

const Pipeline::Analysis& recording() {
  static const Pipeline::Analysis analysis = oneHour();
  return analysis;
}

// Hands out the one-hour recording at once; the draft is the engine's own.
class RecordedEngine final : public app::EngineApi {
 public:
  Pipeline::Analysis analyze(const std::filesystem::path&, const Pipeline::ProgressCallback&,
                             std::stop_token) override {
    return recording();
  }
  Pipeline::Output run(const Pipeline::Request&, const std::optional<Pipeline::Analysis>&,
                       const Pipeline::ProgressCallback&, std::stop_token) override {
    return {};
  }
  Pipeline::Output recut(const Pipeline::RecutRequest&, const Pipeline::ProgressCallback&, std::stop_token) override {
    return {};
  }
  void ensureSpeechModel() override {}
};

}  // namespace

namespace kestrane::app {
// Opens nothing; the options screen needs somewhere to send its clicks.
struct NoDesktopForBench final : Workspace, FileDialogs {
  void open(const QString&) override {}
  void reveal(const QString&) override {}
  QStringList chooseFootage() override { return {}; }
  QString choosePreviousCut() override { return {}; }
  QString chooseScript() override { return {}; }
};
}  // namespace kestrane::app

namespace {

void waitForDraft(app::JobModel& job) {
  QEventLoop loop;
  QObject::connect(&job, &app::JobModel::draftPublished, &loop, &QEventLoop::quit);
  loop.exec();
}

// Times each iteration's change up to the draft it publishes, and reports the 95th percentile.
void timeChangesToDraft(benchmark::State& state, app::JobModel& job, const std::function<void(std::size_t)>& change) {
  std::vector<double> times;
  std::size_t i = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    change(i++);
    waitForDraft(job);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    times.push_back(seconds);
    state.SetIterationTime(seconds);
  }
  std::sort(times.begin(), times.end());
  state.counters["p95_ms"] = 1000 * times[std::min(times.size() - 1, times.size() * 95 / 100)];
}

void BM_OptionChangeToPublishedDraft(benchmark::State& state) {
  app::JobModel job(std::make_shared<RecordedEngine>(),
                    std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "bench"));
  job.accept({QStringLiteral("/bench/one hour.mov")});
  waitForDraft(job);
  const CutTightness presets[] = {CutTightness::relaxed, CutTightness::natural, CutTightness::tight,
                                  CutTightness::jumpCut};
  timeChangesToDraft(state, job, [&](std::size_t i) { job.setTightness(presets[i % 4]); });
  state.counters["words"] = static_cast<double>(recording().transcript.words.size());
  state.counters["removed_bands"] = static_cast<double>(job.draftBands()->size());
}
BENCHMARK(BM_OptionChangeToPublishedDraft)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// Changes the take decision reads: the filler words and the silences-only mode, in turn.
void BM_DecisionChangeToPublishedDraft(benchmark::State& state) {
  app::JobModel job(std::make_shared<RecordedEngine>(),
                    std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "bench"));
  job.accept({QStringLiteral("/bench/one hour.mov")});
  waitForDraft(job);
  const std::function<void()> changes[] = {
      [&] { job.setRemoveFillers(false); }, [&] { job.setThoroughness(Thoroughness::silencesOnly); },
      [&] { job.setRemoveFillers(true); }, [&] { job.setThoroughness(Thoroughness::balanced); }};
  timeChangesToDraft(state, job, [&](std::size_t i) { changes[i % 4](); });
}
BENCHMARK(BM_DecisionChangeToPublishedDraft)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The same tightness changes with the window showing the options screen and its transcript: the
// window thread's own time per change (the silences of the new tightness, the published draft
// and the screen's refresh), the longest it is held at once.
void BM_OptionChangeWindowThreadTime(benchmark::State& state) {
  app::JobModel job(std::make_shared<RecordedEngine>(),
                    std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "bench"));
  app::NoDesktopForBench desktop;
  app::MainWindow window({&job, &desktop, &desktop});
  window.show();
  job.accept({QStringLiteral("/bench/one hour.mov")});
  waitForDraft(job);
  window.findChild<QPushButton*>(QStringLiteral("showTranscript"))->click();
  QCoreApplication::processEvents();
  const CutTightness presets[] = {CutTightness::relaxed, CutTightness::natural, CutTightness::tight,
                                  CutTightness::jumpCut};
  std::vector<double> times;
  std::size_t i = 0;
  for (auto _ : state) {
    const double before = threadCpuMs();
    job.setTightness(presets[i++ % 4]);
    const double change = threadCpuMs() - before;
    QEventLoop loop;
    double publish = 0;
    auto measured = QObject::connect(&job, &app::JobModel::draftPublished, &loop, [&] { loop.quit(); });
    const double waiting = threadCpuMs();
    loop.exec();
    publish = threadCpuMs() - waiting;
    QObject::disconnect(measured);
    const double longest = std::max(change, publish);
    times.push_back(longest);
    state.SetIterationTime(longest / 1000);
  }
  std::sort(times.begin(), times.end());
  state.counters["max_ms"] = times.back();
}
BENCHMARK(BM_OptionChangeWindowThreadTime)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_EngineDraftCut(benchmark::State& state) {
  PipelineSettings settings = bench::appSettings();
  for (auto _ : state) {
    benchmark::DoNotOptimize(Pipeline::draftCut(recording(), std::nullopt, settings));
  }
}
BENCHMARK(BM_EngineDraftCut)->Unit(benchmark::kMillisecond)->Iterations(10);

// A tightness change over a cache that holds the decision of the previous draft.
void BM_EngineDraftCutNewTightness(benchmark::State& state) {
  Pipeline::DraftCache cache;
  PipelineSettings settings = bench::appSettings();
  Pipeline::draftCut(recording(), std::nullopt, settings, cache);
  std::size_t i = 0;
  for (auto _ : state) {
    settings.apply(i++ % 2 ? CutTightness::tight : CutTightness::relaxed);
    benchmark::DoNotOptimize(Pipeline::draftCut(recording(), std::nullopt, settings, cache));
  }
}
BENCHMARK(BM_EngineDraftCutNewTightness)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  // One core, as the draft gets on a busy machine.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  sched_setaffinity(0, sizeof one, &one);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
