// How far copies and other recordings lie from the bars that tell a footage's sound: the footage
// check's (LevelMatch's kSameSoundLikeness) and the render's hearing of kept sound (LevelHearing's
// dip below the rest). Not a timed benchmark: it prints, for readings in several synthetic voices
// with false starts, retakes and chatter between takes, clean and under steady white, pink and
// brown noise, what a first cut stores, the check's verdict on every copy and other recording, and
// the render's verdict on each copy and on another voice spliced into its speech, with the least
// and most alike figures. Recordings are made once in the system's temporary folder.
//   usage: margins_SoundLikeness [VOICE-SCRIPT ...]   (all readings when none is named)
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/LevelHearing.hpp"
#include "kestrane/analysis/LevelMatch.hpp"
#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/StoredLevels.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

const fs::path kFolder = fs::temp_directory_path() / "kestrane-margins";

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// `voice` reading `script` (make-reading.sh).
fs::path reading(const std::string& voice, int script) {
  const fs::path path = kFolder / fmt::format("{}-{}.mp4", voice, script);
  if (!fs::exists(path))
    run(fmt::format("{}/fixtures/make-reading.sh {} {} {}", KESTRANE_SOURCE_DIR, voice, script, quoted(path)));
  return path;
}

double powerMeanDBFS(const std::vector<float>& levels) {
  double sum = 0;
  for (const float level : levels) sum += std::pow(10.0, level / 10);
  return 10 * std::log10(sum / static_cast<double>(levels.size()));
}

// `clean` under steady noise of `colour` whose level lies `belowDB` under the speech's loud level;
// the same `seed` gives the same noise.
fs::path noisy(const fs::path& clean, const std::string& colour, double belowDB, int seed) {
  const fs::path path = kFolder / fmt::format("{}-{}{}-{}.mp4", clean.stem().string(), colour, belowDB, seed);
  if (fs::exists(path)) return path;
  const fs::path noise = kFolder / fmt::format("noise-{}-{}.wav", colour, seed);
  if (!fs::exists(noise))
    run(fmt::format("ffmpeg -y -f lavfi -i anoisesrc=c={}:a=0.2:r=48000:seed={}:d=90 -c:a pcm_f32le {}", colour, seed,
                    quoted(noise)));
  const double loud =
      AudioAnalyzer::loudLevel(AudioAnalyzer::measureLevels(MediaProbe::held(clean.string())).levelsDBFS);
  const double noiseLevel = powerMeanDBFS(AudioAnalyzer::measureLevels(MediaProbe::held(noise.string())).levelsDBFS);
  run(
      fmt::format("ffmpeg -y -i {} -i {} -filter_complex "
                  "'[1:a]volume={}dB[n];[0:a][n]amix=inputs=2:duration=first:normalize=0' -map 0:v -c:v copy "
                  "-c:a aac -b:a 128k {}",
                  quoted(clean), quoted(noise), loud - belowDB - noiseLevel, quoted(path)));
  return path;
}

fs::path made(const fs::path& from, const std::string& name, const std::string& arguments) {
  const fs::path path =
      kFolder / fmt::format("{} ~ {}{}", from.stem().string(), name, name.starts_with("remux") ? ".mkv" : ".mp4");
  if (!fs::exists(path)) run(fmt::format("ffmpeg -y -i {} {} {}", quoted(from), arguments, quoted(path)));
  return path;
}

// `other`'s sound from `at` for three seconds in place of `footage`'s.
fs::path spliced(const fs::path& footage, const fs::path& other, double at) {
  return made(footage, fmt::format("{} at {}", other.stem().string(), at),
              fmt::format("-i {2} -filter_complex '[0:a]atrim=0:{0},asetpts=PTS-STARTPTS[a];"
                          "[1:a]atrim={0}:{1},asetpts=PTS-STARTPTS[b];[0:a]atrim=start={1},asetpts=PTS-STARTPTS[c];"
                          "[a][b][c]concat=n=3:v=0:a=1[s]' -map 0:v -map '[s]' -c:v copy -c:a aac",
                          at, at + 3, quoted(other)));
}

