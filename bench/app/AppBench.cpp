// The desktop application's responsiveness, offscreen:
// - from process start to the drop zone painted (each run is a fresh process of this program);
// - the longest stall of the window's event loop while the bundled sample is analysed and cut
//   through the real engine, measured as the lateness of a 10 ms timer, and beside it the most
//   processor time the window's thread spent between two of its ticks.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/core/PipelineEngine.hpp"
#include "app/views/Application.hpp"

extern char** environ;

namespace {

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* selfPath = nullptr;

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Reports the moment the drop zone has been painted, then leaves.
class PaintProbe : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      static_cast<QWidget*>(watched)->removeEventFilter(this);
      QTimer::singleShot(0, [] {
        std::printf("%lld\n", static_cast<long long>(nowNs()));
        std::fflush(stdout);
        QCoreApplication::exit(0);
      });
    }
    return false;
  }
};

int probeMain(int argc, char** argv) {
  QApplication qt(argc, argv);
  kestrane::app::Application app(qt, std::make_shared<kestrane::app::PipelineEngine>());
  PaintProbe probe;
  app.window().root()->screen()->installEventFilter(&probe);
  app.start({});
  return qt.exec();
}

void BM_StartToDropZonePainted(benchmark::State& state) {
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) return state.SkipWithError("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char probe[] = "--paint-probe";
    char* args[] = {const_cast<char*>(selfPath), probe, nullptr};
    const std::int64_t started = nowNs();
    pid_t child = 0;
    if (posix_spawn(&child, selfPath, &actions, nullptr, args, environ) != 0) {
      return state.SkipWithError("spawn");
    }
    close(out[1]);
    char line[64] = {};
    const ssize_t n = read(out[0], line, sizeof line - 1);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (n <= 0) return state.SkipWithError("the window never painted");
    state.SetIterationTime(static_cast<double>(std::atoll(line) - started) / 1e9);
  }
}
BENCHMARK(BM_StartToDropZonePainted)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_EventLoopStallDuringSampleCut(benchmark::State& state) {
  for (auto _ : state) {
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    const QString script = dir.filePath("sample-script.txt");
    QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage);
    QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-script.txt", script);

    kestrane::app::Application app(*qApp, std::make_shared<kestrane::app::PipelineEngine>());
    kestrane::app::JobModel& job = app.job();
    app.start({footage, script});
    job.start();  // while the pre-analysis still runs, as a quick user would

    qint64 worstLateMs = 0;
    // The window thread's own processor time between two ticks: the part of a stall that is the
    // window's work rather than waiting for a processor on a busy machine.
    double worstBusyMs = 0;
    double lastCpuMs = threadCpuMs();
    QElapsedTimer clock;
    clock.start();
    qint64 expected = clock.elapsed() + 10;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      worstLateMs = std::max(worstLateMs, now - expected);
      expected = now + 10;
      const double cpu = threadCpuMs();
      worstBusyMs = std::max(worstBusyMs, cpu - lastCpuMs);
      lastCpuMs = cpu;
    });
    tick.start(10);
    QEventLoop loop;
    QObject::connect(&job, &kestrane::app::JobModel::stateChanged, &loop, [&] {
      const auto screen = job.state().screen;
      if (screen == kestrane::app::Screen::done || screen == kestrane::app::Screen::failed) loop.quit();
    });
    loop.exec();
    if (job.state().screen != kestrane::app::Screen::done) return state.SkipWithError("the cut failed");
    state.counters["longest_stall_ms"] = static_cast<double>(worstLateMs);
    state.counters["longest_busy_ms"] = worstBusyMs;
    state.counters["cut_s"] = clock.elapsed() / 1000.0;
  }
}
BENCHMARK(BM_EventLoopStallDuringSampleCut)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  selfPath = argv[0];
  if (argc > 1 && std::strcmp(argv[1], "--paint-probe") == 0) return probeMain(argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
