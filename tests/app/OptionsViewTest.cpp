// The options screen over a scripted engine: the status line, the script row in each of its
// forms, the paste sheet, the keys, and the output section.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "AppTestSupport.hpp"
#include "app/views/Brand.hpp"
#include "app/views/FormControls.hpp"
#include "app/views/MainWindow.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

struct ScriptDesktop final : Workspace, FileDialogs {
  QString script;
  void open(const QString&) override {}
  void reveal(const QString&) override {}
  QStringList chooseFootage() override { return {}; }
  QString choosePreviousCut() override { return {}; }
  QString chooseScript() override { return script; }
};

struct Window : ShownWindow<ScriptDesktop> {
  bool shown(const char* name) const {
    QWidget* w = find(name);
    return w && w->isVisibleTo(&window);
  }
  // The script row: its text and which links it offers.
  QString scriptRow() const {
    QString row = text("scriptText");
    for (const char* link : {"addScriptFile", "pasteScript", "removeScript", "undoRemoveScript"}) {
      if (shown(link)) row += QStringLiteral(" [") + find<QPushButton>(link)->text() + QStringLiteral("]");
    }
    return row;
  }
  Segmented* segments(const char* name) const { return static_cast<Segmented*>(find(name)); }
  QDialog* sheet() const { return find<QDialog>("pasteScriptSheet"); }
};

}  // namespace

class OptionsViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    Brand::applyTheme(*qApp);
    QStandardPaths::setTestModeEnabled(true);
  }

  void theStatusLineFollowsTheAnalysis() {
    Window w;
    w.h.engine->analysis.gate.close();
    w.h.job->accept({w.h.touch("take3.mov")});
    QTRY_VERIFY(w.find("options"));
    QCOMPARE(w.text("footageName"), QStringLiteral("take3.mov"));
    QCOMPARE(w.find<QLineEdit>("projectName")->placeholderText(), QStringLiteral("take3"));
    QCOMPARE(w.text("footageStatus"), QStringLiteral("Analyzing in the background while you choose\u2026"));
    QVERIFY(w.shown("previewPlaceholder") && !w.shown("levelStrip"));
    QCOMPARE(w.text("subtitleSampleNote"), QStringLiteral("An example \u2014 yours appears once analysis finishes."));
    w.h.engine->analysis.gate.open();
    QTRY_COMPARE(w.text("footageStatus"), QStringLiteral("Analysis done \u2014 Cut It goes straight to deciding"));
    QVERIFY(!w.shown("previewPlaceholder") && w.shown("levelStrip"));
    QCOMPARE(w.text("subtitleSampleNote"), QStringLiteral("One of yours, at this setting."));
    QCOMPARE(w.text("subtitleSample"), QStringLiteral("hello"));

    w.h.engine->analysis.failure = "Can't read media";
    w.h.job->accept({w.h.touch("b.mov")});
    QTRY_COMPARE(w.text("footageStatus"),
                 QStringLiteral("Quick pre-check failed \u2014 the full analysis will run when you press Cut It"));
    w.h.job->reset();
    w.settle();
    w.h.job->openSession(writeStoredCut(w.h.dir.path(), {.withTimeline = false}));
    QCOMPARE(w.text("footageStatus"), QStringLiteral("Re-cut with new settings \u2014 instant, no re-analysis"));
  }

  void theScriptRowOffersWhatTheCutCanUse() {
    Window w;
    w.h.job->accept({w.h.touch("a.mov")});
    QTRY_VERIFY(w.find("options"));
    QCOMPARE(w.scriptRow(),
             QStringLiteral("None \u2014 Kestrane finds the best takes on its own [Add File\u2026] [Paste\u2026]"));
    w.desktop.script = w.h.touch("lines.txt");
    w.click("addScriptFile");
    QCOMPARE(w.scriptRow(), QStringLiteral("lines.txt [Remove]"));
    w.click("removeScript");
    QVERIFY(w.h.job->scriptPath().isEmpty());

    // A reopened session with a script: Remove drops it for the re-cut, Undo brings it back. A
    // file attached meanwhile shows first, and is what the next cut reads.
    StoredCut stored;
    stored.withTimeline = false;
    stored.script = "Hello.";
    w.h.job->reset();
    w.settle();
    w.h.job->openSession(writeStoredCut(w.h.dir.path(), stored));
    QVERIFY(w.h.job->isRecut() && w.h.job->sessionHasScript());
    w.h.job->setScriptPath(w.h.touch("new.txt"));
    QCOMPARE(w.scriptRow(), QStringLiteral("new.txt [Remove]"));
    w.click("removeScript");
    QCOMPARE(w.scriptRow(), QStringLiteral("From previous run \u2713 [Remove]"));
    w.click("removeScript");
    QCOMPARE(w.scriptRow(), QStringLiteral("Removed \u2014 this re-cut runs script-free [Undo]"));
    w.click("undoRemoveScript");
    QVERIFY(!w.h.job->dropStoredScript());

    // A re-cut of a session without a script offers a new one; taken, the footage is cut afresh
    // against it instead of re-cut without it.
    stored.script.reset();
    stored.folder = QStringLiteral("take 05 Kestrane");
    w.h.job->reset();
    w.settle();
    w.h.job->openSession(writeStoredCut(w.h.dir.path(), stored));
    QVERIFY(w.h.job->isRecut() && !w.h.job->sessionHasScript());
    QCOMPARE(w.scriptRow(),
             QStringLiteral("None \u2014 Kestrane finds the best takes on its own [Add File\u2026] [Paste\u2026]"));
    w.desktop.script = w.h.touch("lines.txt");
    w.click("addScriptFile");
    QCOMPARE(w.scriptRow(), QStringLiteral("lines.txt [Remove]"));
    w.h.job->start();
    QVERIFY(w.h.waitFor(Screen::done));
    QVERIFY(w.h.engine->recutCalls().empty());
    QCOMPARE(w.h.engine->runCalls().back().first.scriptURL, std::optional(toPath(w.desktop.script)));
  }

  void thePasteSheetNeverOffersTheScriptJustAdopted() {
    Window w;
    w.h.job->accept({w.h.touch("a.mov")});
    QTRY_VERIFY(w.find("options"));
    QGuiApplication::clipboard()->setText(QStringLiteral("  \n"));
    w.click("pasteScript");
    QTRY_VERIFY(w.sheet());
    auto* editor = w.sheet()->findChild<QPlainTextEdit*>("pasteScriptText");
    QVERIFY(editor->toPlainText().isEmpty());  // blank equals the empty last adoption
    QVERIFY(!w.sheet()->findChild<QPushButton*>("useScript")->isEnabled());
    QTest::mouseClick(w.sheet()->findChild<QPushButton*>("cancelPaste"), Qt::LeftButton);
    QTRY_VERIFY(!w.sheet());

    QGuiApplication::clipboard()->setText(QStringLiteral("Line one.\nLine two."));
    w.click("pasteScript");
    QTRY_VERIFY(w.sheet());
    editor = w.sheet()->findChild<QPlainTextEdit*>("pasteScriptText");
    QCOMPARE(editor->toPlainText(), QStringLiteral("Line one.\nLine two."));
    editor->appendPlainText(QStringLiteral("\n"));
    QTest::mouseClick(w.sheet()->findChild<QPushButton*>("useScript"), Qt::LeftButton);
    QTRY_VERIFY(!w.sheet());
    QVERIFY(w.h.job->scriptPath().endsWith("/Pasted script.txt"));
    QCOMPARE(w.scriptRow(), QStringLiteral("Pasted script.txt [Remove]"));
    QDir(QFileInfo(w.h.job->scriptPath()).path()).removeRecursively();

    // The same text again, even with a line break added, opens an empty editor.
    QGuiApplication::clipboard()->setText(QStringLiteral("Line one.\nLine two.\n"));
    w.click("removeScript");
    w.click("pasteScript");
    QTRY_VERIFY(w.sheet());
    QVERIFY(w.sheet()->findChild<QPlainTextEdit*>("pasteScriptText")->toPlainText().isEmpty());
    w.sheet()->reject();
  }

  void spaceAndReturnGoWhereTheyBelong() {
    Window w;
    QSignalSpy toggles(w.h.job.get(), &JobModel::auditionToggleRequested);
    w.h.engine->analysis.gate.close();
    w.h.job->accept({w.h.touch("a.mov")});
    QTRY_VERIFY(w.find("options"));
    w.find("options")->setFocus();
    QTest::keyClick(&w.window, Qt::Key_Space);
    QCOMPARE(toggles.count(), 0);  // no levels yet
    w.h.engine->analysis.gate.open();
    QTRY_VERIFY(!w.h.job->levelsDBFS().empty());
    QTest::keyClick(&w.window, Qt::Key_Space);
    QCOMPARE(toggles.count(), 1);

    auto* name = w.find<QLineEdit>("projectName");
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("My take"));
    QCOMPARE(toggles.count(), 1);
    QCOMPARE(w.h.job->projectName(), QStringLiteral("My take"));

    QTest::keyClick(name, Qt::Key_Return);
    QVERIFY(w.h.waitFor(Screen::done));
    QCOMPARE(w.h.engine->runCalls().back().first.projectName, std::optional<std::string>("My take"));
  }

  void theOptionsReachTheModel() {
    Window w;
    w.h.job->accept({w.h.touch("a.mov")});
    QTRY_VERIFY(w.find("options"));
    QTest::mouseClick(w.segments("tightness")->segment(3), Qt::LeftButton);
    QCOMPARE(w.h.job->tightness(), CutTightness::jumpCut);
    QCOMPARE(w.text("tightnessText"),
             QStringLiteral("Every pause goes and the cuts land right on the words. Classic YouTube energy."));
    QTest::mouseClick(w.segments("thoroughness")->segment(0), Qt::LeftButton);
    QCOMPARE(w.h.job->thoroughness(), Thoroughness::silencesOnly);
    QVERIFY(w.text("thoroughnessText").startsWith("Every word you said is kept"));
    w.h.job->setThoroughness(Thoroughness::meticulous);
    QVERIFY(w.text("thoroughnessText").startsWith("Also cuts flubs"));

    QTest::mouseClick(w.segments("exportTarget")->segment(2), Qt::LeftButton);
    QCOMPARE(w.h.job->exportTarget(), ExportTarget::premiere);
    QVERIFY(w.text("exportTargetText").startsWith("Adds a Premiere-ready .xml"));
    QTest::mouseClick(w.segments("subtitleLength")->segment(3), Qt::LeftButton);
    QCOMPARE(w.text("subtitleHint"), QStringLiteral("A whole sentence per block \u2014 the fewest blocks to manage."));
    QVERIFY(w.shown("subtitleGroup"));
    QTest::mouseClick(w.find<QWidget>("embedCaptions"), Qt::LeftButton);
    QVERIFY(!w.h.job->embedCaptions());
    QVERIFY(!w.shown("subtitleGroup"));
    QTest::mouseClick(w.find<QWidget>("renderMP4"), Qt::LeftButton);
    QVERIFY(w.h.job->renderMP4());
  }

  // At the window's least width, and at its first size, every control of the screen lies within
  // it, whatever the rows hold: a batch, a long script name or the offer of one, hand edits, the
  // zoomed waveform with the transcript, the output section. Rows too long for a line wrap, never
  // mid-phrase.
  void everythingFitsAtTheLeastWidth() {
    Window w;
    w.h.engine->levels.assign(6000, -20.0f);
    std::fill(w.h.engine->levels.begin() + 1000, w.h.engine->levels.begin() + 1200, -70.0f);
    w.h.job->accept({w.h.touch("Interview take 2.mov"), w.h.touch("b.mov")});
    QTRY_VERIFY(w.h.job->draftBands() && w.shown("waveform"));
    w.h.job->setScriptPath(w.h.touch("Interview take 2 script, final version.txt"));
    w.h.job->editStretch({20, 25}, false, false, nullptr);
    w.click("showTranscript");
    w.click("editMode");
    w.find<QSlider>("zoom")->setValue(300);
    const int firstWidth = w.window.width();
    for (int width : {w.window.minimumWidth(), firstWidth}) {
      w.window.resize(width, 700);
      QTRY_VERIFY2(outside(w).isEmpty(), qPrintable(outside(w).join(QLatin1Char('\n'))));
      auto* readout = w.find<QLabel>("previewReadout");
      QVERIFY(readout->text().endsWith(QStringLiteral("1 hand edit.")));
      QVERIFY(readout->fontMetrics().horizontalAdvance(readout->text()) <= readout->width());
    }
    w.h.job->setScriptPath({});
    QVERIFY(w.shown("pasteScript"));
    w.window.resize(w.window.minimumWidth(), 700);
    QTRY_VERIFY2(outside(w).isEmpty(), qPrintable(outside(w).join(QLatin1Char('\n'))));
  }

 private:
  // The shown widgets of the options screen that reach past its right edge, or past the form's
  // visible width for those in the form; once the layout has settled.
  static QStringList outside(const Window& w) {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
      QTest::qWait(20);
    }
    auto* form = w.find<QScrollArea>("optionsForm");
    QWidget* screen = w.find("options");
    QStringList found;
    for (QWidget* child : screen->findChildren<QWidget*>()) {
      if (!child->isVisibleTo(screen)) continue;
      const bool inForm = form->widget()->isAncestorOf(child);
      QWidget* frame = inForm ? form->viewport() : screen;
      const QRect at(child->mapTo(frame, QPoint(0, 0)), child->size());
      if (at.left() < 0 || at.right() >= frame->width()) {
        found << QStringLiteral("%1 %2 (%3) from %4 to %5 of %6")
                     .arg(QString::fromLatin1(child->metaObject()->className()), child->objectName(),
                          child->property("text").toString())
                     .arg(at.left())
                     .arg(at.right())
                     .arg(frame->width());
      }
    }
    return found;
  }
};

QTEST_MAIN(OptionsViewTest)
#include "OptionsViewTest.moc"
