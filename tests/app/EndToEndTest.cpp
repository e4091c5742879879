// The window over the real engine: drop the bundled sample with its script, press Cut It, and
// check the package on disk against what the results screen says.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/core/ResultsText.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"
#include "kestrane/analysis/SilencePreview.hpp"

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
    return engine_.analyze(input, progress, std::move(stop));
  }
  Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                       const Pipeline::ProgressCallback& progress, std::stop_token stop) override {
    ranPrepared = prepared.has_value();
    return engine_.run(
        request, prepared,
        [this, progress](const Pipeline::Stage& stage) {
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

 private:
  PipelineEngine engine_;
};

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
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage));
    auto engine = std::make_shared<WatchedEngine>();
    JobModel job(engine, std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    job.accept({footage});
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QTRY_VERIFY(job.draftBands().has_value());
    const std::vector<TimeRange> draft = *job.draftBands();
    QVERIFY(!draft.empty());

    job.start();
    QTRY_VERIFY_WITH_TIMEOUT(job.state().screen != Screen::running, 300000);
    QCOMPARE(job.state().screen, Screen::done);
    QCOMPARE(engine->analyses.load(), 1);
    QVERIFY(engine->ranPrepared && !engine->transcribedInRun);

    std::vector<TimeRange> removed;
    for (const Segment& s : job.state().output->session.cutList->segments) {
      if (s.kind != SegmentKind::keep) removed.push_back(s.range);
    }
    QCOMPARE(SilencePreview::unionOf(removed, 0.01), draft);
  }

  // Adjust & Re-cut with the MP4 box off: new captions leave the movie of the same cut in the
  // package; a hand edit that changes the cut takes it away.
  void aRecutKeepsTheRoughCutWhileItShowsTheCut() {
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage));
    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    job.accept({footage});
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    const auto cut = [&job] {
      job.start();
      return QTest::qWaitFor([&job] { return job.state().screen != Screen::running; }, 300000) &&
             job.state().screen == Screen::done;
    };
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
