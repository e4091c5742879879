// The window over the real engine: drop the bundled sample with its script, press Cut It, and
// check the package on disk against what the results screen says.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
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

  // Keep and Cut of every word of the sample in the transcript, the way the stored cut is re-cut:
  // no other word loses or regains any of its sound, the words struck through are exactly those
  // the package's transcript leaves out, and the re-cut's transcript reads as the editor does.
  void transcriptEditsChangeOnlyTheWordsPicked() {
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage));
    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    job.accept({footage});
    const auto cut = [&job] {
      job.start();
      return QTest::qWaitFor([&job] { return job.state().screen != Screen::running; }, 300000) &&
             job.state().screen == Screen::done;
    };
    QTRY_COMPARE_WITH_TIMEOUT(job.preAnalysisState(), PreAnalysisState::ready, 300000);
    QVERIFY(cut());
    const KestraneSession stored = KestraneSession::read(job.state().output->sessionURL);
    job.adjustAndRecut();
    QTRY_VERIFY(job.draftBands().has_value());

    const Pipeline::Analysis analysis{stored.source, *stored.levels, *stored.transcript, {}};
    const std::vector<TranscriptWord>& words = analysis.transcript.words;
    Pipeline::DraftCache cache;
    const auto planned = [&] {
      return Pipeline::draftCut(analysis, std::nullopt, job.currentSettings(), cache).cutList;
    };
    const auto keptSeconds = [](const CutList& cutList, const TimeRange& word) {
      double kept = 0;
      for (const Segment& s : cutList.keptSegments())
        kept += std::max(0.0, std::min(s.range.end, word.end) - std::max(s.range.start, word.start));
      return kept;
    };
    const auto lost = [](const CutList& cutList, const TranscriptWord& word) {
      return TranscriptExporter::wordsOnCutTimeline(Transcript{{word}}, cutList).empty();
    };
    const auto struck = [&](std::size_t i) {
      for (const Paragraph& p : TranscriptCells::paragraphs(words, job.effectiveCutBands(), {}))
        for (const WordCell& cell : p.words)
          if (cell.id == int(i)) return cell.cut;
      return false;
    };
    // Forces word i and checks the cut against the one before.
    const auto force = [&](std::size_t i, bool keep) {
      const CutList before = planned();
      job.forceWords(i, i, keep, job.editHistory());
      const CutList after = planned();
      const QByteArray what = QByteArray(keep ? "Keep " : "Cut ") + words[i].text.c_str() + " at " +
                              QByteArray::number(words[i].range.start);
      for (std::size_t j = 0; j < words.size(); ++j) {
        if (j != i && std::abs(keptSeconds(after, words[j].range) - keptSeconds(before, words[j].range)) > 1e-9) {
          return what + ": " + words[j].text.c_str() + " at " + QByteArray::number(words[j].range.start) + " changed";
        }
        if (struck(j) != lost(after, words[j])) return what + ": " + words[j].text.c_str() + " struck wrongly";
      }
      if (keep ? keptSeconds(after, words[i].range) < words[i].range.duration() - 1e-9 : !lost(after, words[i]))
        return what + ": not done";
      return QByteArray();
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
      const bool wasCut = struck(i);
      QCOMPARE(force(i, wasCut), QByteArray());
      QCOMPARE(force(i, !wasCut), QByteArray());
      job.editHistory()->undo();
      job.editHistory()->undo();
      QVERIFY(!job.hasManualEdits());
    }

    const auto index = [&](const char* text) {
      return std::size_t(std::find_if(words.begin(), words.end(), [&](const auto& w) { return w.text == text; }) -
                         words.begin());
    };
    // The short word between two cut words stays, though the cuts come within a glue of it.
    QCOMPARE(force(index("build"), false), QByteArray());
    QCOMPARE(force(index("small"), false), QByteArray());
    job.editHistory()->undo();
    job.editHistory()->undo();

    // The re-cut of the stored session: "small" cut and the filler "Um" kept.
    job.forceWords(index("small"), index("small"), false, job.editHistory());
    job.forceWords(index("Um"), index("Um"), true, job.editHistory());
    QStringList shown;
    for (std::size_t i = 0; i < words.size(); ++i)
      if (!struck(i)) shown << QString::fromStdString(words[i].text);
    QVERIFY(cut());
    QStringList recut;
    for (const auto& word :
         TranscriptExporter::wordsOnCutTimeline(*stored.transcript, *job.state().output->session.cutList))
      recut << QString::fromStdString(word.text);
    QCOMPARE(recut, shown);
    QVERIFY(recut.join(' ').contains("build a wooden box."));
    QVERIFY(recut.contains("Um"));
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
