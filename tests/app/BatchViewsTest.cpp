// The batch in the window over a scripted engine: the strip and the footer of the options
// screen, the running screen's header, the batch results and the drop zone's reopen link.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "AppTestSupport.hpp"
#include "app/core/Paths.hpp"
#include "app/core/RecentSessions.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

struct StubDesktop final : Workspace, FileDialogs {
  QStringList opened, revealed;
  void open(const QString& path) override { opened << path; }
  void reveal(const QString& path) override { revealed << path; }
  QStringList chooseFootage() override { return {}; }
  QString choosePreviousCut() override { return {}; }
  QString chooseScript() override { return {}; }
};

struct Window : ShownWindow<StubDesktop> {
  QStringList videos(std::initializer_list<const char*> names) const {
    QStringList out;
    for (const char* n : names) out << h.path(QString::fromLatin1(n));
    return out;
  }
};

}  // namespace

class BatchViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { Brand::applyTheme(*qApp); }

  void theStripStepsThroughTheBatch() {
    Window w;
    w.h.job->accept(w.videos({"a.mov", "b.mov", "c.mov"}));
    QWidget* strip = w.find("batchStrip");
    QVERIFY(strip && strip->isVisible());
    QCOMPARE(w.text("batchPosition"), QStringLiteral("Video 1 of 3"));
    QVERIFY(!w.find<QPushButton>("batchPrevious")->isEnabled());
    QCOMPARE(w.find<QPushButton>("cutIt")->text(), QStringLiteral("Cut All 3"));
    QVERIFY(w.find<QPushButton>("applyToAll")->isVisible());

    w.click("batchNext");
    w.click("batchNext");
    QCOMPARE(w.h.job->batchIndex(), 2);
    QCOMPARE(w.text("batchPosition"), QStringLiteral("Video 3 of 3"));
    QVERIFY(!w.find<QPushButton>("batchNext")->isEnabled());
    QCOMPARE(w.text("footageName"), QStringLiteral("c.mov"));

    // Return cuts the whole batch, and the running screen names the video being cut.
    w.h.engine->cut.gate.close();
    QTest::keyClick(w.find("options"), Qt::Key_Return);
    QVERIFY(w.h.waitFor(Screen::running));
    QVERIFY(
        waitUntil([&] { return w.find<QLabel>("batchStageLabel") && w.find<QLabel>("batchStageLabel")->isVisible(); }));
    QCOMPARE(w.text("batchStageLabel"), QStringLiteral("Video 1 of 3 \u2014 a"));
    w.h.engine->cut.gate.open();
    QVERIFY(w.h.waitFor(Screen::done));
    QVERIFY(w.find("batchResults"));
  }

  void aSingleVideoHasNoStrip() {
    Window w;
    w.h.job->accept(w.videos({"a.mov"}));
    QVERIFY(!w.find("batchStrip")->isVisible());
    QVERIFY(!w.find<QPushButton>("applyToAll")->isVisible());
    QCOMPARE(w.find<QPushButton>("cutIt")->text(), QStringLiteral("Cut It"));
    QVERIFY(!w.find<QLabel>("batchStageLabel"));
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QVERIFY(w.find("results") && !w.find("batchResults"));
  }

  void batchResultsListEveryVideo() {
    Window w;
    w.h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "b.mov") return "That file has no sound track.";
      return std::nullopt;
    };
    w.h.engine->makeOutput = [](const std::filesystem::path& footage, const PipelineSettings& settings) {
      Pipeline::Output out = sampleOutput(footage, settings);
      if (footage.filename() == "c.mov") out.session.editorNotes = std::vector<Advisory>(1, Advisory{{1, 2}, "n"});
      return out;
    };
    w.h.job->accept(w.videos({"a.mov", "b.mov", "c.mov"}));
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QCOMPARE(w.text("batchTitle"), QStringLiteral("2 of 3 cuts finished"));
    QVERIFY(w.text("batchElapsed").startsWith(QStringLiteral("Batch done in ")));
    auto row = [&](int i) { return w.find(QStringLiteral("batchRow%1").arg(i).toLatin1().constData()); };
    QCOMPARE(row(0)->findChild<QLabel*>("figures")->text(), QStringLiteral("12m 34s \u2192 8m 16s"));
    QCOMPARE(row(1)->findChild<QLabel*>("failure")->text(), QStringLiteral("That file has no sound track."));
    QVERIFY(!row(1)->findChild<QPushButton*>());
    QCOMPARE(row(2)->findChild<QLabel*>("notes")->text(),
             QStringLiteral("1 note to your editor \u2014 markers inside the source clip"));

    QTest::mouseClick(row(2)->findChild<QPushButton*>("openTimeline"), Qt::LeftButton);
    QTest::mouseClick(row(2)->findChild<QPushButton*>("showPackage"), Qt::LeftButton);
    QCOMPARE(w.desktop.opened, QStringList{fromPath(w.h.job->batch()[2].output->fcpxmlURL)});
    QCOMPARE(w.desktop.revealed, QStringList{fromPath(w.h.job->batch()[2].output->packageDir)});

    // An import that cannot be written shows why; once it can, the timeline opens and the
    // message goes.
    const QString blocked = w.h.path(QStringLiteral("blocked"));
    w.h.touch(QStringLiteral("blocked/Kestrane Imports"));  // a file where the folder should be
    qputenv("TMPDIR", blocked.toUtf8());
    w.click("importAll");
    QVERIFY(w.find<QLabel>("importError")->isVisible());
    QVERIFY(!w.text("importError").isEmpty());
    QCOMPARE(w.desktop.opened.size(), 1);
    QFile::remove(blocked + QStringLiteral("/Kestrane Imports"));
    w.click("importAll");
    qunsetenv("TMPDIR");
    QCOMPARE(w.desktop.opened.size(), 2);
    QVERIFY(w.desktop.opened.back().startsWith(blocked + QStringLiteral("/Kestrane Imports/Kestrane Batch Import ")));
    QVERIFY(!w.find<QLabel>("importError")->isVisible());

    w.click("cutMoreVideos");
    QCOMPARE(w.h.job->state().screen, Screen::idle);
    QVERIFY(w.h.job->batch().empty());
  }

  void anotherEditorsTargetHidesImportAll() {
    Window w;
    w.h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "a.mov") return std::nullopt;
      return "";
    };
    w.h.job->accept(w.videos({"a.mov", "b.mov"}));
    w.h.job->setExportTarget(ExportTarget::premiere);
    w.h.job->cutAll();
    QVERIFY(w.h.waitFor(Screen::done));
    QVERIFY(!w.find("importAll"));
    QVERIFY(!w.find("openTimeline"));
    QVERIFY(w.find("showPackage"));
    QCOMPARE(w.text("batchTitle"), QStringLiteral("1 of 2 cuts finished"));
    // A failure without words still says it failed.
    QCOMPARE(w.find("batchRow1")->findChild<QLabel*>("failure")->text(), QStringLiteral("Failed"));
  }

  void theUndoKeysActOnlyOnTheVideoShown() {
    Window w;
    JobModel& job = *w.h.job;
    w.h.engine->cutFailure = [](const std::filesystem::path&) -> std::optional<std::string> { return "no sound"; };
    job.accept(w.videos({"a.mov", "b.mov"}));
    QVERIFY(waitUntil([&] { return job.batch()[1].analysis != nullptr; }));
    const auto undoKey = [&](bool redo) {
      w.find("options")->setFocus();
      QTest::keyClick(&w.window, Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    };
    w.click("batchNext");
    job.editStretch({0.6, 0.9}, false, false, w.window.undoStack());
    const ManualEdits onB = job.manualEdits();
    QVERIFY(!onB.empty());
    w.click("batchPrevious");
    undoKey(false);
    QCOMPARE(job.batch()[1].manualRemovals, onB.removals);
    job.editStretch({1.2, 1.4}, false, false, w.window.undoStack());
    const ManualEdits onA = job.manualEdits();

    // Both cuts fail; Try Again shows b, the last video cut, and a's step stayed with a.
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::failed));
    w.settle();
    w.click("tryAgain");
    w.settle();
    QCOMPARE(w.text("footageName"), QStringLiteral("b.mov"));
    undoKey(false);
    QCOMPARE(job.manualEdits(), onB);
    undoKey(true);
    QCOMPARE(job.manualEdits(), onB);
    QCOMPARE(job.batch()[0].manualRemovals, onA.removals);
  }

  void theDropZoneOffersTheLastBatch() {
    Window w;
    // Each cut leaves its session file where the output says.
    w.h.engine->makeOutput = [](const std::filesystem::path& footage, const PipelineSettings& settings) {
      Pipeline::Output out = sampleOutput(footage, settings);
      std::filesystem::create_directories(out.packageDir);
      out.session.write(out.sessionURL);
      return out;
    };
    w.h.job->accept(w.videos({"a.mov", "b.mov"}));
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    w.click("cutMoreVideos");
    w.settle();
    QPushButton* reopen = w.find<QPushButton>("reopenLastBatch");
    QVERIFY(reopen && reopen->isVisible());
    QCOMPARE(reopen->text(), QStringLiteral("Reopen Last Batch (2 videos)"));
    w.click("reopenLastBatch");
    QCOMPARE(w.h.job->state().screen, Screen::configuring);
    QCOMPARE(w.text("batchPosition"), QStringLiteral("Video 1 of 2"));

    // With one session gone the link goes too.
    QFile::remove(w.h.job->recentBatchPaths().front());
    w.click("change");
    w.settle();
    QVERIFY(!w.find<QPushButton>("reopenLastBatch")->isVisible());
  }
};

QTEST_MAIN(BatchViewsTest)
#include "BatchViewsTest.moc"
