// The cut preview's editors and the audition, offscreen:
// - one waveform frame of a two-hour recording (720,000 level hops) at 1,600 pixels, at several
//   zooms, both a repeated frame and the first frame after a zoom change;
// - laying out the transcript of a two-hour recording (20,000 words), and one repaint of the
//   part in view after a scroll;
// - starting the audition of a one-hour recording whose sound is already decoded (with no sound
//   server it builds everything and ends at the missing output);
// - the first play of a real one-hour audio file: its sound read ahead, then Space to playing.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "app/core/Audition.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"

using namespace kestrane;
using namespace kestrane::app;

namespace {

constexpr std::size_t hops = 720000;
constexpr double hop = 0.01;

std::vector<float> levels() {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> level(-70, -5);
  std::vector<float> out(hops);
  for (float& v : out) v = level(random);
  return out;
}

std::vector<TimeRange> bands(double total) {
  std::vector<TimeRange> out;
  for (double t = 3; t + 1 < total; t += 7) out.push_back({t, t + 0.8});
  return out;
}

void BM_WaveformFrame(benchmark::State& state) {
  WaveformView view;
  view.resize(1600, 116);
  view.setLevels(levels(), hop);
  view.setCutBands(bands(hops * hop));
  view.setPlayhead(600);
  const double span = hops * hop / double(state.range(0));
  view.setVisibleRange(TimeRange{600, 600 + span});
  const bool zoomEachFrame = state.range(1) != 0;
  QImage image(1600, 116, QImage::Format_ARGB32_Premultiplied);
  double shift = 0;
  view.render(&image);
  for (auto _ : state) {
    if (zoomEachFrame) view.setVisibleRange(TimeRange{600 + (shift += 0.001), 600 + shift + span});
    view.render(&image);
  }
}
BENCHMARK(BM_WaveformFrame)->ArgsProduct({{1, 10, 100, 1000}, {0, 1}})->Unit(benchmark::kMillisecond);

std::vector<TranscriptWord> words(int count) {
  static const char* const vocabulary[] = {"so",  "today",   "we",  "are",    "going", "to",    "look",  "at",
                                           "the", "footage", "and", "decide", "what",  "stays", "really"};
  std::vector<TranscriptWord> out;
  double t = 0;
  for (int i = 0; i < count; ++i) {
    out.push_back({vocabulary[i % 15], {t, t + 0.3}});
    t += (i % 40 == 39) ? 1.5 : 0.36;
  }
  return out;
}

void BM_TranscriptLayout(benchmark::State& state) {
  const std::vector<TranscriptWord> all = words(20000);
  TranscriptView view;
  view.resize(900, 240);
  for (auto _ : state) {
    view.setWords(all);
    view.setCut(bands(all.back().range.end), {});
  }
}
BENCHMARK(BM_TranscriptLayout)->Unit(benchmark::kMillisecond);

void BM_TranscriptScrollRepaint(benchmark::State& state) {
  TranscriptView view;
  view.resize(900, 240);
  view.setWords(words(20000));
  view.setCut(bands(7200), {});
  QImage image(900, 240, QImage::Format_ARGB32_Premultiplied);
  int step = 0;
  for (auto _ : state) {
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue((bar->value() + 37 * ++step) % std::max(1, bar->maximum()));
    view.viewport()->render(&image);
  }
}
BENCHMARK(BM_TranscriptScrollRepaint)->Unit(benchmark::kMillisecond);

void BM_AuditionStart(benchmark::State& state) {
  auto hour = std::make_shared<AuditionPcm>();
  hour->samples.assign(std::size_t(3600) * hour->sampleRate, 0);
  Audition audition([hour](const QString&) { return *hour; });
  const std::vector<TimeRange> keeps = [] {
    std::vector<TimeRange> out;
    for (double t = 0; t < 3590; t += 5) out.push_back({t, t + 4});
    return out;
  }();
  audition.start(QStringLiteral("hour.mov"), keeps, std::nullopt);
  while (!audition.decoded(QStringLiteral("hour.mov"))) QCoreApplication::processEvents();
  audition.stop();
  for (auto _ : state) {
    audition.start(QStringLiteral("hour.mov"), keeps, 1800);
    audition.stop();
  }
}
BENCHMARK(BM_AuditionStart)->Unit(benchmark::kMillisecond);

// The first play of a real one-hour recording: the engine reads its sound ahead (from the drop,
// beside the analysis, which must finish before Space does anything), then Space plays from the
// middle. Reported: how long the read ahead takes, and Space to playing once it is done.
const std::string& hourOfSpeech() {
  static const std::string path = [] {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrane-bench-media";
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / "hour-of-tone.m4a";
    if (!std::filesystem::exists(file)) {
      const std::filesystem::path part = dir / "part-hour-of-tone.m4a";
      const std::string cmd =
          "ffmpeg -v error -y -f lavfi -i "
          "'aevalsrc=0.3*sin(2*PI*220*t)*lt(mod(t\\,3)\\,2):s=48000' -t 3600 -c:a aac -b:a 64k " +
          part.string() + " && mv " + part.string() + " " + file.string();
      if (std::system(cmd.c_str()) != 0) std::abort();
    }
    return file.string();
  }();
  return path;
}

void BM_AuditionFirstPlayOfAnHour(benchmark::State& state) {
  const QString footage = QString::fromStdString(hourOfSpeech());
  const std::vector<TimeRange> keeps = [] {
    std::vector<TimeRange> out;
    for (double t = 0; t < 3590; t += 5) out.push_back({t, t + 4});
    return out;
  }();
  for (auto _ : state) {
    Audition audition;
    QElapsedTimer clock;
    clock.start();
    audition.prepare(footage);
    while (!audition.decoded(footage)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double readAhead = double(clock.nsecsElapsed()) / 1e9;
    clock.restart();
    audition.start(footage, keeps, 1800);
    const double start = double(clock.nsecsElapsed()) / 1e9;
    audition.stop();
    state.SetIterationTime(start);
    state.counters["read_ahead_s"] = readAhead;
    state.counters["space_to_playing_ms"] = 1000 * start;
  }
}
BENCHMARK(BM_AuditionFirstPlayOfAnHour)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
