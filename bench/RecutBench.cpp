// Re-cutting a stored one-hour session with new settings (no MP4): nothing is analysed again,
// so the whole re-cut, package files included, should take well under two seconds. The footage
// is only probed and heard at a few stretches, to know it is the session's; a probe's cost grows
// with the file's index of frames, so the footage is a real hour, and its check should take
// under 100 ms. With the package's rough cut of that hour in place
// (3 GiB), the re-cut of the same cut knows it by its bytes and keeps it, in about the same time.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/platform/MovieFile.hpp"
#include "support/Retimed.hpp"
#include "support/SoundingFootage.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

// A presenter reading about 600 distinct lines of ten words for an hour, every fifth line
// said twice, with pauses between lines and a script of every line: the words, the script and
// the levels of the sound. The same every time.
struct HourTalk {
  Transcript transcript;
  std::string script;
  std::vector<float> levels;
  static constexpr double hop = 0.01;
};

HourTalk hourTalk() {
  HourTalk talk;
  std::mt19937 random(7);
  const char* syllables[] = {"ka",  "lo", "mi", "ten", "ar",  "vo", "su", "pel",
                             "dri", "on", "ba", "ze",  "rum", "fi", "ta", "gor"};
  const auto word = [&] {
    std::string w;
    for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) w += syllables[random() % 16];
    return w;
  };
  constexpr double hour = 3600;
  talk.levels.assign(static_cast<std::size_t>(hour / HourTalk::hop), -68.f);
  double t = 2;
  for (int line = 0; t < hour - 20; ++line) {
    std::vector<std::string> words(10);
    for (auto& w : words) w = word();
    talk.script += words[0];
    for (std::size_t i = 1; i < words.size(); ++i) talk.script += " " + words[i];
    talk.script += ".\n";
    for (int take = 0; take < (line % 5 == 0 ? 2 : 1); ++take) {
      for (const std::string& w : words) {
        talk.transcript.words.push_back({w, {t, t + 0.32}});
        // Each word loud, the breaths between them a dip, as speech rises and falls.
        for (auto i = static_cast<std::size_t>(t / HourTalk::hop);
             i < static_cast<std::size_t>((t + 0.38) / HourTalk::hop); ++i)
          talk.levels[i] = i < static_cast<std::size_t>((t + 0.32) / HourTalk::hop)
                               ? -20.f + static_cast<float>(random() % 6)
                               : -45.f;
        t += 0.38;
      }
      t += 0.9 + static_cast<double>(random() % 80) / 100.0;
    }
  }
  return talk;
}

// An hour of 1080p25 footage whose 48 kHz sound follows the talk's levels, in QuickTime and in
// Matroska with its index, made once and kept between runs: one encoded second of picture
// repeated, which gives the index of a real hour without encoding one. Nothing when ffmpeg
// can't make it.
std::optional<fs::path> hourOfFootage(const std::string& container = "mov") {
  const fs::path dir = bench::scratchFolder("kestrane-bench-recut-footage-3");
  const fs::path footage = dir / "hour.mov", second = dir / "second.mov", making = dir / "making.mov",
                 sound = dir / "sound.wav", matroska = dir / "hour.mkv";
  if (!fs::exists(footage)) {
    test::writeLevelShapedSound(sound, 48000, 3600, hourTalk().levels, HourTalk::hop);
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i color=c=black:s=1920x1080:r=25:d=1 -c:v libx264 -preset ultrafast "
        "-g 25 '" +
        second.string() + "' && ffmpeg -nostdin -v error -y -stream_loop -1 -i '" + second.string() + "' -i '" +
        sound.string() + "' -t 3600 -map 0:v -map 1:a -c:v copy -c:a aac -b:a 32k '" + making.string() + "'";
    const bool made = std::system(make.c_str()) == 0;
    fs::remove(sound);
    if (!made) return std::nullopt;
    fs::rename(making, footage);
  }
  if (container == "mov") return footage;
  if (!fs::exists(matroska)) {
    const std::string remux =
        "ffmpeg -nostdin -v error -y -i '" + footage.string() + "' -c copy '" + making.string() + ".mkv'";
    if (std::system(remux.c_str()) != 0) return std::nullopt;
    fs::rename(making.string() + ".mkv", matroska);
  }
  return matroska;
}

// The stored session of the hour's footage and its package folder.
struct HourSession {
  fs::path root = fs::temp_directory_path() / "kestrane-bench-recut";
  fs::path sessionFile = root / "Hour Kestrane.kestrane" / "hour.kestrane.json";

  explicit HourSession(const fs::path& footage) {
    fs::remove_all(root);
    fs::create_directories(sessionFile.parent_path());
    HourTalk talk = hourTalk();
    const SourceMedia source = MediaProbe::probe(MediaProbe::held(footage.string()));
    PipelineSettings settings = bench::appSettings();
    settings.manualRemoveRanges = std::vector<TimeRange>{{600, 610}, {1800, 1805}};
    KestraneSession session = KestraneSession::make(source, settings, talk.script);
    session.projectName = "Hour";
    session.transcript = std::move(talk.transcript);
    session.levels = LevelData::fromLevels(HourTalk::hop, talk.levels);
    session.write(sessionFile);
  }
  ~HourSession() { fs::remove_all(root); }
};

