// A batch through the window over the real engine: three recordings made here, two spoken by
// different voices and one without any sound, cut with Cut All.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

#include "AppTestSupport.hpp"
#include "FcpxmlDtd.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"

using namespace kestrane;
using namespace kestrane::app;
using kestrane::app::test::NoDesktop;

namespace {

bool run(const QString& command) {
  return std::system((command + QStringLiteral(" >/dev/null 2>&1")).toUtf8().constData()) == 0;
}

QString quoted(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

// Two lines read by `voice` with pauses between them, over a small test picture.
bool makeSpoken(const QDir& dir, const QString& voice, const QString& out) {
  const QString a = dir.filePath(voice + "-a.wav"), b = dir.filePath(voice + "-b.wav");
  const QString gap = dir.filePath(voice + "-gap.wav"), joined = dir.filePath(voice + ".wav");
  return run("flite -voice " + voice + " -t 'The first board needs a careful cut before we move on.' -o " +
             quoted(a)) &&
         run("flite -voice " + voice + " -t 'Every corner joint gets two coats of oil.' -o " + quoted(b)) &&
         run("sox -n -r 16000 -c 1 -b 16 " + quoted(gap) + " trim 0 2.5") &&
         run("sox " + quoted(gap) + " " + quoted(a) + " " + quoted(gap) + " " + quoted(b) + " " + quoted(gap) + " " +
             quoted(joined)) &&
         run("ffmpeg -y -f lavfi -i testsrc=size=320x240:rate=25 -i " + quoted(joined) +
             " -shortest -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac " + quoted(out));
}

}  // namespace

class BatchEndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void aBatchWithASilentVideoEndsWithTwoPackagesAndOneReason() {
    Brand::applyTheme(*qApp);
    QTemporaryDir dir;
    const QDir here(dir.path());
    const QString first = here.filePath("first take.mp4"), second = here.filePath("second take.mp4");
    const QString silent = here.filePath("no sound.mp4");
    QVERIFY(makeSpoken(here, "slt", first));
    QVERIFY(makeSpoken(here, "awb", second));
    QVERIFY(
        run("ffmpeg -y -f lavfi -i testsrc=size=320x240:rate=25 -t 5 -c:v libx264 -preset ultrafast "
            "-pix_fmt yuv420p " +
            quoted(silent)));

    JobModel job(std::make_shared<PipelineEngine>(),
                 std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    NoDesktop desktop;
    MainWindow window({&job, &desktop, &desktop});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    job.accept({first, silent, second});
    QCOMPARE(window.findChild<QLabel*>("batchPosition")->text(), QStringLiteral("Video 1 of 3"));
    window.findChild<QPushButton*>("applyToAll")->click();
    QPushButton* cut = window.findChild<QPushButton*>("cutIt");
    QCOMPARE(cut->text(), QStringLiteral("Cut All 3"));
    QTest::mouseClick(cut, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget*>("batchResults") != nullptr, 480000);

    const auto& batch = job.batch();
    QCOMPARE(batch.size(), size_t(3));
    QVERIFY(batch[0].output && batch[2].output);
    QVERIFY(!batch[1].output && batch[1].failure && !batch[1].failure->isEmpty());
    for (const BatchItem& item : {batch[0], batch[2]}) {
      const QDir package(fromPath(item.output->packageDir));
      QVERIFY2(package.exists(), qPrintable(package.path()));
      QVERIFY(package.exists(QFileInfo(item.footagePath).completeBaseName() + ".kestrane.json"));
      QVERIFY(item.output->session.cutList && item.output->session.cutList->keptDuration() > 0);
    }
    QCOMPARE(window.findChild<QLabel*>("batchTitle")->text(), QStringLiteral("2 of 3 cuts finished"));
    auto* reason = window.findChild<QWidget*>("batchRow1")->findChild<QLabel*>("failure");
    QCOMPARE(reason->text(), *batch[1].failure);
    QCOMPARE(job.recentBatchPaths().size(), 2);

    // Both finished cuts in one timeline that the editor's format accepts.
    qputenv("TMPDIR", dir.path().toUtf8());
    window.findChild<QPushButton*>("importAll")->click();
    qunsetenv("TMPDIR");
    QVERIFY(!job.batchImportError());
    const QStringList written = QDir(here.filePath("Kestrane Imports")).entryList({"Kestrane Batch Import *.fcpxml"});
    QCOMPARE(written.size(), 1);
    const QString timeline = here.filePath("Kestrane Imports/" + written.front());
    QVERIFY(run(QString::fromStdString(fcpxml_dtd::xmllint(timeline.toStdString()))));
  }
};

// As QTEST_MAIN, with an exit status that tells a timeline not checked against the DTD.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  BatchEndToEndTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return fcpxml_dtd::exitStatus(QTest::qExec(&test, argc, argv));
}
#include "BatchEndToEndTest.moc"
