// The window over the real engine: drop the bundled sample with its script, press Cut It, and
// check the package on disk against what the results screen says.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

#include "AppTestSupport.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/core/ResultsText.hpp"
#include "app/core/TranscriptCells.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/pipeline/DraftCut.hpp"

using namespace kestrane;
using namespace kestrane::app;
using kestrane::app::test::NoDesktop;

namespace {

// The engine itself, noting whether each run was handed an analysis and which stages it ran.
class WatchedEngine final : public EngineApi {
 public:
  Pipeline::Analysis analyze(const std::filesystem::path& input, const Pipeline::ProgressCallback& progress,
                             std::stop_token stop) override {
    ++analyses;
    return engine_.analyze(input, whileTranscribed(progress), std::move(stop));
  }
  Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                       const Pipeline::ProgressCallback& progress, std::stop_token stop) override {
    ranPrepared = prepared.has_value();
    return engine_.run(
        request, prepared,
        [this, progress = whileTranscribed(progress)](const Pipeline::Stage& stage) {
          if (stage == Pipeline::Stage::transcribing) transcribedInRun = true;
          if (progress) progress(stage);
        },
        std::move(stop));
  }
  Pipeline::Output recut(const Pipeline::RecutRequest& request, const Pipeline::ProgressCallback& progress,
                         std::stop_token stop) override {
    return engine_.recut(request, progress, std::move(stop));
  }
  void ensureSpeechModel() override {}

  std::atomic<int> analyses = 0;
  std::atomic<bool> ranPrepared = false;
  std::atomic<bool> transcribedInRun = false;
  // Done whenever the footage's sound is being transcribed (a recorder writing on), while set.
  std::function<void()> transcribing;

 private:
  Pipeline::ProgressCallback whileTranscribed(const Pipeline::ProgressCallback& progress) const {
    return [this, progress](const Pipeline::Stage& stage) {
      if (stage == Pipeline::Stage::transcribing && transcribing) transcribing();
      if (progress) progress(stage);
    };
  }

  PipelineEngine engine_;
};

// The bundled sample given to a job model over `engine` (the real one), which analyses it in the
// background.
struct SampleJob {
  QTemporaryDir dir;
  QString footage = dir.filePath("sample-presenter.mp4");
  JobModel job;
  explicit SampleJob(std::shared_ptr<EngineApi> engine = std::make_shared<PipelineEngine>())
      : job(std::move(engine), std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat)) {
    if (QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage)) job.accept({footage});
  }
  // Cut It (or the re-cut); whether the cut is done.
  bool cut() {
    job.start();
    return QTest::qWaitFor([this] { return job.state().screen != Screen::running; }, 300000) &&
           job.state().screen == Screen::done;
  }
};

bool runs(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, arguments);
  return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Another take spoken by `voice` and saved over `path` as an editor saves: written aside, then
// renamed over the name.
bool saveSpokenTake(const QString& path, const QString& voice, const QString& words) {
  const QString speech = path + QStringLiteral(".wav"), aside = path + QStringLiteral(".part.mp4");
  return runs("flite", {"-voice", voice, "-t", words, "-o", speech}) &&
         runs("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=navy:s=320x180:r=25", "-i",
                         speech, "-shortest", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", aside}) &&
         ::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path).constData()) == 0;
}

}  // namespace

class EndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void theSampleBecomesAPackageOnScreen() {
    Brand::applyTheme(*qApp);
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    const QString script = dir.filePath("sample-script.txt");
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage));
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-script.txt", script));

    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    NoDesktop desktop;
    MainWindow window({&job, &desktop, &desktop});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    job.accept({footage, script});
    QTest::mouseClick(window.findChild<QPushButton*>("cutIt"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget*>("results") != nullptr, 300000);

    const Pipeline::Output& output = *job.state().output;
    const QDir package(fromPath(output.packageDir));
    QCOMPARE(package.dirName(), QStringLiteral("sample-presenter Kestrane.kestrane"));
    for (const char* name :
         {"sample-presenter.fcpxml", "sample-presenter.kestrane.json", "transcript.md", "captions.srt"}) {
      QVERIFY2(package.exists(name), name);
    }
    const KestraneSession stored = KestraneSession::read(output.sessionURL);
    QVERIFY(stored.script.has_value());
    QVERIFY(stored.cutList && !stored.cutList->segments.empty());
    const ResultsText::Stats stats = ResultsText::stats(stored);
    QVERIFY(stats.kept > 0 && stats.kept < stats.source);
    QCOMPARE(window.findChild<QLabel*>("figures")->text(), ResultsText::figuresLine(stats));
    QCOMPARE(job.recentSessionPaths().front(), fromPath(output.sessionURL));
  }

  void theDraftShowsWhatTheCutRemoves() {
    Brand::applyTheme(*qApp);
    auto engine = std::make_shared<WatchedEngine>();
    SampleJob sample(engine);
    JobModel& job = sample.job;
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QTRY_VERIFY(job.draftBands().has_value());
    const std::vector<TimeRange> draft = *job.draftBands();
    QVERIFY(!draft.empty());

    QVERIFY(sample.cut());
    QCOMPARE(engine->analyses.load(), 1);
    QVERIFY(engine->ranPrepared && !engine->transcribedInRun);

    std::vector<TimeRange> removed;
    for (const Segment& s : job.state().output->session.cutList->segments) {
      if (s.kind != SegmentKind::keep) removed.push_back(s.range);
    }
    QCOMPARE(SilencePreview::unionOf(removed, 0.01), draft);
  }

  // Another take saved over the sample after it was analysed is what Cut It cuts: listened to
  // afresh, its package describes it, not the sample analysed before.
  void aTakeSavedOverTheAnalysedFootageIsCutAsItself() {
    auto engine = std::make_shared<WatchedEngine>();
    SampleJob sample(engine);
    JobModel& job = sample.job;
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QVERIFY(job.levelLength() > 30);
    QVERIFY(saveSpokenTake(sample.footage, "slt", "Here is the second take. It is much shorter than the first one."));

    QVERIFY(sample.cut());
    QCOMPARE(engine->analyses.load(), 2);
    const KestraneSession stored = KestraneSession::read(job.state().output->sessionURL);
    QVERIFY2(stored.source.durationSeconds < 10, qPrintable(QString::number(stored.source.durationSeconds)));
    // The editor shows the take cut, ready to be re-cut.
    QVERIFY(job.levelLength() < 10);
    QVERIFY(!job.lastPreAnalysisDuration());
  }

  // A copy of the sample broken off partway, cut as new footage, is headed on the results with
  // the cut's sentence that its sound ends early, never as a cut ready.
  void aCutOffCopyIsHeadedWithItsShortSound() {
    Brand::applyTheme(*qApp);
    QTemporaryDir dir;
    QFile sample(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4");
    QVERIFY(sample.open(QIODevice::ReadOnly));
    QFile copy(dir.filePath("broken copy.mp4"));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(sample.read(sample.size() * 3 / 10));
    copy.close();

    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    NoDesktop desktop;
    MainWindow window({&job, &desktop, &desktop});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    job.accept({copy.fileName()});
    QTest::mouseClick(window.findChild<QPushButton*>("cutIt"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget*>("results") != nullptr, 300000);
    QCOMPARE(window.findChild<QLabel*>("heading")->text(), QStringLiteral("The footage may be cut off"));
    const QString said = window.findChild<QLabel*>("footageEndsEarly")->text();
    QVERIFY2(said.startsWith("The footage's sound ends at 0:") && said.contains("stated length of 0:33"),
             qPrintable(said));
  }

  // A Matroska take a recorder is still writing: the window never shows a cut ready of the part
  // written. The options say it is still being written; Cut It ends on the one sentence that says
  // to wait until it is saved; once it is, it is listened to and cut whole.
  void aTakeStillBeingWrittenIsNeverCut() {
    auto engine = std::make_shared<WatchedEngine>();
    QTemporaryDir dir;
    const QString take = dir.filePath("take.mkv");
    QVERIFY(runs("ffmpeg", {"-nostdin", "-v", "error", "-i", KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", "-c",
                            "copy", take}));
    std::atomic<bool> recording = true;
    engine->transcribing = [&] {
      if (!recording) return;
      QFile file(take);
      if (file.open(QIODevice::Append)) file.write(QByteArray(4096, '\0'));
    };
    JobModel job(engine, std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    job.accept({take});
    QTRY_VERIFY_WITH_TIMEOUT(job.footageBeingWritten(), 300000);
    job.start();
    QVERIFY(QTest::qWaitFor([&] { return job.state().screen != Screen::running; }, 300000));
    QCOMPARE(job.state().screen, Screen::failed);
    QCOMPARE(job.state().message, take + QStringLiteral(" changed while it was being read, so it is still being "
                                                        "written \u2014 wait until it is saved, then cut it again."));

    recording = false;
    job.retryFromFailure();
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QVERIFY(!job.footageBeingWritten());
    job.start();
    QVERIFY(QTest::qWaitFor([&] { return job.state().screen != Screen::running; }, 300000));
    QCOMPARE(job.state().screen, Screen::done);
  }

  // Keep and Cut of every word of the sample in the transcript, the way the stored cut is re-cut:
  // no other word loses or regains any of its sound, the words struck through are exactly those
  // the package's transcript leaves out, and the re-cut's transcript reads as the editor does.
  void transcriptEditsChangeOnlyTheWordsPicked() {
    SampleJob sample;
    JobModel& job = sample.job;
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QVERIFY(sample.cut());
    const KestraneSession stored = KestraneSession::read(job.state().output->sessionURL);
    job.adjustAndRecut();
    QTRY_VERIFY(job.draftBands().has_value());

    const Pipeline::Analysis analysis{stored.source, *stored.levels, *stored.transcript, {}};
    const std::vector<TranscriptWord>& words = analysis.transcript.words;
    Pipeline::DraftCache cache;
    // Each word as the engine plans the cut now and as the editor shows it.
    struct Word {
      double kept;
      bool lost;
      bool struck;
    };
    const auto look = [&] {
      const CutList cut = Pipeline::draftCut(analysis, std::nullopt, job.currentSettings(), cache).cutList;
      std::vector<Word> out;
      for (const Paragraph& p : TranscriptCells::paragraphs(words, job.effectiveCutBands(), {})) {
        for (const WordCell& cell : p.words) {
          double kept = 0;
          for (const Segment& s : cut.keptSegments())
            kept += std::max(0.0, std::min(s.range.end, cell.range.end) - std::max(s.range.start, cell.range.start));
          const Transcript alone{{words[std::size_t(cell.id)]}};
          out.push_back({kept, TranscriptExporter::wordsOnCutTimeline(alone, cut).empty(), cell.cut});
        }
      }
      return out;
    };
    // Forces word i; names the first word that comes out wrong.
    const auto force = [&](std::size_t i, bool keep) {
      const std::vector<Word> before = look();
      job.forceWords(i, i, keep, job.editHistory());
      const std::vector<Word> after = look();
      for (std::size_t j = 0; j < words.size(); ++j) {
        const bool done = keep ? after[j].kept >= words[j].range.duration() - 1e-9 : after[j].lost;
        if ((j == i ? !done : std::abs(after[j].kept - before[j].kept) > 1e-9) || after[j].struck != after[j].lost)
          return QByteArray(keep ? "Keep " : "Cut ") + words[i].text.c_str() + " at " +
                 QByteArray::number(words[i].range.start) + ": " + words[j].text.c_str();
      }
      return QByteArray();
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
      const bool wasCut = look()[i].struck;
      QCOMPARE(force(i, wasCut) + force(i, !wasCut), QByteArray());
      job.editHistory()->undo();
      job.editHistory()->undo();
    }

    const auto index = [&](const char* text) {
      return std::size_t(std::find_if(words.begin(), words.end(), [&](const auto& w) { return w.text == text; }) -
                         words.begin());
    };
    // The short word between two cut words stays, though the cuts come within a glue of it.
    QCOMPARE(force(index("build"), false) + force(index("small"), false), QByteArray());
    // The re-cut of the stored session with "small" cut and the filler "Um" kept.
    job.editHistory()->undo();
    job.editHistory()->undo();
    QCOMPARE(force(index("small"), false) + force(index("Um"), true), QByteArray());
    QStringList shown;
    const std::vector<Word> now = look();
    for (std::size_t i = 0; i < words.size(); ++i)
      if (!now[i].struck) shown << QString::fromStdString(words[i].text);
    QVERIFY(sample.cut());
    QStringList recut;
    for (const auto& word :
         TranscriptExporter::wordsOnCutTimeline(*stored.transcript, *job.state().output->session.cutList))
      recut << QString::fromStdString(word.text);
    QCOMPARE(recut, shown);
    QVERIFY(recut.join(' ').contains("build a wooden box.") && recut.contains("Um"));
  }

  // Adjust & Re-cut with the MP4 box off: new captions leave the movie of the same cut in the
  // package; a hand edit that changes the cut takes it away.
  void aRecutKeepsTheRoughCutWhileItShowsTheCut() {
    SampleJob sample;
    JobModel& job = sample.job;
    const auto cut = [&sample] { return sample.cut(); };
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    job.setRenderMP4(true);
    QVERIFY(cut());
    const std::optional<std::filesystem::path> movie = job.state().output->mp4URL;
    QVERIFY(movie && std::filesystem::exists(*movie));

    job.adjustAndRecut();
    job.setRenderMP4(false);
    job.setSubtitleLength(TranscriptExporter::SubtitleLength::sentence);
    QVERIFY(cut());
    QVERIFY(std::filesystem::exists(*movie));

    const KestraneSession stored = KestraneSession::read(job.state().output->sessionURL);
    job.adjustAndRecut();
    const Segment firstKept = stored.cutList->keptSegments().front();
    job.setManualEdits({{}, {firstKept.range}});
    QVERIFY(cut());
    QVERIFY(!std::filesystem::exists(*movie));
  }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