// The copies a user may save over the footage, which must pass both bars.
const std::vector<std::pair<std::string, std::string>> kCopies = {
    {"remux", "-c copy"},
    {"aac 24k", "-c:v copy -c:a aac -b:a 24k"},
    {"aac 32k", "-c:v copy -c:a aac -b:a 32k"},
    {"opus 16k", "-c:v copy -c:a libopus -b:a 16k"},
    {"opus 24k", "-c:v copy -c:a libopus -b:a 24k"},
    {"mp3 32k", "-c:v copy -c:a libmp3lame -b:a 32k"},
    {"louder", "-c:v copy -af volume=8dB -c:a aac"},
    {"quieter", "-c:v copy -af volume=-15dB -c:a aac"},
    {"squeezed -30", "-c:v copy -af acompressor=threshold=-30dB:ratio=20:makeup=10 -c:a aac"},
    {"squeezed -40", "-c:v copy -af acompressor=threshold=-40dB:ratio=20:makeup=15 -c:a aac"},
    {"squeezed -45", "-c:v copy -af acompressor=threshold=-45dB:ratio=20:makeup=18 -c:a aac"},
    {"squeezed -50", "-c:v copy -af acompressor=threshold=-50dB:ratio=20:makeup=20 -c:a aac"},
    {"squeezed -50 24k", "-c:v copy -af acompressor=threshold=-50dB:ratio=20:makeup=20 -c:a aac -b:a 24k"},
};

// What the render's hearing says of `heard` in place of the footage `session` describes, over
// pieces of three seconds, one and a third of one, 0.4 s apart, all through (as a decided cut's are
// heard):
// where it first fails, and how its kept sound sounded (heard to the end, failed or not).
struct Render {
  std::optional<double> failsAt;
  std::vector<AudioAnalyzer::LevelHearing::KeptFigure> kept;
  double middleChange = 2;
};

Render rendered(const KestraneSession& session, const fs::path& heard) {
  const AudioAnalyzer::MonoPCM pcm = AudioAnalyzer::decodeMonoPCM(MediaProbe::held(heard.string()));
  const int rate = static_cast<int>(pcm.sampleRate);
  AudioAnalyzer::LevelHearing hearing(session.levels->levelsDBFS(), session.levels->hopDuration, rate,
                                      session.levels->speechLevelsDBFS());
  Render render;
  double at = 0.3;
  for (int i = 0; at + 1.0 < session.source.durationSeconds; ++i) {
    const double kept = i % 3 == 2 ? 0.3 : i % 3 == 1 ? 1.0 : 3.0;
    const auto first = static_cast<std::int64_t>(std::llround(at * rate));
    const auto count = static_cast<std::size_t>(std::llround(kept * rate));
    hearing.startPiece(first);
    if (first + static_cast<std::int64_t>(count) <= static_cast<std::int64_t>(pcm.samples.size())) {
      const float* planes[] = {pcm.samples.data() + first};
      hearing.push(planes, 1, count);
    }
    const std::optional<double> failed = hearing.finishPiece(std::nullopt);
    if (!render.failsAt) render.failsAt = failed;
    at += kept + 0.4;
  }
  render.kept = hearing.keptFigures();
  std::vector<double> changes;
  for (const auto& figure : render.kept) changes.push_back(figure.changeLikeness);
  if (!changes.empty()) {
    std::nth_element(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(changes.size() / 2), changes.end());
    render.middleChange = changes[changes.size() / 2];
  }
  return render;
}

// The least of the kept stretches that start between `from` and `to` seconds: {likeness, change
// likeness}.
std::pair<double, double> least(const Render& render, double from, double to) {
  std::pair<double, double> out{2, 2};
  for (const auto& figure : render.kept) {
    const double at = static_cast<double>(figure.hop) * 0.01;
    if (at < from || at >= to) continue;
    out.first = std::min(out.first, figure.likeness);
    out.second = std::min(out.second, figure.changeLikeness);
  }
  return out;
}

std::string verdict(const KestraneSession& stored, const fs::path& file) {
  KestraneSession session = stored;
  session.source.path = file.string();
  const Pipeline::FootageVerdict said = Pipeline::judgeFootage(session, platform::MediaFile::open(file.string()));
  if (!said.change) return "the footage";
  if (said.change->find("sounds different") != std::string::npos) return "different";
  if (said.change->find("too even") != std::string::npos) return "too even";
  return *said.change;
}

struct Tally {
  double mostCopyDip = 0;     // the most a copy's kept stretch lay below its middle
  double leastSpliceDip = 2;  // the least a splice lay below it
  double leastCopyLikeness = 2;
  int copiesRefused = 0, copiesFailed = 0, othersAccepted = 0, splicesRendered = 0;
};

