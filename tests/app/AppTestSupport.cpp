#include "AppTestSupport.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <fstream>

#include <nlohmann/json.hpp>

#include "app/core/Paths.hpp"
#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/model/SessionJson.hpp"
#include "kestrane/platform/MovieFile.hpp"
#include "support/Retimed.hpp"
#include "support/SoundingFootage.hpp"

namespace kestrane::app::test {

Harness::Harness() { remake(); }

Harness::~Harness() {
  job.reset();
  engine->joinLateReports();
}

std::unique_ptr<QSettings> Harness::settings() const {
  return std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
}

void Harness::remake() {
  job.reset();
  job = std::make_unique<JobModel>(engine, settings());
}

QString Harness::touch(const QString& name) const {
  const QString file = dir.filePath(name);
  QDir().mkpath(QFileInfo(file).path());
  QFile f(file);
  f.open(QIODevice::WriteOnly);
  return file;
}

bool Harness::waitFor(Screen screen, int timeoutMs) {
  return waitUntil([&] { return job->state().screen == screen; }, timeoutMs);
}

bool Harness::footageLookedAt(int timeoutMs) {
  return waitUntil([&] { return !job->lookingAtFootage(); }, timeoutMs);
}

QString writeStoredCut(const QString& root, const StoredCut& cut) {
  const QString folder = QDir(root).filePath(cut.folder);
  QDir().mkpath(folder);
  const QString footage = QDir(root).filePath(cut.footage);
  KestraneSession session;
  session.source.path = toPath(footage).string();
  session.source.durationSeconds = cut.seconds;
  session.source.audioSampleRate = 48000;
  session.settings = cut.settings;
  session.projectName = cut.projectName;
  session.projectNotes = cut.projectNotes;
  session.script = cut.script;
  session.transcript = Transcript{{{"hello", {0.5, 1.5}}}};
  if (cut.withCutList) session.cutList = CutList{{{{0, cut.seconds}, SegmentKind::keep}}};
  session.roughCutCutList = cut.roughCutCutList;
  const QString base = QFileInfo(footage).completeBaseName();
  auto make = [&](const QString& name) { QFile(QDir(folder).filePath(name)).open(QIODevice::WriteOnly); };
  if (cut.withMP4) {
    const QString movie = base + QStringLiteral(" rough cut.mp4");
    make(movie);
    if (cut.roughCutCutList && cut.movieIdentity)
      session.roughCutMovie = platform::movieIdentityAt(toPath(QDir(folder).filePath(movie)));
  }
  if (cut.withLevels) {
    std::vector<float> levels = cut.levels;
    if (levels.empty()) {
      levels.assign(300, -60.0f);
      for (int i = 100; i < 200; ++i) levels[i] = -15.0f;
    }
    // A cut stores levels as far as its footage sounds, which sounds on at the last one's loudness.
    levels.resize(std::max(levels.size(), static_cast<std::size_t>(std::ceil(cut.seconds / 0.01))), levels.back());
    session.levels = LevelData::fromLevels(0.01, levels);
  }
  session.write(toPath(QDir(folder).filePath(base + QStringLiteral(".kestrane.json"))));
  // Footage that is what the session says it is, so the package opens as one whose footage is there.
  QDir().mkpath(QFileInfo(footage).absolutePath());
  if (!kestrane::test::makeSoundingFootage(toPath(footage), session.source, session.levels)) return {};
  if (cut.withTimeline) make(base + QStringLiteral(".fcpxml"));
  make(QStringLiteral("transcript.md"));
  make(QStringLiteral("captions.srt"));
  return folder;
}

namespace {

bool ffmpegDid(const QStringList& arguments) {
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
  return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

// Six seconds of levels that rise and fall as speech does, between quiet ends.
std::vector<float> speechLikeLevels() {
  std::vector<float> levels(600, -60.0f);
  std::uint32_t seed = 7;
  std::size_t hop = 40;
  for (bool loud = true; hop < 560; loud = !loud) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t length = 5 + (seed >> 16) % 9;
    const float level = loud ? -14.0f - static_cast<float>((seed >> 8) % 6) : -38.0f;
    for (std::size_t end = std::min<std::size_t>(hop + length, 560); hop < end; ++hop) levels[hop] = level;
  }
  return levels;
}

}  // namespace

QString writeEarlierBuildsCut(const QString& root, EarlierSound sound) {
  StoredCut cut;
  cut.seconds = 6;
  cut.levels = speechLikeLevels();
  cut.settings.manualRemoveRanges = std::vector<TimeRange>{{3.0, 3.5}};
  const QString folder = writeStoredCut(root, cut);
  if (folder.isEmpty()) return {};
  const std::filesystem::path footage = toPath(QDir(root).filePath(cut.footage));
  const std::filesystem::path retimed = footage.parent_path() / "retimed.mov";
  const bool made = kestrane::test::retimed(footage, retimed, [sound](double t, bool isSound) -> std::optional<double> {
    if (!isSound) return t;
    if (sound == EarlierSound::startsLate) return t + kLateSoundSeconds;
    if (t >= kDropoutAt && t < kDropoutAt + kDropoutSeconds) return std::nullopt;
    return t;
  });
  std::error_code ec;
  if (!made || (std::filesystem::rename(retimed, footage, ec), ec)) return {};

  // Levels as that build measured them: over the samples one after another.
  const QString counted = QDir(root).filePath(QStringLiteral("counted.wav"));
  if (!ffmpegDid({"-i", fromPath(footage), "-vn", "-c:a", "pcm_f32le", counted})) return {};
  const AudioAnalyzer::LevelTrack track = AudioAnalyzer::measureLevels(MediaProbe::held(toPath(counted).string()));
  QFile::remove(counted);
  const std::filesystem::path sessionFile = toPath(QDir(folder).filePath(QStringLiteral("take 04.kestrane.json")));
  KestraneSession session = KestraneSession::read(sessionFile);
  session.source = MediaProbe::probe(MediaProbe::held(footage.string()));
  session.levels = LevelData::fromLevels(track.hopDuration, track.levelsDBFS);
  nlohmann::ordered_json text = nlohmann::ordered_json::parse(SessionJson::encode(session));
  text.erase("soundTiming");
  std::ofstream(sessionFile) << text.dump();
  return folder;
}

bool recordOtherFootage(const QString& path) {
  return ffmpegDid({"-f", "lavfi", "-i", "testsrc=s=640x360:r=25:d=12", "-f", "lavfi", "-i", "sine=r=48000:d=12",
                    "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-f", "mov", path});
}

}  // namespace kestrane::app::test
