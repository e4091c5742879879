// The cut preview inside the options screen, driven through the real window over a scripted
// engine: edits on the waveform and the transcript as undo steps (and the keys that undo them),
// playback that stops for edits and resumes over a refreshed draft, the readout and zoom
// arithmetic, and the notice for footage that has moved.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QUndoStack>
#include <QWheelEvent>

#include "AppTestSupport.hpp"
#include "app/core/TranscriptCells.hpp"
#include "app/views/Brand.hpp"
#include "app/views/CutPreviewSection.hpp"
#include "app/views/MainWindow.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

// Ten seconds: speech from 1 to 4 s and from 6 to 9 s, quiet around it, four words in each.
void speakTwoLines(FakeEngine& engine) {
  engine.levels.assign(1000, -60.0f);
  std::fill(engine.levels.begin() + 100, engine.levels.begin() + 400, -20.0f);
  std::fill(engine.levels.begin() + 600, engine.levels.begin() + 900, -20.0f);
  engine.transcript.words = {{"one", {1.1, 1.6}},  {"two", {1.8, 2.4}}, {"three", {2.6, 3.2}}, {"four", {3.3, 3.9}},
                             {"five", {6.1, 6.6}}, {"six", {6.8, 7.4}}, {"seven", {7.6, 8.2}}, {"eight", {8.3, 8.9}}};
}

struct Window {
  Harness h;
  NoDesktop desktop;
  MainWindow window{{h.job.get(), &desktop, &desktop}};

  Window() {
    speakTwoLines(*h.engine);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }
  ~Window() {
    // Reads of the sound still waiting would hold the threads the model joins.
    h.engine->soundGate.open();
  }
  template <class T = QWidget>
  T* find(const char* name) const {
    return window.findChild<T*>(QString::fromLatin1(name));
  }
  JobModel& job() const { return *h.job; }
  QUndoStack& undo() const { return *window.undoStack(); }
  WaveformView* waveform() const { return find<WaveformView>("waveform"); }
  QString text(const char* name) const { return find<QLabel>(name)->text(); }
  bool shown(const char* name) const {
    QWidget* w = find(name);
    return w && w->isVisibleTo(&window);
  }
  // Opens footage and waits for its draft; the options screen shows the waveform.
  void openAnalysed() {
    job().accept({h.touch(QStringLiteral("take.mov"))});
    QTRY_VERIFY(job().draftBands());
    QTRY_VERIFY(shown("waveform"));
  }
  QPoint at(double seconds) const { return QPoint(int(waveform()->xAt(seconds)), 60); }
  void drag(double from, double to) const {
    QTest::mousePress(waveform(), Qt::LeftButton, {}, at(from));
    QTest::mouseMove(waveform(), at((from + to) / 2));
    QTest::mouseMove(waveform(), at(to));
    QTest::mouseRelease(waveform(), Qt::LeftButton, {}, at(to));
  }
  void key(QKeyCombination keys) { QTest::keyClick(&window, keys.key(), keys.keyboardModifiers()); }
};

}  // namespace

class CutPreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    Brand::applyTheme(*qApp);
    QStandardPaths::setTestModeEnabled(true);
  }

  void theSectionShowsThePlaceholderUntilLevelsExist() {
    Window w;
    w.h.engine->analysis.gate.close();
    w.job().accept({w.h.touch(QStringLiteral("take.mov"))});
    QTRY_VERIFY(w.find("cutPreview"));
    w.find<QPushButton>("showTranscript")->setChecked(true);
    QVERIFY(w.shown("previewPlaceholder"));
    for (const char* hidden : {"waveform", "playCut", "transcript", "sourceMissing"}) QVERIFY(!w.shown(hidden));
    w.h.engine->analysis.gate.open();
    QTRY_VERIFY(w.job().draftBands());
    QVERIFY(!w.shown("previewPlaceholder"));
    QVERIFY(w.shown("waveform") && w.shown("transcript"));  // the switch was kept
    QCOMPARE(w.find<QPushButton>("playCut")->text(), QStringLiteral("Play the cut"));
    QVERIFY(w.text("previewReadout").endsWith(QStringLiteral("of 10s survives.")));
    QVERIFY(!w.shown("clearEdits"));
  }

  void waveformEditsAreStepsTheKeysUndoAndRedo() {
    Window w;
    w.openAnalysed();
    const std::vector<TimeRange> before = w.job().effectiveCutBands();
    QVERIFY(before.size() >= 2);
    const TimeRange gap = before[1];  // the pause between the lines
    QVERIFY(gap.start < 4.5 && gap.end > 5.5);

    w.find<QPushButton>("editMode")->click();
    QCOMPARE(w.waveform()->mode(), WaveformView::Mode::edit);
    QVERIFY(w.text("previewIntro").startsWith(QStringLiteral("Editing:")));
    // Across shaded audio: the middle of the pause comes back.
    w.drag(4.6, 5.4);
    QCOMPARE(w.job().manualKeeps().size(), 1u);
    QVERIFY(std::abs(w.job().manualKeeps().front().start - 4.6) < 0.02);
    QVERIFY(std::abs(w.job().manualKeeps().front().end - 5.4) < 0.02);
    QCOMPARE(w.undo().count(), 1);
    QCOMPARE(w.undo().undoText(), QStringLiteral("Cut Edit"));
    QVERIFY(w.text("previewReadout").endsWith(QStringLiteral(" 1 hand edit.")));
    QVERIFY(w.shown("clearEdits"));

    w.find<QWidget>("options")->setFocus();
    w.key(Qt::CTRL | Qt::Key_Z);
    QVERIFY(!w.job().hasManualEdits());
    QCOMPARE(w.job().effectiveCutBands(), before);
    w.key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    QCOMPARE(w.job().manualKeeps().size(), 1u);

    // While the name is typed these keys are about its text.
    auto* name = w.find<QLineEdit>("projectName");
    name->setFocus();
    QTest::keyClicks(name, QStringLiteral("x"));
    w.key(Qt::CTRL | Qt::Key_Z);
    QCOMPARE(w.job().manualKeeps().size(), 1u);
    QCOMPARE(name->text(), QStringLiteral("take"));
    w.key(Qt::CTRL | Qt::Key_Z);  // nothing left to undo in the name: still not the edits
    QCOMPARE(w.job().manualKeeps().size(), 1u);

    // Too short a stretch after snapping changes nothing and records nothing.
    w.find<QWidget>("options")->setFocus();
    w.job().editStretch({7.0, 7.02}, false, false, w.window.undoStack());
    QCOMPARE(w.undo().count(), 1);

    // One edge drag, however many moves, is one step.
    const TimeRange first = w.job().effectiveCutBands().front();
    QTest::mousePress(w.waveform(), Qt::LeftButton, {}, w.at(first.end));
    for (double t : {first.end + 0.1, first.end + 0.2, first.end + 0.3}) QTest::mouseMove(w.waveform(), w.at(t));
    QTest::mouseRelease(w.waveform(), Qt::LeftButton, {}, w.at(first.end + 0.3));
    QCOMPARE(w.undo().count(), 2);
    QVERIFY(w.job().effectiveCutBands().front().end > first.end + 0.2);

    QTest::mouseClick(w.find<QPushButton>("clearEdits"), Qt::LeftButton);
    QVERIFY(!w.job().hasManualEdits());
    QCOMPARE(w.undo().count(), 3);
    QVERIFY(!w.shown("clearEdits"));
    w.undo().undo();
    QVERIFY(w.job().hasManualEdits());

    // Starting over leaves nothing to undo.
    w.job().reset();
    QCOMPARE(w.undo().count(), 0);
  }

  void transcriptKeepAndCutGoThroughTheModel() {
    Window w;
    w.openAnalysed();
    w.find<QPushButton>("showTranscript")->click();
    auto* transcript = w.find<TranscriptView>("transcript");
    QTRY_VERIFY(transcript->isVisible());
    const QPoint six = transcript->wordFrame(5).center().toPoint();
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, six);
    QCOMPARE(transcript->selection(), (std::optional<std::pair<int, int>>{{5, 5}}));
    QPushButton* cut = nullptr;
    for (auto* b : transcript->actionBar()->findChildren<QPushButton*>()) {
      if (b->text() == QStringLiteral("Cut")) cut = b;
    }
    QVERIFY(cut);
    QTest::mouseClick(cut, Qt::LeftButton);
    QCOMPARE(w.undo().count(), 1);
    QCOMPARE(w.job().manualRemovals().size(), 1u);
    const TimeRange removed = w.job().manualRemovals().front();
    QVERIFY(removed.start <= 6.8 && removed.end >= 7.4 && removed.start > 6.6 && removed.end < 7.6);
    // The word now reads as cut, by hand.
    QTRY_VERIFY(transcript->paragraphs().back().words[1].cut);
    QCOMPARE(transcript->paragraphs().back().words[1].reason,
             std::optional<QString>(QStringLiteral("removed by hand")));
    w.undo().undo();
    QVERIFY(!w.job().hasManualEdits());

    // Hidden and shown again, the transcript starts with nothing picked.
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, six);
    QVERIFY(transcript->selection());
    w.find<QPushButton>("showTranscript")->click();
    w.find<QPushButton>("showTranscript")->click();
    QVERIFY(!transcript->selection());
  }

  void anotherVideoOfAsManyWordsShowsItsOwnWords() {
    Window w;
    w.h.engine->analysis.gate.close();
    w.job().accept({w.h.touch(QStringLiteral("a.mov")), w.h.touch(QStringLiteral("b.mov"))});
    QTRY_COMPARE(w.h.engine->analyzeCalls().size(), 1u);
    // b is analysed once a is done, and says other words, as many, a little later.
    for (TranscriptWord& word : w.h.engine->transcript.words) {
      word.text = "b-" + word.text;
      word.range = {word.range.start + 0.05, word.range.end + 0.05};
    }
    w.h.engine->analysis.gate.open();
    QTRY_VERIFY(w.job().batch()[1].analysis);
    QTRY_VERIFY(w.shown("waveform"));
    w.find<QPushButton>("showTranscript")->click();
    auto* transcript = w.find<TranscriptView>("transcript");
    QTRY_VERIFY(transcript->isVisible());
    const auto first = [&] { return transcript->paragraphs().front().words.front(); };
    QCOMPARE(first().text, QStringLiteral("one"));

    QTest::mouseClick(w.find<QPushButton>("batchNext"), Qt::LeftButton);
    QCOMPARE(w.job().footagePath(), w.h.path(QStringLiteral("b.mov")));
    QTRY_COMPARE(first().text, QStringLiteral("b-one"));
    QCOMPARE(first().range.start, 1.15);
  }

  void playbackStopsForEditsAndResumesOverANewDraft() {
    Window w;
    w.h.engine->soundGate.close();
    w.openAnalysed();
    // The sound is read ahead once the analysis lands; a play waits for that read.
    QTRY_COMPARE(w.h.engine->soundDecodes(), 1);
    QTest::mouseClick(w.waveform(), Qt::LeftButton, {}, w.at(2));
    QVERIFY(w.job().isAuditioning());
    QCOMPARE(w.find<QPushButton>("playCut")->text(), QStringLiteral("Stop"));
    const double clicked = *w.job().audition().position();
    QVERIFY(std::abs(clicked - 2) < 0.05);

    QSignalSpy published(&w.job(), &JobModel::draftPublished);
    w.job().setTightness(CutTightness::jumpCut);
    QTRY_COMPARE(published.count(), 1);
    QVERIFY(w.job().isAuditioning());
    QCOMPARE(*w.job().audition().position(), clicked);
    QCOMPARE(w.h.engine->soundDecodes(), 1);

    // Any edit stops playback, and so does an undo.
    w.job().forceWords(5, 5, false, w.window.undoStack());  // "six"
    QVERIFY(!w.job().isAuditioning());
    QCOMPARE(w.find<QPushButton>("playCut")->text(), QStringLiteral("Play the cut"));
    w.find<QPushButton>("playCut")->click();
    QVERIFY(w.job().isAuditioning());
    w.undo().undo();
    QVERIFY(!w.job().isAuditioning());

    // Space plays from the hovered moment, and not while the name field is focused.
    w.job().setHoverPlayhead(3.011);
    QCOMPARE(w.job().hoverPlayheadSeconds(), std::optional<double>(3.02));
    w.find<QWidget>("options")->setFocus();
    QTest::keyClick(&w.window, Qt::Key_Space);
    QVERIFY(w.job().isAuditioning());
    QCOMPARE(w.job().audition().position(), std::optional<double>(3.02));
    QTest::keyClick(&w.window, Qt::Key_Space);
    QVERIFY(!w.job().isAuditioning());
    w.find<QLineEdit>("projectName")->setFocus();
    QTest::keyClick(&w.window, Qt::Key_Space);
    QVERIFY(!w.job().isAuditioning());

    // With no sound output here, a play that gets its sound ends instead of pretending.
    w.find<QWidget>("options")->setFocus();
    QTest::keyClick(&w.window, Qt::Key_Space);
    w.h.engine->soundGate.open();
    QTRY_VERIFY(!w.job().isAuditioning());
    QCOMPARE(w.h.engine->soundDecodes(), 1);
    const QString footage = w.job().footagePath();
    QVERIFY(w.job().audition().decoded(footage));
    // Starting over lets the sound go.
    w.job().reset();
    QVERIFY(!w.job().audition().decoded(footage));
  }

  void movedFootageShowsTheNoticeAndCannotPlay() {
    Window w;
    StoredCut stored;
    stored.withTimeline = false;
    stored.withLevels = true;
    const QString package = writeStoredCut(w.h.dir.path(), stored);
    QVERIFY(QFile::remove(w.h.dir.filePath(stored.footage)));
    w.job().openSession(package);
    QTRY_VERIFY(w.find("cutPreview"));
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(w.job().sourceMissing());
    QVERIFY(w.shown("sourceMissing"));
    QCOMPARE(w.text("sourceMissingText"),
             QStringLiteral("The source footage isn\u2019t at its stored location \u2014 "
                            "reconnect the drive (or move the file back) to play or re-cut."));
    QVERIFY(w.shown("waveform"));
    QVERIFY(!w.find<QPushButton>("playCut")->isEnabled());
    w.job().toggleAudition();
    QVERIFY(!w.job().isAuditioning());
    QVERIFY(w.find<QPushButton>("editMode")->isEnabled());
    QCOMPARE(w.h.engine->soundDecodes(), 0);  // nothing to read ahead
  }

  // Other footage saved at the footage's path is treated as footage that isn't there, saying how
  // it differs from the footage the package was cut from and what to do.
  void otherFootageAtItsPathShowsHowItDiffersAndCannotPlay() {
    Window w;
    StoredCut stored;
    stored.withLevels = true;
    const QString package = writeStoredCut(w.h.dir.path(), stored);
    const QString footage = w.h.dir.filePath(stored.footage);
    QVERIFY2(recordOtherFootage(footage), "ffmpeg could not make the other footage");
    w.job().openSession(package);
    QTRY_VERIFY(w.find("results"));
    w.job().adjustAndRecut();
    QTRY_VERIFY(w.find("cutPreview"));
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(w.job().sourceMissing());
    QVERIFY(w.shown("sourceMissing"));
    const QString said = w.text("sourceMissingText");
    QVERIFY2(said.startsWith(footage + QStringLiteral(" is 0:12 at 640\u00d7360")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral(", the package was cut from 12:34")), qPrintable(said));
    QVERIFY2(said.endsWith(QStringLiteral(" \u2014 put the footage the package was cut from back at that path to "
                                          "play or re-cut.")),
             qPrintable(said));
    QVERIFY(!w.find<QPushButton>("playCut")->isEnabled());
    QCOMPARE(w.h.engine->soundDecodes(), 0);
  }

  void theReadoutCountsWhatSurvives() {
    using CutPreview::readout;
    QCOMPARE(readout(185, 0.5, 2), QStringLiteral("Nothing to cut at these settings."));
    QCOMPARE(readout(185, 105, 2), QStringLiteral("1m 20s of 3m 5s survives. 2 hand edits."));
    QCOMPARE(readout(185, 105, 1), QStringLiteral("1m 20s of 3m 5s survives. 1 hand edit."));
    QCOMPARE(readout(185, 105, 0), QStringLiteral("1m 20s of 3m 5s survives."));
    QCOMPARE(readout(10, 12, 0), QStringLiteral("0s of 10s survives."));
  }

  void zoomKeepsThePlayheadOrTheCentreInPlace() {
    using CutPreview::anchoredOffset;
    // 100 s over a 500 px viewport, zooming from 2× (1,000 px) to 4× (2,000 px).
    // Playhead out of view: the viewport's centre (offset 0 + 250 px = 25 s) stays centred.
    QCOMPARE(anchoredOffset(500, 1000, 2000, 0, 100, 90.0), 250.0);
    // Playhead in view (either edge counts): it comes to the middle.
    QCOMPARE(anchoredOffset(500, 1000, 2000, 0, 100, 40.0), 550.0);
    QCOMPARE(anchoredOffset(500, 1000, 2000, 0, 100, 50.0), 750.0);
    // Clamped at both ends; back to 1× the offset is 0.
    QCOMPARE(anchoredOffset(500, 1000, 2000, 500, 100, 99.0), 1500.0);
    QCOMPARE(anchoredOffset(500, 1000, 2000, 0, 100, 1.0), 0.0);
    QCOMPARE(anchoredOffset(500, 1000, 500, 300, 100, std::nullopt), 0.0);
  }

  void theZoomSliderWidensTheWaveformAroundItsCentre() {
    Window w;
    w.openAnalysed();
    auto* section = w.find<CutPreviewSection>("cutPreview");
    QVERIFY(!w.shown("waveformScroll"));
    const double width = w.waveform()->width();
    auto* slider = w.find<QSlider>("zoom");
    slider->setValue(slider->maximum() / 2);  // 4×
    QCOMPARE(section->zoom(), 4.0);
    QVERIFY(w.shown("waveformScroll"));
    QVERIFY(std::abs(section->scrollOffset() - 1.5 * width) <= 1);
    QVERIFY(std::abs(w.waveform()->secondsAt(width / 2) - 5) < 0.02);
    section->setZoom(1);
    QCOMPARE(section->scrollOffset(), 0.0);
    QCOMPARE(w.waveform()->secondsAt(width), 10.0);
    QVERIFY(!w.shown("waveformScroll"));
    // Hidden, the scroll bar leaves no gap under the waveform once the event loop has laid the
    // window out again.
    QTRY_COMPARE(w.find("levelStrip")->height(), w.waveform()->height());
  }

  // Over the zoomed waveform a sideways wheel, or Shift with the wheel, pans it and not the form;
  // the plain wheel, and any wheel at 1x, is left to the form.
  void theWheelPansTheZoomedWaveform() {
    Window w;
    w.openAnalysed();
    auto* section = w.find<CutPreviewSection>("cutPreview");
    const auto wheel = [&](QPoint angle, Qt::KeyboardModifiers modifiers = {}) {
      const QPointF at(w.waveform()->width() / 2.0, 60);
      QWheelEvent event(at, w.waveform()->mapToGlobal(at), {}, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase,
                        false);
      QApplication::sendEvent(w.waveform(), &event);
      return event.isAccepted();
    };
    wheel({-120, 0});
    QCOMPARE(section->scrollOffset(), 0.0);
    section->setZoom(4);
    const double start = section->scrollOffset();
    QVERIFY(wheel({-120, 0}));
    const double right = section->scrollOffset();
    QVERIFY(right > start);
    QVERIFY(wheel({0, -120}, Qt::ShiftModifier));
    QVERIFY(section->scrollOffset() > right);
    QVERIFY(wheel({0, 240}, Qt::ShiftModifier));
    QVERIFY(section->scrollOffset() < right);
    const double before = section->scrollOffset();
    wheel({0, -120});
    QCOMPARE(section->scrollOffset(), before);
  }
};

QTEST_MAIN(CutPreviewTest)
#include "CutPreviewTest.moc"
