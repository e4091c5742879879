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

using namespace kestrane;
using namespace kestrane::app;
using kestrane::app::test::NoDesktop;

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
    for (const char* name : {"sample-presenter.fcpxml", "sample-presenter.kestrane.json", "transcript.md",
                             "captions.srt"}) {
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
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