void BM_RecutOneHourSession(benchmark::State& state) {
  const std::optional<fs::path> footage = hourOfFootage();
  if (!footage) {
    state.SkipWithError("ffmpeg couldn't make the hour of footage");
    return;
  }
  HourSession hour(*footage);
  PipelineSettings settings = bench::appSettings();
  settings.apply(CutTightness::tight);
  std::size_t kept = 0;
  for (auto _ : state) {
    Pipeline::RecutRequest request;
    request.sessionURL = hour.sessionFile;
    request.settings = settings;
    const Pipeline::Output out = Pipeline::recut(request);
    kept = out.session.cutList->keptSegments().size();
  }
  state.counters["words"] = static_cast<double>(KestraneSession::read(hour.sessionFile).transcript->words.size());
  state.counters["keptPieces"] = static_cast<double>(kept);
}
BENCHMARK(BM_RecutOneHourSession)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RecutOneHourSessionKeepingItsMovie(benchmark::State& state) {
  const std::optional<fs::path> footage = hourOfFootage();
  if (!footage) {
    state.SkipWithError("ffmpeg couldn't make the hour of footage");
    return;
  }
  HourSession hour(*footage);
  const fs::path movie = bench::hourLongMovie();
  if (movie.empty()) {
    state.SkipWithError("could not make the hour-long movie in the temporary folder");
    return;
  }
  PipelineSettings settings = bench::appSettings();
  settings.apply(CutTightness::tight);
  Pipeline::RecutRequest request;
  request.sessionURL = hour.sessionFile;
  request.settings = settings;
  // The package as a run with --mp4 leaves it: the movie in place, and the session naming it.
  Pipeline::recut(request);
  const fs::path inPackage = hour.sessionFile.parent_path() / "hour rough cut.mp4";
  fs::create_hard_link(movie, inPackage);
  KestraneSession session = KestraneSession::read(hour.sessionFile);
  session.roughCutCutList = session.cutList;
  session.roughCutMovie = platform::movieIdentityAt(inPackage);
  session.write(hour.sessionFile);
  bool kept = true;
  for (auto _ : state) {
    const Pipeline::Output out = Pipeline::recut(request);
    kept = kept && out.session.roughCutMovie && fs::exists(inPackage);
  }
  if (!kept) state.SkipWithError("the re-cut did not keep the movie");
}
BENCHMARK(BM_RecutOneHourSessionKeepingItsMovie)->Unit(benchmark::kMillisecond)->Iterations(3);

// The check alone, on the same hour in each container: what the container states, and the sound
// heard at its stretches against the stored levels.
void BM_FootageCheckOneHour(benchmark::State& state, const std::string& container) {
  const std::optional<fs::path> footage = hourOfFootage(container);
  if (!footage) {
    state.SkipWithError("ffmpeg couldn't make the hour of footage");
    return;
  }
  const HourSession hour(*footage);
  const KestraneSession session = KestraneSession::read(hour.sessionFile);
  if (Pipeline::footageChange(session)) {
    state.SkipWithError("the hour's footage was not taken for its session's");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Pipeline::footageChange(session));
}
BENCHMARK_CAPTURE(BM_FootageCheckOneHour, mov, std::string("mov"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FootageCheckOneHour, mkv, std::string("mkv"))->Unit(benchmark::kMillisecond);

// The check of a session an earlier build stored, its times counted by samples, of an hour whose
// sound lost a tenth of a second of packets half-way: such a session is always moved onto the
// file's clock first, by the map its sound gives of where each counted sample lies, and heard
// there. Paid once: the re-cut then stores the session on the file's clock.
void BM_FootageCheckOneHourEarlierBuild(benchmark::State& state) {
  const std::optional<fs::path> hour = hourOfFootage();
  if (!hour) {
    state.SkipWithError("ffmpeg couldn't make the hour of footage");
    return;
  }
  const fs::path footage = hour->parent_path() / "dropout.mov";
  if (!fs::exists(footage) && !test::retimed(*hour, footage, [](double t, bool sound) -> std::optional<double> {
        if (sound && t >= 1800.0 && t < 1800.1) return std::nullopt;
        return t;
      })) {
    state.SkipWithError("couldn't make the hour with a dropout");
    return;
  }
  const HourSession stored(footage);
  KestraneSession session = KestraneSession::read(stored.sessionFile);
  // Counted by samples, everything after the five lost packets lies that much earlier.
  std::vector<float> levels = session.levels->levelsDBFS();
  levels.erase(levels.begin() + 180000, levels.begin() + 180011);
  session.levels = LevelData::fromLevels(HourTalk::hop, levels);
  session.soundTiming = SoundTiming::countedSamples;
  const Pipeline::FootageVerdict verdict = Pipeline::footageVerdict(session);
  if (verdict.change || !verdict.countedClock || verdict.countedClock->agrees()) {
    state.SkipWithError("the earlier build's session was not moved onto its footage's clock");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Pipeline::footageVerdict(session));
}
BENCHMARK(BM_FootageCheckOneHourEarlierBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
