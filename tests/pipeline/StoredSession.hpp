#pragma once
// A stored session and its package, as a finished cut leaves them, for re-cut tests.
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/platform/MovieFile.hpp"
#include "pipeline/TestSupport.hpp"
#include "support/SoundingFootage.hpp"

namespace kestrane::test {

namespace fs = std::filesystem;

// Three spoken lines with long pauses between them, over 20 s of "talk.mov".
inline KestraneSession storedSession(const fs::path& source) {
  SourceMedia media;
  media.path = source.string();
  media.durationSeconds = 20;
  media.frameDuration = {1000, 29970};  // a rate a little off the standard one
  media.width = 1920;
  media.height = 1080;
  media.hasVideo = true;
  media.audioSampleRate = 48000;

  PipelineSettings settings = appSettings();
  settings.subtitleLength = TranscriptExporter::SubtitleLength::short_;
  settings.embedCaptions = false;
  settings.manualKeepRanges = std::vector<TimeRange>{};
  settings.manualRemoveRanges = std::vector<TimeRange>{{6.0, 8.2}};  // the second line, by hand

  KestraneSession session = KestraneSession::make(media, settings, "Welcome to the show today.");
  session.projectName = "Talk";
  session.projectNotes = "keep it short";
  session.createMotionGraphics = true;

  Transcript transcript;
  std::vector<float> levels(2000, -70.f);
  const auto line = [&](double start, std::initializer_list<const char*> words) {
    double t = start;
    for (const char* w : words) {
      transcript.words.push_back({w, {t, t + 0.35}});
      t += 0.4;
    }
    for (auto i = static_cast<std::size_t>(start * 100); i < static_cast<std::size_t>(t * 100); ++i) levels[i] = -18.f;
  };
  line(1.0, {"Welcome", "to", "the", "show", "today."});
  line(6.0, {"This", "is", "the", "second", "line."});
  line(12.0, {"And", "here", "is", "the", "last."});
  session.transcript = transcript;
  session.levels = LevelData::fromLevels(0.01, levels);
  return session;
}

// Four spoken lines of four seconds and no script, so one can go without falling under the
// floor of kept speech (the AI tests cut one).
inline void fourLines(KestraneSession& session) {
  Transcript transcript;
  std::vector<float> levels(2000, -70.f);
  const char* lines[][8] = {
      {"Welcome", "to", "the", "show", "where", "we", "bake", "bread."},
      {"Okay", "can", "you", "move", "the", "light", "a", "bit?"},
      {"First", "you", "mix", "the", "flour", "and", "the", "water."},
      {"Then", "you", "let", "the", "dough", "rest", "an", "hour."},
  };
  double start = 0.5;
  for (const auto& line : lines) {
    double t = start;
    for (const char* w : line) {
      transcript.words.push_back({w, {t, t + 0.45}});
      t += 0.5;
    }
    for (auto i = static_cast<std::size_t>(start * 100); i < static_cast<std::size_t>(t * 100); ++i) levels[i] = -18.f;
    start = t + 1.0;
  }
  session.transcript = transcript;
  session.levels = LevelData::fromLevels(0.01, levels);
  session.settings.manualRemoveRanges = std::vector<TimeRange>{};
  session.script.reset();
}

// A re-cut of `session` at `tightness`, with the app's settings otherwise.
inline Pipeline::RecutRequest recutOf(const fs::path& session, CutTightness tightness) {
  Pipeline::RecutRequest request;
  request.sessionURL = session;
  request.settings = appSettings();
  request.settings.apply(tightness);
  return request;
}

// A package "Talk Kestrane.kestrane" holding the session of footage "talk.mov" beside it, which
// sounds as the session's levels say.
struct StoredPackage {
  test::TempDir root;
  fs::path footage = root.path() / "talk.mov";
  fs::path package = root.path() / "Talk Kestrane.kestrane";
  fs::path sessionFile = package / "talk.kestrane.json";

  explicit StoredPackage(const std::function<void(KestraneSession&)>& change = {}) {
    fs::create_directories(package);
    KestraneSession session = storedSession(footage);
    if (change) change(session);
    session.write(sessionFile);
    // Footage that is what the session says it is, so a re-cut takes it for the session's.
    if (!makeSoundingFootage(footage, session.source, session.levels))
      throw std::runtime_error("ffmpeg couldn't make the footage of the stored session");
  }
};

// Has the session in `sessionFile` vouch for the file now at `movie`, as the run that put that
// movie in place leaves it: it names the file, and the cut it records (its stored cut when it
// records none).
inline void vouchForMovie(const fs::path& sessionFile, const fs::path& movie) {
  KestraneSession session = KestraneSession::read(sessionFile);
  if (!session.roughCutCutList) session.roughCutCutList = session.cutList;
  session.roughCutMovie = platform::movieIdentityAt(movie);
  session.write(sessionFile);
}

// The hidden entries of `dir`.
inline std::set<std::string> hiddenNames(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.') names.insert(name);
  }
  return names;
}

// Another recording than the sample at `path`: 12 s of a 640×360 test card at 25 fps with a tone,
// where the sample is 33 s at 320×180.
inline bool recordOtherFootage(const fs::path& path) {
  return ffmpeg(
      "-f lavfi -i testsrc=s=640x360:r=25:d=12 -f lavfi -i sine=r=48000:d=12 -c:v libx264 -preset ultrafast "
      "-c:a aac " +
      quoted(path));
}

// A package whose footage is the sample movie, "<stem>.mp4" beside "<name> Kestrane.kestrane", so
// a rough cut renders; its stored session holds the sample's facts and levels, as its first cut
// would.
struct MoviePackage {
  test::TempDir root;
  fs::path footage;
  fs::path package;
  fs::path sessionFile;
  fs::path movie;

  MoviePackage(const std::string& stem, const std::string& name)
      : footage(root.path() / (stem + ".mp4")),
        package(root.path() / (name + " Kestrane.kestrane")),
        sessionFile(package / (stem + ".kestrane.json")),
        movie(package / (stem + " rough cut.mp4")) {
    fs::copy_file(sampleFootage(), footage);
    fs::create_directories(package);
    KestraneSession session = storedSession(footage);
    session.source = MediaProbe::probe(MediaProbe::held(footage.string()));
    const AudioAnalyzer::LevelTrack levels = AudioAnalyzer::measureLevels(MediaProbe::held(footage.string()));
    session.levels = LevelData::fromLevels(levels.hopDuration, levels.levelsDBFS);
    session.write(sessionFile);
  }
  int hiddenFiles() const { return static_cast<int>(hiddenNames(package).size()); }
};

}  // namespace kestrane::test
