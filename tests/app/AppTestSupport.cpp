#include "AppTestSupport.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "app/core/Paths.hpp"
#include "kestrane/platform/MovieFile.hpp"
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
  session.source.durationSeconds = 754.4;
  session.source.audioSampleRate = 48000;
  session.settings = cut.settings;
  session.projectName = cut.projectName;
  session.projectNotes = cut.projectNotes;
  session.script = cut.script;
  session.transcript = Transcript{{{"hello", {0.5, 1.5}}}};
  if (cut.withCutList) session.cutList = CutList{{{{0, 754.4}, SegmentKind::keep}}};
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
    std::vector<float> levels(300, -60.0f);
    for (int i = 100; i < 200; ++i) levels[i] = -15.0f;
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

bool recordOtherFootage(const QString& path) {
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ffmpeg.start(QStringLiteral("ffmpeg"), {"-nostdin", "-v",      "error",   "-y",
                                          "-f",       "lavfi",   "-i",      "testsrc=s=640x360:r=25:d=12",
                                          "-f",       "lavfi",   "-i",      "sine=r=48000:d=12",
                                          "-c:v",     "libx264", "-preset", "ultrafast",
                                          "-c:a",     "aac",     "-f",      "mov",
                                          path});
  return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}

}  // namespace kestrane::app::test
