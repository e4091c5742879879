// The screens over a scripted engine: drops, the open shortcut, the drop message, the reopen link,
// the buttons that lead on, and the texts of the results screen.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "AppTestSupport.hpp"
#include "app/core/FileKinds.hpp"
#include "app/core/ResultsText.hpp"
#include "app/views/Brand.hpp"
#include "app/views/MainWindow.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

struct StubDesktop final : Workspace, FileDialogs {
  QStringList footage;
  int footageAsked = 0;
  QStringList opened, revealed;
  void open(const QString& path) override { opened << path; }
  void reveal(const QString& path) override { revealed << path; }
  QStringList chooseFootage() override {
    ++footageAsked;
    return footage;
  }
  QString choosePreviousCut() override { return {}; }
  QString script;
  QString chooseScript() override { return script; }
};

struct Window : ShownWindow<StubDesktop> {
  void drop(const QList<QUrl>& urls) {
    QWidget* zone = find("dropZone");
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = zone->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &dropped);
  }
};

// A finished cut whose session asks for `target`, with `notes` spoken notes and maybe an MP4.
QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Pipeline::Output finished(ExportTarget target, int notes, bool mp4) {
  PipelineSettings settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  settings.exportTarget = target;
  Pipeline::Output out = sampleOutput("/footage/take 04.mov", settings);
  out.session.editorNotes = std::vector<Advisory>(notes, Advisory{{61.7, 62}, "note"});
  if (mp4) out.mp4URL = out.packageDir / "take 04 rough cut.mp4";
  return out;
}

}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { Brand::applyTheme(*qApp); }

  void aDropReachesTheModelOnceInOrder() {
    Window w;
    w.drop({QUrl::fromLocalFile(w.h.path("c.mov")), QUrl("https://example.invalid/x.mov"),
            QUrl::fromLocalFile(w.h.path("a.mp4")), QUrl::fromLocalFile(w.h.path("b.mkv"))});
    QStringList batch;
    for (const BatchItem& item : w.h.job->batch()) batch << item.footagePath;
    QCOMPARE(batch, (QStringList{w.h.path("c.mov"), w.h.path("a.mp4"), w.h.path("b.mkv")}));
    QCOMPARE(w.h.job->state().screen, Screen::configuring);
    QVERIFY(w.find("options"));
  }

  void ctrlOAsksForFootage() {
    Window w;
    w.desktop.footage = {w.h.path("a.mov")};
    QTest::keyClick(&w.window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w.desktop.footageAsked, 1);
    QCOMPARE(w.h.job->footagePath(), w.h.path("a.mov"));
  }

  void theDropMessageReplacesTheHint() {
    Window w;
    w.drop({QUrl::fromLocalFile(w.h.path("photo.png"))});
    auto* message = w.find<QLabel>("dropMessage");
    QVERIFY(message->isVisible());
    QCOMPARE(message->text(), FileKinds::unsupportedFileMessage());
    w.drop({});
    QVERIFY(!message->isVisible());
  }

  // A move record that opening the package set aside (beside an earlier one it must not
  // replace) is said at once, on the results and then in the options, not only in the report.
  void aRecordSetAsideWhenAPackageOpensIsShownAtOnce() {
    Window w;
    const QDir package(writeStoredCut(w.h.dir.path(), {}));
    const auto write = [&](const QString& name, const QByteArray& bytes) {
      QFile file(package.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(bytes);
    };
    QVERIFY(package.mkpath(".kestrane.move"));
    write(".kestrane.move/precious.txt", "notes");
    write(".kestrane.move-unread", "old");
    w.h.job->openSession(package.path());
    QTRY_VERIFY(w.find("results"));
    const auto setAsideAs = [&](const char* name) {
      return QStringLiteral(
                 "The package held a record of an unfinished move that this program can't have written, "
                 "so it was set aside as %1 and nothing it names was moved or removed.")
          .arg(package.filePath(QString::fromLatin1(name)));
    };
    const QString said = setAsideAs(".kestrane.move-unread-2");
    auto* shown = w.find<QLabel>("openingWarnings");
    QVERIFY(shown && shown->isVisible());
    QCOMPARE(shown->text(), said);
    QCOMPARE(readAll(package.filePath(".kestrane.move-unread-2/precious.txt")), QByteArray("notes"));
    QCOMPARE(readAll(package.filePath(".kestrane.move-unread")), QByteArray("old"));
    w.click("adjustAndRecut");
    QCOMPARE(w.find<QLabel>("footageStatus")->text(), said);

    // Set aside on the way to a session that then can't be read: said after the error.
    QVERIFY(package.mkpath(".kestrane.move"));
    write("take 04.kestrane.json", "{ not json");
    w.h.job->openSession(package.path());
    QTRY_VERIFY(w.find("failure"));
    const QString failure = w.text("failureMessage");
    QVERIFY2(failure.startsWith("Couldn't open session: Can't read the session file "), qPrintable(failure));
    QVERIFY2(failure.endsWith(QLatin1Char(' ') + setAsideAs(".kestrane.move-unread-3")), qPrintable(failure));
  }

  // A record that may be a killed run's own, set aside unfinished, leaves the package maybe mixed:
  // it still opens, for its re-cut, saying so then and on every later opening until a re-cut.
  void aPackageThatMayBeMixedOpensSayingSoUntilItIsRecut() {
    Window w;
    const QDir package(writeStoredCut(w.h.dir.path(), {}));
    const QString session = package.entryList({QStringLiteral("*.kestrane.json")}).value(0);
    QVERIFY(!session.isEmpty());
    // As an earlier version of Kestrane left it, which names too little to be proven its own;
    // written under the usual umask, so its mode, not the test's umask, says only its owner wrote it.
    const QString staged = QStringLiteral(".kestrane-staged-1-0123456789abcdef");
    QVERIFY(QFile::copy(package.filePath(session), package.filePath(staged)));
    QFile record(package.filePath(".kestrane.move"));
    QVERIFY(record.open(QIODevice::WriteOnly));
    record.write(QByteArray("kestrane move 1\0move\0", 21) + staged.toUtf8() + '\0' + session.toUtf8() + '\0');
    record.close();
    QCOMPARE(::chmod(QFile::encodeName(record.fileName()).constData(), 0644), 0);

    w.h.job->openSession(package.path());
    QTRY_VERIFY(w.find("results"));
    const QString mayBeMixed =
        QStringLiteral(" — the package may hold parts of two cuts, and running the re-cut again makes it whole.");
    auto* shown = w.find<QLabel>("openingWarnings");
    QVERIFY(shown && shown->isVisible());
    QVERIFY2(shown->text().startsWith("The package held a record of an unfinished move that an earlier version of "
                                      "Kestrane wrote"),
             qPrintable(shown->text()));
    QVERIFY2(shown->text().endsWith(mayBeMixed), qPrintable(shown->text()));

    expectNoFinishedCut(w);

    for (int opening = 0; opening < 2; ++opening) {
      w.h.job->openSession(package.path());
      QTRY_COMPARE(
          w.find<QLabel>("openingWarnings")->text(),
          QStringLiteral("A Kestrane run was interrupted while moving the files of %1 into place, and its move "
                         "could not be finished")
                  .arg(package.path()) +
              mayBeMixed);
      expectNoFinishedCut(w);
    }
  }

  // Over a package that may hold parts of two cuts, the results never read as a finished cut:
  // the heading says what it may hold, and its re-cut is the first thing offered, above the
  // timeline, which is offered as no more than the others.
  static void expectNoFinishedCut(Window& w) {
    Window::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("This package may hold parts of two cuts"));
    auto* actions = w.find<QWidget>("actions");
    QVERIFY(actions && actions->layout() && actions->layout()->count() > 0);
    auto* first = qobject_cast<QPushButton*>(actions->layout()->itemAt(0)->widget());
    QVERIFY(first);
    QCOMPARE(first->objectName(), QStringLiteral("adjustAndRecut"));
    QCOMPARE(w.window.findChildren<QPushButton*>(QStringLiteral("adjustAndRecut")).size(), 1);
    // Only the first action is the window's violet one.
    const auto violet = [](QPushButton* b) { return b->styleSheet().contains(QStringLiteral("color: white")); };
    QVERIFY(violet(first));
    QVERIFY(!violet(w.find<QPushButton>("openTimeline")));
  }

  // Footage its package can't use is no cut ready: the results are headed so, with the engine's
  // sentence under the heading, and the options neither play nor re-cut it, saying why, until it
  // is back at its path.
  void footageThePackageCantUseLeavesNoCutReady() {
    Window w;
    const QString package = writeStoredCut(w.h.dir.path(), {.withLevels = true});
    const QString footage = w.h.path("take 04.mov");
    QVERIFY(QFile::rename(footage, w.h.path("kept.mov")));
    QVERIFY(recordOtherFootage(footage));
    w.h.job->openSession(package);
    QVERIFY(w.h.footageLookedAt());
    Window::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("This cut\u2019s footage can\u2019t be used"));
    QVERIFY2(w.text("footageProblem").startsWith(footage + " is 0:12 at 640\u00d7360"),
             qPrintable(w.text("footageProblem")));

    w.click("adjustAndRecut");
    QTRY_VERIFY(w.find("options"));
    QVERIFY(!w.find<QPushButton>("cutIt")->isEnabled() && !w.find<QPushButton>("playCut")->isEnabled());
    QCOMPARE(w.text("footageStatus"),
             QStringLiteral("This cut\u2019s footage can\u2019t be used \u2014 Cut It is off until it\u2019s back"));
    w.h.job->start();
    QVERIFY(w.h.engine->recutCalls().empty());

    QVERIFY(QFile::remove(footage) && QFile::rename(w.h.path("kept.mov"), footage));
    w.h.job->adjustAndRecut();  // as the results' button does
    QVERIFY(w.h.footageLookedAt());
    Window::settle();
    QVERIFY(w.find<QPushButton>("cutIt")->isEnabled() && w.find<QPushButton>("playCut")->isEnabled());
  }

  // A rough cut that failed once its package was written says what it left, one sentence a
  // line as the engine said them: the job's warnings, what became of the package and of the
  // movie already in it, and where the package is. Another failure has nothing to add.
  void aFailedRoughCutSaysWhatItLeft() {
    Window w;
    const std::string wrote = "Wrote this cut's timelines, transcript, captions and session file into the package";
    const std::string kept = "Kept the rough cut of the earlier cut \u2014 it shows the earlier cut, not this one";
    w.h.engine->cut.error = std::make_exception_ptr(
        Pipeline::RoughCutFailed("Export failed: can't write /cuts/a Kestrane/a rough cut.mp4 \u2014 Is a directory",
                                 "/cuts/a Kestrane", {wrote, kept}, {"The script couldn't be read"}));
    w.h.job->accept({w.h.touch("a.mov")});
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::failed));
    QTRY_VERIFY(w.find("failureNotes"));
    QCOMPARE(w.text("failureMessage"),
             QStringLiteral("Export failed: can't write /cuts/a Kestrane/a rough cut.mp4 \u2014 Is a directory"));
    QVERIFY(w.find("failureNotes")->isVisible());
    QCOMPARE(w.text("failureNotes"), QStringList({"The script couldn't be read", QString::fromStdString(wrote),
                                                  QString::fromStdString(kept), "Package: /cuts/a Kestrane"})
                                         .join(QLatin1Char('\n')));

    w.click("tryAgain");
    w.h.engine->cut.error = nullptr;
    w.h.engine->cut.failure = "Couldn't read the footage";
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::failed));
    w.settle();
    QTRY_VERIFY(w.find("failureMessage"));
    QVERIFY(!w.find("failureNotes"));
  }

  // A reopened package whose movie shows an earlier cut than the one it stores offers it as
  // that cut's and says so. Only the movie file the session names, of the stored cut's frames, is
  // this cut's, known by its bytes whatever a copy did to its time: one beside a session that
  // records no cut, or no file (an earlier build's) and that can't be told by its length, or with
  // other bytes since, is an earlier cut's.
  void aReopenedMovieOfAnEarlierCutIsOfferedAsSuch() {
    const CutList earlierCut{{{{0, 300}, SegmentKind::keep}, {{300, 754.4}, SegmentKind::silence}}};
    const CutList sameFrames{{{{0, 754.4}, SegmentKind::keep}}};
    struct Row {
      std::optional<CutList> shows;
      bool identity = true;
      bool wholeSeconds = false;  // copied to a disk, or through an archive, that keeps no finer times
      bool earlier = true;
      bool otherBytes = false;
    };
    for (const Row& row : {Row{std::nullopt}, Row{sameFrames, true, false, false}, Row{sameFrames, false},
                           Row{sameFrames, true, true, false}, Row{earlierCut}, Row{earlierCut, true, true},
                           Row{sameFrames, true, false, true, true}}) {
      Window w;
      const QString package = writeStoredCut(
          w.h.dir.path(), {.withMP4 = true, .roughCutCutList = row.shows, .movieIdentity = row.identity});
      const QByteArray movie = QFile::encodeName(QDir(package).filePath("take 04 rough cut.mp4"));
      if (row.otherBytes) {
        QFile file(QString::fromUtf8(movie));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("a movie put here by hand");
      }
      if (row.wholeSeconds) {
        const timespec whole[2] = {{0, UTIME_OMIT}, {1'600'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, movie.constData(), whole, 0), 0);
      }
      const bool earlier = row.earlier;
      w.h.job->openSession(package);
      QTRY_VERIFY(w.find("results"));
      auto* play = w.find<QPushButton>("playRoughCut");
      QVERIFY(play);
      QCOMPARE(play->text().simplified(),
               earlier ? QStringLiteral("Play Earlier Rough Cut") : QStringLiteral("Play Rough Cut"));
      QCOMPARE(w.find("earlierRoughCut") != nullptr, earlier);
      if (earlier) {
        QVERIFY(w.find("earlierRoughCut")->isVisible());
        QCOMPARE(w.text("earlierRoughCut"),
                 QStringLiteral("Kept the rough cut of the earlier cut \u2014 it shows the earlier cut, not this one"));
      }
      w.click("playRoughCut");
      QCOMPARE(w.desktop.opened, QStringList{QDir(package).filePath("take 04 rough cut.mp4")});
    }
  }

  void theReopenLinkFollowsTheFileOnDisk() {
    Harness h;
    h.job->openSession(writeStoredCut(h.dir.path(), {}));  // remembered
    h.job->reset();
    StubDesktop desktop;
    MainWindow window({h.job.get(), &desktop, &desktop});
    auto* link = window.findChild<QPushButton*>("reopenLastCut");
    QVERIFY(!link->isHidden());
    QCOMPARE(link->text(), QStringLiteral("Reopen \u201ctake 04 Kestrane\u201d"));
    QFile::remove(h.job->recentSessionPaths().front());
    h.job->accept({});  // any change redraws the screen
    QVERIFY(link->isHidden());
  }

  void theButtonsLeadOn() {
    Window w;
    w.h.engine->cut.failure = "Couldn't read the footage";
    w.h.job->accept({w.h.touch("a.mov")});
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::failed));
    QCOMPARE(w.find<QLabel>("failureMessage")->text(), QStringLiteral("Couldn't read the footage"));
    w.click("tryAgain");
    QCOMPARE(w.h.job->state().screen, Screen::configuring);

    w.h.engine->cut.failure.reset();
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QTRY_VERIFY(w.find("results"));
    w.click("showPackage");
    QCOMPARE(w.desktop.revealed, QStringList{w.h.path("a Kestrane")});
    w.click("openTimeline");
    QCOMPARE(w.desktop.opened, QStringList{w.h.path("a Kestrane/a.fcpxml")});
    w.click("adjustAndRecut");
    QCOMPARE(w.h.job->state().screen, Screen::configuring);
    QVERIFY(w.h.job->isRecut());
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QTRY_VERIFY(w.find("cutAnother"));
    w.click("cutAnother");
    QCOMPARE(w.h.job->state().screen, Screen::idle);
    QTRY_VERIFY(w.find("dropZone"));
  }

  void theResultsSpeakOfTheTargetEditor() {
    const Pipeline::Output finalCut = finished(ExportTarget::finalCut, 1, true);
    const Pipeline::Output premiere = finished(ExportTarget::premiere, 2, false);
    QVERIFY(ResultsText::importHint(finalCut).isEmpty());
    QVERIFY(ResultsText::importHint(finished(ExportTarget::resolve, 0, false))
                .startsWith("In Resolve: File \u2192 Import \u2192 Timeline\u2026"));
    QVERIFY(ResultsText::importHint(premiere).startsWith("Drag \u201ctake 04 (Premiere).xml\u201d from the package"));

    const ResultsText::Stats stats = ResultsText::stats(finalCut.session);
    QCOMPARE(ResultsText::figuresLine(stats), QStringLiteral("12:34 of footage \u2192 8:15"));
    QCOMPARE(ResultsText::removedLine(stats),
             QStringLiteral("Removed 3 silences \u00b7 1 flub \u00b7 1 alternate take \u00b7 2 fillers"));
    ResultsText::Stats byHand = stats;
    byHand.manual = 3;
    QVERIFY(ResultsText::removedLine(byHand).endsWith("2 fillers \u00b7 3 by your hand"));
    QCOMPARE(ResultsText::spokenNotesText(1), QStringLiteral("1 spoken note to your editor \u2014 cut from the "
                                                             "timeline, marked inside the source clip"));
    QVERIFY(ResultsText::spokenNotesText(2).startsWith("2 spoken notes to"));
    QCOMPARE(ResultsText::timeString(3725), QStringLiteral("62:05"));
    QCOMPARE(ResultsText::advisoryRow({{61.7, 63}, "Breath"}), QStringLiteral("1:01  Breath"));
    QCOMPARE(ResultsText::elapsedLine(12, 100),
             QStringLiteral("Cut in 12s \u00b7 analyzed in 1m 40s while you chose options"));

    // On screen: the button or the instruction, the MP4 only when made, the notes line.
    for (const auto& [output, hasButton, hasMP4, notes] :
         {std::tuple{finalCut, true, true, "1 spoken note"}, std::tuple{premiere, false, false, "2 spoken notes"}}) {
      Window w;
      w.h.engine->makeOutput = [result = output](const auto&, const auto&) { return result; };
      w.h.job->accept({w.h.touch("a.mov")});
      w.click("cutIt");
      QVERIFY(w.h.waitFor(Screen::done));
      QTRY_VERIFY(w.find("results"));
      QCOMPARE(w.find("openTimeline") != nullptr, hasButton);
      QCOMPARE(w.find("importHint") != nullptr, !hasButton);
      QCOMPARE(w.find("playRoughCut") != nullptr, hasMP4);
      QVERIFY(w.find<QLabel>("spokenNotes")->text().startsWith(notes));
      QVERIFY(w.find<QLabel>("elapsed")->text().startsWith("Cut in "));
    }
  }

  // A prominent or bordered button that cannot be pressed must not look as if it could: its
  // face leaves the accent (or the raised grey) and its text dims.
  void disabledButtonsLookDisabled() {
    const auto face = [](QPushButton* b) {
      b->resize(b->sizeHint());
      return b->grab().toImage().pixelColor(6, b->height() / 2);  // inside the padding
    };
    const auto distance = [](const QColor& a, const QColor& b) {
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    for (const auto look : {Brand::ButtonLook::prominent, Brand::ButtonLook::bordered}) {
      std::unique_ptr<QPushButton> b(Brand::button(QStringLiteral("Use Script"), look));
      const QColor enabled = face(b.get());
      b->setEnabled(false);
      const QColor disabled = face(b.get());
      QVERIFY2(distance(enabled, disabled) > 24, qPrintable(enabled.name() + " " + disabled.name()));
      if (look == Brand::ButtonLook::prominent) {
        QVERIFY(distance(enabled, Brand::accent) < 12);
        QVERIFY(distance(disabled, Brand::accent) > 120);
      }
    }

    // The paste sheet's "Use Script" does nothing until there is text, and looks it.
    Window w;
    QGuiApplication::clipboard()->clear();
    w.h.job->accept({w.h.touch("a.mov")});
    w.click("pasteScript");
    QDialog* sheet = nullptr;
    QTRY_VERIFY((sheet = w.find<QDialog>("pasteScriptSheet")));
    auto* use = sheet->findChild<QPushButton*>("useScript");
    QVERIFY(!use->isEnabled());
    const QColor idle = use->grab().toImage().pixelColor(6, use->height() / 2);
    QVERIFY(distance(idle, Brand::accent) > 120);
    sheet->findChild<QPlainTextEdit*>("pasteScriptText")->setPlainText(QStringLiteral("First line."));
    QVERIFY(use->isEnabled());
    QVERIFY(distance(use->grab().toImage().pixelColor(6, use->height() / 2), Brand::accent) < 12);
    sheet->reject();
  }

  // The screens' fixed measures: the wordmark, the two large symbols, the checklist's marks and
  // the results' action column, whose longest label wraps rather than widening it.
  void theScreensKeepTheirMeasures() {
    Window w;
    QCOMPARE(qRound(w.find<QLabel>("wordmark")->font().pointSizeF() / 0.75), 34);  // pixels at 96 dpi

    w.h.engine->cut.stages = {Pipeline::Stage::probing, Pipeline::Stage::detectingSilence,
                              Pipeline::Stage::transcribing};
    w.h.engine->cut.gate.close();
    w.h.job->accept({w.h.touch("a.mov")});
    w.h.job->start();
    QTRY_VERIFY(w.h.job->state().stage == Pipeline::Stage::transcribing);
    // A checklist made for the new stage is placed once it is shown and the event loop has laid
    // it out: each mark 18 wide, its row's label 10 after it.
    QTRY_VERIFY(w.find("checklist") && w.find("checklist")->isVisible());
    const auto misplacedRows = [&] {
      QWidget* checklist = w.find("checklist");
      const QList<QWidget*> marks = checklist->findChildren<QWidget*>("mark");
      const QList<QLabel*> labels = checklist->findChildren<QLabel*>();
      int misplaced = marks.isEmpty() ? 1 : 0;
      for (QWidget* mark : marks) {
        const auto label = std::find_if(labels.begin(), labels.end(), [mark](QLabel* l) {
          return std::abs(l->geometry().center().y() - mark->geometry().center().y()) < 4;
        });
        misplaced += mark->width() != 18 || label == labels.end() ||
                     (*label)->geometry().left() - mark->geometry().right() - 1 != 10;
      }
      return misplaced;
    };
    QTRY_COMPARE(misplacedRows(), 0);
    w.h.engine->cut.gate.open();
    QVERIFY(w.h.waitFor(Screen::done));
    QTRY_VERIFY(w.find("results"));
    QCOMPARE(w.find("seal")->size(), QSize(44, 44));
    QWidget* actions = w.find("actions");
    QVERIFY(actions->width() <= 380);
    auto* show = w.find<QPushButton>("showPackage");
    QCOMPARE(show->text().simplified(), QStringLiteral("Show Handoff Package in the file manager"));
    QVERIFY(show->text().contains(QLatin1Char('\n')));
    QTRY_VERIFY2(show->sizeHint().width() <= show->width(), qPrintable(QString::number(show->sizeHint().width())));

    Window failed;
    failed.h.engine->cut.failure = "Couldn't read the footage";
    failed.h.job->accept({failed.h.touch("a.mov")});
    failed.h.job->start();
    QVERIFY(failed.h.waitFor(Screen::failed));
    QTRY_VERIFY(failed.find("failureSymbol"));
    QCOMPARE(failed.find("failureSymbol")->size(), QSize(44, 44));
  }
};

QTEST_MAIN(ViewsTest)
#include "ViewsTest.moc"