void measure(const std::string& name, const fs::path& footage, const std::vector<fs::path>& others,
             const std::vector<fs::path>& intruders, Tally& tally) {
  KestraneSession session;
  session.source = MediaProbe::probe(MediaProbe::held(footage.string()));
  const AudioAnalyzer::LevelTrack track = AudioAnalyzer::measureLevels(MediaProbe::held(footage.string()));
  session.levels = AudioAnalyzer::storedLevels(track);
  fmt::print("{}: levels tell {:.2f} of its speech, speech band {:.2f}; {}\n", name,
             AudioAnalyzer::tellingShare(track.levelsDBFS), AudioAnalyzer::tellingShare(track.speechLevelsDBFS),
             session.levels->speechBase64.empty() ? "levels stored" : "speech band stored too");
  for (const auto& [copyName, arguments] : kCopies) {
    const fs::path copy = made(footage, copyName, arguments);
    const std::string said = verdict(session, copy);
    const Render render = rendered(session, copy);
    const auto [likeness, change] = least(render, 0, 1e9);
    const double dip = change <= 1 ? render.middleChange - change : 0;
    if (said != "the footage") ++tally.copiesRefused;
    if (render.failsAt) ++tally.copiesFailed;
    tally.mostCopyDip = std::max(tally.mostCopyDip, dip);
    tally.leastCopyLikeness = std::min(tally.leastCopyLikeness, likeness);
    fmt::print("  {:18} check: {:12} render: {:10} least likeness {:.2f} change {:.2f}, middle {:.2f}, dip {:.2f}\n",
               copyName, said, render.failsAt ? fmt::format("fails {:.1f}", *render.failsAt) : "renders", likeness,
               change, render.middleChange, dip);
  }
  for (const fs::path& other : others) {
    const fs::path padded =
        made(other, fmt::format("padded to {:.2f}", session.source.durationSeconds),
             fmt::format("-vf tpad=stop_mode=clone:stop_duration=10 -af apad -c:v libx264 -preset ultrafast -c:a aac "
                         "-ar 48000 -ac 1 -t {}",
                         session.source.durationSeconds));
    const std::string said = verdict(session, padded);
    if (said == "the footage") ++tally.othersAccepted;
    fmt::print("  {:18} check: {}\n", other.stem().string(), said);
  }
  for (const fs::path& intruder : intruders) {
    for (const double at : {6.0, 12.0, 18.0}) {
      const Render render = rendered(session, spliced(footage, intruder, at));
      // The stretches that take in the splice: two seconds of kept sound span up to three of the
      // footage's.
      const auto [likeness, change] = least(render, at - 3, at + 3);
      const double dip = change <= 1 ? render.middleChange - change : 2;
      if (!render.failsAt) ++tally.splicesRendered;
      if (change <= 1) tally.leastSpliceDip = std::min(tally.leastSpliceDip, dip);
      fmt::print("  {:18} render: {:10} there likeness {:.2f} change {:.2f}, middle {:.2f}, dip {:.2f}\n",
                 fmt::format("{} at {}", intruder.stem().string(), at),
                 render.failsAt ? fmt::format("fails {:.1f}", *render.failsAt) : "RENDERS", likeness, change,
                 render.middleChange, dip);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  fs::create_directories(kFolder);
  // Readers of each script; kal and kal16 are one voice's timing at two rates, so neither is
  // "another voice" to the other.
  const std::vector<std::pair<std::string, int>> readings = {{"rms", 1},      {"slt", 2},   {"awb", 3}, {"kal", 1},
                                                             {"festival", 2}, {"kal16", 3}, {"slt", 3}, {"awb", 1}};
  const std::vector<std::pair<std::string, double>> noises = {{"clean", 0}, {"white", 6}, {"white", 4}, {"pink", 2},
                                                              {"pink", 1},  {"brown", 6}, {"brown", 4}};
  std::vector<std::string> named(argv + 1, argv + argc);
  Tally tally;
  for (const auto& [voice, script] : readings) {
    const std::string name = fmt::format("{}-{}", voice, script);
    if (!named.empty() && std::find(named.begin(), named.end(), name) == named.end()) continue;
    const fs::path clean = reading(voice, script);
    std::vector<fs::path> otherVoices;
    for (const std::string other : {"rms", "slt", "awb", "kal", "festival"})
      if (other != voice && !(other.starts_with("kal") && voice.starts_with("kal")))
        otherVoices.push_back(reading(other, script));
    for (const auto& [colour, below] : noises) {
      if (colour == "clean") {
        measure(name, clean, otherVoices, otherVoices, tally);
        continue;
      }
      const fs::path footage = noisy(clean, colour, below, 7);
      // Another voice under the very same noise, and under other noise of the same kind.
      const std::vector<fs::path> others = {noisy(otherVoices.front(), colour, below, 7),
                                            noisy(otherVoices.back(), colour, below, 9)};
      measure(fmt::format("{} under {} noise {} dB down", name, colour, below), footage, others,
              {noisy(otherVoices.front(), colour, below, 7)}, tally);
    }
  }
  fmt::print(
      "\ncopies refused by the check {}, copies failing the render {}, other recordings accepted {}, splices rendered "
      "{}\nkept sound of copies lies at least {:.2f} alike, and at most {:.2f} below its middle in how it changes; "
      "splices at least {:.2f} below it\n",
      tally.copiesRefused, tally.copiesFailed, tally.othersAccepted, tally.splicesRendered, tally.leastCopyLikeness,
      tally.mostCopyDip, tally.leastSpliceDip);
}
