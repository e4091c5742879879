// Audio decode plus loudness (with the WAV for the recognizer) of a 1080p H.264/AAC file, side by
// side with `ffmpeg -i FILE -af silencedetect -f null -` on the same file; the peak memory of a
// short against a two-hour decode, which must not grow with the length; and the counted clock of an
// earlier build's session of an hour's recording with a dropout, read from its packets and by
// decoding it whole, in MP4 and Matroska.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/SoundPackets.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

std::string media(const std::string& name, const std::string& ffmpegArgs) {
  const fs::path dir = fs::temp_directory_path() / "kestrane-bench-media";
  fs::create_directories(dir);
  const fs::path file = dir / name;
  if (!fs::exists(file)) {
    const std::string cmd = "ffmpeg -v error -y " + ffmpegArgs + " " + (dir / ("part-" + name)).string() + " && mv " +
                            (dir / ("part-" + name)).string() + " " + file.string();
    if (std::system(cmd.c_str()) != 0) std::abort();
  }
  return file.string();
}

const std::string& film() {
  static const std::string path =
      media("film-1080p.mp4",
            "-f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi -i "
            "'aevalsrc=0.3*sin(2*PI*220*t)*lt(mod(t\\,3)\\,2)|0.3*sin(2*PI*330*t)*lt(mod(t\\,3)\\,2):s=48000' "
            "-t 120 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 192k");
  return path;
}

double peakMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ExtractAudioWithLevels(benchmark::State& state) {
  const auto& path = film();
  for (auto _ : state) {
    auto extraction = AudioAnalyzer::extractAudio(MediaProbe::held(path));
    benchmark::DoNotOptimize(extraction.track.levelsDBFS.data());
    fs::remove(extraction.wavURL);
  }
}

void BM_MeasureLevels(benchmark::State& state) {
  const auto& path = film();
  for (auto _ : state) benchmark::DoNotOptimize(AudioAnalyzer::measureLevels(MediaProbe::held(path)).levelsDBFS.data());
}

void BM_FFmpegSilencedetect(benchmark::State& state) {
  const std::string cmd = "ffmpeg -v quiet -nostdin -i " + film() + " -af silencedetect -f null - >/dev/null 2>&1";
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
}

void BM_PeakMemoryShortThenTwoHours(benchmark::State& state) {
  const auto shortFile =
      media("voice-1min.m4a", "-f lavfi -i 'sine=frequency=300:sample_rate=48000' -t 60 -ac 2 -c:a aac");
  const auto longFile =
      media("voice-2h.m4a", "-f lavfi -i 'sine=frequency=300:sample_rate=48000' -t 7200 -ac 2 -c:a aac");
  double afterShort = 0, afterLong = 0;
  for (auto _ : state) {
    auto a = AudioAnalyzer::extractAudio(MediaProbe::held(shortFile));
    fs::remove(a.wavURL);
    afterShort = peakMB();
    auto b = AudioAnalyzer::extractAudio(MediaProbe::held(longFile));
    fs::remove(b.wavURL);
    afterLong = peakMB();
  }
  state.counters["peakMBAfter1min"] = afterShort;
  state.counters["peakMBAfter2h"] = afterLong;
}

// An hour of talk (fixtures/make-long-recording.sh) that lost half a second of sound packets at
// half past, copied without re-encoding into `container` ("mp4" or "mkv"); empty when it can't be
// made.
std::string hourWithDropout(const std::string& container) {
  const fs::path dir = fs::temp_directory_path() / "kestrane-bench-media";
  const fs::path hour = dir / "hour-talk.mp4";
  if (!fs::exists(hour)) {
    fs::create_directories(dir);
    const fs::path maker = fs::path(KESTRANE_SOURCE_DIR) / "fixtures" / "make-long-recording.sh";
    const fs::path part = dir / "part-hour-talk.mp4";
    if (std::system(("'" + maker.string() + "' '" + part.string() + "' 3600 >/dev/null").c_str()) != 0) return {};
    fs::rename(part, hour);
  }
  const std::string mp4 = media(
      "hour-dropout.mp4", "-i '" + hour.string() + "' -c copy -bsf:a \"noise=drop='between(pts*tb,1800,1800.5)'\"");
  if (container == "mp4") return mp4;
  return media("hour-dropout." + container, "-i '" + mp4 + "' -c copy");
}

// The counted clock of an hour with a dropout, read as the re-cut of an earlier build's session
// reads it: from the sound's packets (state.range(1) 1) or by decoding the whole track (0), in
// MP4 (state.range(0) 0) or Matroska (1).
void BM_CountedClockOfAnHour(benchmark::State& state) {
  const std::string path = hourWithDropout(state.range(0) == 0 ? "mp4" : "mkv");
  if (path.empty()) {
    state.SkipWithError("could not make the hour's recording");
    return;
  }
  const auto file = MediaProbe::held(path);
  std::size_t steps = 0;
  for (auto _ : state) {
    if (state.range(1) == 1) {
      const std::optional<CountedClock> counted = platform::packetCountedClock(file, {});
      if (!counted) state.SkipWithError("its packets were not enough");
      steps = counted ? counted->steps.size() : 0;
    } else {
      steps = platform::decodeAudio(file, [](const platform::AudioBlock&) {}).countedClock.steps.size();
    }
  }
  state.counters["steps"] = static_cast<double>(steps);
}

}  // namespace

BENCHMARK(BM_CountedClockOfAnHour)
    ->ArgNames({"mkv", "packets"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_ExtractAudioWithLevels)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MeasureLevels)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FFmpegSilencedetect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PeakMemoryShortThenTwoHours)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
