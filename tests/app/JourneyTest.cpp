// One user's journey through the application as kestrane-app builds it, over the real engine, on
// a generated talk with its script: synthetic clicks and keys on the real widgets from the drop
// to a re-cut package, with the cut heard through a private sound server (run under
// with_sound_server.sh and a virtual X server). The steps share one window, in order.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QUndoStack>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "FcpxmlDtd.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/core/ResultsText.hpp"
#include "app/views/Application.hpp"
#include "app/views/CutPreviewSection.hpp"
#include "app/views/FormControls.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"

using namespace kestrane;
using namespace kestrane::app;

namespace {

// Four lines, each in another voice, with a false start before the third; the script holds the
// lines as meant.
const char* const lines[][2] = {
    {"slt", "Welcome back to the workshop. Today we build a small bird house."},
    {"awb", "First we measure the boards, and mark every cut with a pencil."},
    {"rms", "Then we saw along the lines"},
    {"rms", "Then we saw along the lines, and sand the rough edges smooth."},
    {"kal16", "Finally we glue the roof in place, and let it dry overnight."},
};

bool sh(const QString& command) { return std::system(qPrintable(command + QStringLiteral(" >/dev/null 2>&1"))) == 0; }

QString quoted(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

// `wav` as a small video whose picture lasts as long as the sound. With -shortest the picture's
// end would depend on how many threads the encoder ran, and the footage's length with it.
bool makeVideo(const QString& wav, const QString& footage) {
  QProcess soxi;
  soxi.start(QStringLiteral("soxi"), {QStringLiteral("-D"), wav});
  if (!soxi.waitForFinished() || soxi.exitCode() != 0) return false;
  bool read = false;
  const double seconds = soxi.readAllStandardOutput().trimmed().toDouble(&read);
  return read && sh(QStringLiteral("ffmpeg -y -f lavfi -i color=c=0x303040:s=320x180:r=15:d=%1 -i %2 -c:v libx264 "
                                   "-preset ultrafast -pix_fmt yuv420p -c:a pcm_s16le %3")
                        .arg(seconds, 0, 'f', 3)
                        .arg(quoted(wav), quoted(footage)));
}

// Speech with pauses over a faint noise floor, so that every kept moment is heard as something
// and only the gaps between plays are silent; as a small video with its sound uncompressed.
bool makeTalk(const QDir& dir, const QString& footage, const QString& script) {
  QString parts;
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    const QString raw = dir.filePath(QStringLiteral("raw%1.wav").arg(i));
    const QString part = dir.filePath(QStringLiteral("part%1.wav").arg(i));
    if (!sh(QStringLiteral("flite -voice %1 -t %2 -o %3")
                .arg(QString::fromLatin1(lines[i][0]), quoted(QString::fromLatin1(lines[i][1])), quoted(raw))))
      return false;
    if (!sh(QStringLiteral("sox -R %1 -r 48000 -c 1 -b 16 %2 pad 0 1.4").arg(quoted(raw), quoted(part)))) return false;
    parts += QLatin1Char(' ') + quoted(part);
  }
  const QString speech = dir.filePath(QStringLiteral("speech.wav"));
  const QString noise = dir.filePath(QStringLiteral("noise.wav"));
  const QString mixed = dir.filePath(QStringLiteral("mixed.wav"));
  if (!sh(QStringLiteral("sox -R%1 %2 pad 1 0.6").arg(parts, quoted(speech))) ||
      !sh(QStringLiteral("sox -R %1 %2 synth whitenoise vol 0.004").arg(quoted(speech), quoted(noise))) ||
      !sh(QStringLiteral("sox -R -m -v 1 %1 -v 1 %2 %3").arg(quoted(speech), quoted(noise), quoted(mixed))) ||
      !makeVideo(mixed, footage))
    return false;
  QFile text(script);
  if (!text.open(QIODevice::WriteOnly)) return false;
  for (int i : {0, 1, 3, 4}) text.write(QByteArray(lines[i][1]) + "\n\n");
  return true;
}

// Which 10 ms windows of the recording hold sound: the noise floor keeps every kept moment above
// the threshold, and the sink is exactly silent between plays.
std::vector<bool> soundingWindows(const QByteArray& bytes, int rate) {
  const auto* s = reinterpret_cast<const std::int16_t*>(bytes.constData());
  const std::size_t n = std::size_t(bytes.size()) / 2;
  const std::size_t window = std::size_t(rate / 100);
  std::vector<bool> sounding;
  for (std::size_t i = 0; i + window <= n; i += window) {
    double sum = 0;
    for (std::size_t j = i; j < i + window; ++j) sum += double(s[j]) * s[j];
    sounding.push_back(std::sqrt(sum / double(window)) > 4);
  }
  return sounding;
}

double heardSeconds(const QByteArray& bytes, int rate) {
  const std::vector<bool> sounding = soundingWindows(bytes, rate);
  return double(std::count(sounding.begin(), sounding.end(), true)) / 100.0;
}

// Seconds of silence after the last sound of the recording; 0 before any sound.
double silenceAfterSound(const QByteArray& bytes, int rate) {
  const std::vector<bool> sounding = soundingWindows(bytes, rate);
  const auto last = std::find(sounding.rbegin(), sounding.rend(), true);
  return last == sounding.rend() ? 0 : double(last - sounding.rbegin()) / 100.0;
}

double length(const std::vector<TimeRange>& ranges) {
  double total = 0;
  for (const TimeRange& r : ranges) total += r.end - r.start;
  return total;
}

bool near(const std::vector<TimeRange>& a, const std::optional<std::vector<TimeRange>>& b) {
  if (!b || a.size() != b->size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::abs(a[i].start - (*b)[i].start) > 0.005 || std::abs(a[i].end - (*b)[i].end) > 0.005) return false;
  }
  return true;
}

}  // namespace

class JourneyTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString footage_;
  QString script_;
  QString package_;
  std::unique_ptr<Application> app_;
  std::vector<TimeRange> handRemoved_;

  JobModel& job() { return app_->job(); }
  MainWindow& window() { return app_->window(); }
  template <class T = QWidget>
  T* find(const char* name) {
    return window().findChild<T*>(QString::fromLatin1(name));
  }
  bool shown(const char* name) {
    QWidget* w = find(name);
    return w && w->isVisibleTo(&window());
  }
  void click(const char* name) {
    auto* button = find<QAbstractButton>(name);
    QVERIFY2(button && button->isVisibleTo(&window()), name);
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void key(QKeyCombination keys) { QTest::keyClick(&window(), keys.key(), keys.keyboardModifiers()); }
  void pickTightness(CutTightness tightness) {
    auto* picker = find<Segmented>("tightness");
    QVERIFY(picker);
    QTest::mouseClick(picker->segment(int(tightness)), Qt::LeftButton);
    QCOMPARE(job().tightness(), tightness);
  }
  WaveformView* waveform() { return find<WaveformView>("waveform"); }
  QPoint at(double seconds) { return {int(waveform()->xAt(seconds)), 60}; }
  // Pictures wait for the form's layout, which settles a few posted events after a change: the
  // layouts' pending requests are taken first, so no row is drawn at the size of a moment ago.
  void shoot(const char* name) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (auto* form = find<QScrollArea>("optionsForm"); form && form->isVisible()) {
      QWidget* content = form->widget();
      QTRY_VERIFY(content->height() >= content->heightForWidth(form->viewport()->width()));
    }
    const QDir out(QStringLiteral(KESTRANE_SCREENSHOT_DIR));
    QVERIFY(out.mkpath(QStringLiteral(".")));
    QVERIFY(window().grab().save(out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"))));
  }
  std::vector<TimeRange> keeps() { return SilencePreview::keepRanges(job().levelLength(), job().effectiveCutBands()); }
  // What the readout says for the cut the model publishes now.
  QString publishedReadout() {
    return CutPreview::readout(job().levelLength(), SilencePreview::totalDuration(job().effectiveCutBands()),
                               int(job().manualKeeps().size() + job().manualRemovals().size()));
  }
  QStringList packagesBeside() { return QDir(dir_.path()).entryList({QStringLiteral("*.kestrane")}, QDir::Dirs); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    footage_ = dir_.filePath(QStringLiteral("workshop talk.mov"));
    script_ = dir_.filePath(QStringLiteral("workshop script.txt"));
    QVERIFY(makeTalk(QDir(dir_.path()), footage_, script_));
    app_ = std::make_unique<Application>(*qApp, std::make_shared<PipelineEngine>());
    app_->start({});
    window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window()));
  }

  void cleanupTestCase() { app_.reset(); }

  void openingTheFootageDraftsACutThatTightnessChanges() {
    QWidget* zone = find("dropZone");
    QVERIFY(zone);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(footage_), QUrl::fromLocalFile(script_)});
    QDragEnterEvent enter(zone->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &enter);
    QDropEvent drop(zone->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &drop);
    QTRY_VERIFY(shown("options"));
    QCOMPARE(job().scriptPath(), script_);
    QTRY_COMPARE_WITH_TIMEOUT(job().preAnalysisState(), PreAnalysisState::ready, 600000);
    QTRY_VERIFY_WITH_TIMEOUT(job().draftBands().has_value(), 60000);
    QVERIFY(find<QLabel>("footageStatus")->text().startsWith(QStringLiteral("Analysis done")));
    QTRY_VERIFY(shown("waveform"));
    QVERIFY(job().analysisTranscript() && job().analysisTranscript()->words.size() > 20);

    const std::vector<TimeRange> natural = *job().draftBands();
    const double naturalKept = length(keeps());
    QVERIFY(!natural.empty());
    QTRY_COMPARE(find<QLabel>("previewReadout")->text(), publishedReadout());
    pickTightness(CutTightness::jumpCut);
    QTRY_VERIFY_WITH_TIMEOUT(job().draftBands() && *job().draftBands() != natural, 60000);
    // Tighter cuts take more: less survives (the readout's whole seconds may not show it).
    qInfo("kept %.2f s at natural, %.2f s as jump cuts", naturalKept, length(keeps()));
    QVERIFY(length(keeps()) < naturalKept - 0.1);
    QTRY_COMPARE(find<QLabel>("previewReadout")->text(), publishedReadout());
    pickTightness(CutTightness::natural);
    QTRY_VERIFY_WITH_TIMEOUT(near(natural, job().draftBands()), 60000);
    QVERIFY(std::abs(length(keeps()) - naturalKept) < 0.01);
    QTRY_COMPARE(find<QLabel>("previewReadout")->text(), publishedReadout());
  }

  void spacePlaysTheCutAndStopsIt() {
    // The device list fills in from the server after the first ask.
    QTRY_VERIFY_WITH_TIMEOUT(!QMediaDevices::audioOutputs().isEmpty(), 30000);
    if (QMediaDevices::defaultAudioOutput().isNull()) QSKIP("no sound server");
    // The toolkit lists no monitors, so the sound server's own recorder listens.
    constexpr int rate = 24000;
    QProcess recorder;
    recorder.start(QStringLiteral("parec"), {QStringLiteral("--device=audition.monitor"), QStringLiteral("--raw"),
                                             QStringLiteral("--format=s16le"), QStringLiteral("--rate=24000"),
                                             QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    QVERIFY(recorder.waitForStarted(5000));
    QByteArray recorded;
    const auto recording = [&]() -> const QByteArray& { return recorded += recorder.readAllStandardOutput(); };
    // The null output's monitor hands out silence all the time, so the recorder listens once some
    // has come.
    QTRY_VERIFY_WITH_TIMEOUT(!recording().isEmpty(), 30000);

    const std::vector<TimeRange> kept = keeps();
    find("options")->setFocus();
    key(Qt::Key_Space);
    QVERIFY(job().isAuditioning());
    QCOMPARE(find<QPushButton>("playCut")->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(job().auditionPlayheadSeconds(), 30000);
    QTest::qWait(1500);
    shoot("journey-playing");
    QTRY_VERIFY_WITH_TIMEOUT(!job().isAuditioning(), 120000);
    // All that was played has reached the recorder once silence follows it.
    QTRY_VERIFY_WITH_TIMEOUT(silenceAfterSound(recording(), rate) >= 0.3, 30000);
    recorder.terminate();
    QVERIFY(recorder.waitForFinished(5000));
    const double heard = heardSeconds(recording(), rate);
    qInfo("heard %.2f s of %.2f s kept", heard, length(kept));
    QVERIFY2(std::abs(heard - length(kept)) <= 0.05,
             qPrintable(QStringLiteral("heard %1 s of %2 s kept").arg(heard).arg(length(kept))));

    // Played to the end, Space starts over, and stops.
    key(Qt::Key_Space);
    QVERIFY(job().isAuditioning());
    QTRY_VERIFY_WITH_TIMEOUT(job().auditionPlayheadSeconds(), 30000);
    key(Qt::Key_Space);
    QVERIFY(!job().isAuditioning());
    QCOMPARE(find<QPushButton>("playCut")->text(), QStringLiteral("Play the cut"));
  }

  void twoWordsRemovedInTheTranscriptUndoAndRedo() {
    const std::vector<TimeRange> before = job().effectiveCutBands();
    click("showTranscript");
    auto* transcript = find<TranscriptView>("transcript");
    QTRY_VERIFY(transcript->isVisible());
    // Two neighbouring words the cut keeps, in the first paragraph (in view without scrolling).
    const std::vector<WordCell> words = transcript->paragraphs().front().words;
    std::optional<int> first;
    for (std::size_t i = 2; i + 1 < words.size() && !first; ++i) {
      if (!words[i].cut && !words[i + 1].cut) first = words[i].id;
    }
    QVERIFY(first);
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, transcript->wordFrame(*first).center().toPoint());
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      transcript->wordFrame(*first + 1).center().toPoint());
    QCOMPARE(transcript->selection(), (std::optional<std::pair<int, int>>{{*first, *first + 1}}));
    shoot("journey-transcript-selection");
    QAbstractButton* cut = nullptr;
    for (auto* b : transcript->actionBar()->findChildren<QAbstractButton*>()) {
      if (b->text() == QStringLiteral("Cut")) cut = b;
    }
    QVERIFY(cut && cut->isVisible());
    QTest::mouseClick(cut, Qt::LeftButton);
    QCOMPARE(job().manualRemovals().size(), 1u);
    handRemoved_ = job().manualRemovals();
    const std::vector<TimeRange> edited = job().effectiveCutBands();
    QVERIFY(edited != before);
    QTRY_VERIFY(transcript->paragraphs().front().words[std::size_t(*first - words.front().id)].cut);

    find("options")->setFocus();
    key(Qt::CTRL | Qt::Key_Z);
    QCOMPARE(job().effectiveCutBands(), before);
    QVERIFY(!job().hasManualEdits());
    key(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    QCOMPARE(job().effectiveCutBands(), edited);
    QCOMPARE(job().manualRemovals(), handRemoved_);
  }

  void aBandEdgeDraggedThenAllEditsCleared() {
    click("editMode");
    QCOMPARE(waveform()->mode(), WaveformView::Mode::edit);
    const std::vector<TimeRange> bands = job().effectiveCutBands();
    QVERIFY(!bands.empty() && bands.front().start < 0.05);  // the quiet lead-in
    const double edge = bands.front().end;
    QTest::mousePress(waveform(), Qt::LeftButton, {}, at(edge));
    for (double t : {edge - 0.1, edge - 0.2, edge - 0.3}) QTest::mouseMove(waveform(), at(t));
    QTest::mouseRelease(waveform(), Qt::LeftButton, {}, at(edge - 0.3));
    QCOMPARE(window().undoStack()->count(), 2);
    QVERIFY(job().effectiveCutBands().front().end < edge - 0.2);
    QVERIFY(find<QLabel>("previewReadout")->text().endsWith(QStringLiteral(" 2 hand edits.")));

    click("clearEdits");
    QVERIFY(!job().hasManualEdits());
    QVERIFY(!shown("clearEdits"));
    // Undone, the clearing brings both edits back for the cut.
    find("options")->setFocus();
    key(Qt::CTRL | Qt::Key_Z);
    QVERIFY(job().hasManualEdits());
    QCOMPARE(job().manualRemovals(), handRemoved_);
    QCOMPARE(job().manualKeeps().size(), 1u);
    click("editMode");
  }

  void cutItWritesThePackageTheResultsDescribe() {
    const ManualEdits edits = job().manualEdits();
    click("cutIt");
    QTRY_VERIFY_WITH_TIMEOUT(shown("results"), 600000);
    const Pipeline::Output& output = *job().state().output;
    package_ = fromPath(output.packageDir);
    QCOMPARE(QDir(package_).dirName(), QStringLiteral("workshop talk Kestrane.kestrane"));
    for (const char* name : {"workshop talk.fcpxml", "workshop talk.kestrane.json", "transcript.md", "captions.srt"})
      QVERIFY2(QDir(package_).exists(QString::fromLatin1(name)), name);
    const QString timeline = QDir(package_).filePath(QStringLiteral("workshop talk.fcpxml"));
    QVERIFY(sh(QString::fromStdString(fcpxml_dtd::xmllint(timeline.toStdString()))));

    const KestraneSession stored = KestraneSession::read(output.sessionURL);
    const ResultsText::Stats stats = ResultsText::stats(stored);
    QVERIFY(stats.kept > 0 && stats.kept < stats.source);
    QCOMPARE(find<QLabel>("figures")->text(), ResultsText::figuresLine(stats));
    QVERIFY(stored.script.has_value());
    QCOMPARE(stored.settings.manualRemoveRanges, std::optional(edits.removals));
    QCOMPARE(stored.settings.manualKeepRanges, std::optional(edits.keeps));
    QVERIFY(stats.manual > 0);
  }

  void adjustAndRecutRewritesThePackageInPlace() {
    const KestraneSession first = KestraneSession::read(toPath(job().lastSessionPath()));
    const QStringList packages = packagesBeside();
    click("adjustAndRecut");
    QTRY_VERIFY(shown("options"));
    QCOMPARE(find<QLabel>("footageStatus")->text(),
             QStringLiteral("Re-cut with new settings \u2014 instant, no re-analysis"));
    pickTightness(CutTightness::tight);
    click("cutIt");
    QTRY_VERIFY_WITH_TIMEOUT(shown("results"), 600000);
    QCOMPARE(fromPath(job().state().output->packageDir), package_);
    QCOMPARE(packagesBeside(), packages);
    const KestraneSession second = KestraneSession::read(job().state().output->sessionURL);
    QVERIFY(second.settings.minSilenceDuration != first.settings.minSilenceDuration ||
            second.settings.speechPadding != first.settings.speechPadding);
    QCOMPARE(find<QLabel>("figures")->text(), ResultsText::figuresLine(ResultsText::stats(second)));
    QCOMPARE(second.settings.manualRemoveRanges, first.settings.manualRemoveRanges);
  }

  void movedFootageShowsItsNoticeOnReopening() {
    click("cutAnother");
    QTRY_VERIFY(shown("dropZone"));
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("elsewhere")));
    QVERIFY(QFile::rename(footage_, dir_.filePath(QStringLiteral("elsewhere/workshop talk.mov"))));
    click("reopenLastCut");
    // A package with its timeline reopens on its results; adjusting it leads to the options.
    QTRY_VERIFY(shown("results"));
    QCOMPARE(fromPath(job().state().output->packageDir), package_);
    click("adjustAndRecut");
    QTRY_VERIFY(shown("options"));
    // The footage is looked at off the window's thread.
    QTRY_VERIFY(job().sourceMissing());
    QTRY_VERIFY(shown("sourceMissing"));
    QVERIFY(shown("cutIt"));
    QVERIFY(!find<QPushButton>("playCut")->isEnabled());
    shoot("journey-source-missing");
  }

  void aBatchOfThreeCutsTwoAndSaysWhyNotTheThird() {
    // Two talks from the lines already spoken, and a clip with no sound at all.
    const QDir dir(dir_.path());
    const auto video = [&](const QString& name, const QString& parts) {
      const QString wav = dir.filePath(name + QStringLiteral(".wav"));
      return sh(QStringLiteral("cd %1 && sox -R %2 %3 pad 1 0.5").arg(quoted(dir_.path()), parts, quoted(wav))) &&
             makeVideo(wav, dir.filePath(name + QStringLiteral(".mov")));
    };
    QVERIFY(video(QStringLiteral("intro"), QStringLiteral("part0.wav part1.wav")));
    QVERIFY(video(QStringLiteral("outro"), QStringLiteral("part3.wav part4.wav")));
    QVERIFY(sh(QStringLiteral("ffmpeg -y -f lavfi -i color=c=0x303040:s=320x180:r=15 -t 3 -c:v libx264 "
                              "-preset ultrafast -pix_fmt yuv420p %1")
                   .arg(quoted(dir.filePath(QStringLiteral("b-roll.mov"))))));

    click("change");
    QTRY_VERIFY(shown("dropZone"));
    QWidget* zone = find("dropZone");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("intro.mov"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("b-roll.mov"))),
                  QUrl::fromLocalFile(dir.filePath(QStringLiteral("outro.mov")))});
    QDragEnterEvent enter(zone->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &enter);
    QDropEvent drop(zone->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone, &drop);
    QTRY_VERIFY(shown("batchStrip"));
    QCOMPARE(job().batch().size(), 3u);
    QCOMPARE(find<QLabel>("batchPosition")->text(), QStringLiteral("Video 1 of 3"));
    QCOMPARE(find<QPushButton>("cutIt")->text(), QStringLiteral("Cut All 3"));

    pickTightness(CutTightness::tight);
    click("applyToAll");
    for (const BatchItem& item : job().batch()) QCOMPARE(item.options.tightness, CutTightness::tight);
    // The first item's analysis is in before the picture, so it shows its waveform.
    QTRY_VERIFY_WITH_TIMEOUT(shown("waveform"), 600000);
    shoot("journey-batch");

    click("cutIt");
    QTRY_VERIFY_WITH_TIMEOUT(shown("batchResults"), 600000);
    QCOMPARE(job().batch().size(), 3u);
    for (int i : {0, 2}) {
      const BatchItem& item = job().batch()[std::size_t(i)];
      QVERIFY(item.output && !item.failure);
      QVERIFY(QFile::exists(fromPath(item.output->sessionURL)));
      const KestraneSession stored = KestraneSession::read(item.output->sessionURL);
      QVERIFY(stored.cutList);
      const QString figures =
          QString::fromStdString(Pipeline::elapsedString(stored.source.durationSeconds) + " \u2192 " +
                                 Pipeline::elapsedString(stored.cutList->keptDuration()));
      auto* row = find(qPrintable(QStringLiteral("batchRow%1").arg(i)));
      QVERIFY(row);
      QCOMPARE(row->findChild<QLabel*>(QStringLiteral("figures"))->text(), figures);
    }
    const BatchItem& silent = job().batch()[1];
    QVERIFY(!silent.output && silent.failure && !silent.failure->isEmpty());
    auto* reason = find("batchRow1")->findChild<QLabel*>(QStringLiteral("failure"));
    QVERIFY(reason && reason->isVisibleTo(&window()));
    QCOMPARE(reason->text(), *silent.failure);
    qInfo("the silent clip's reason: %s", qPrintable(reason->text()));
    shoot("journey-batch-results");
  }
};

// The application's settings, data and scratch files stay in a folder of the test's own.
int main(int argc, char** argv) {
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "TMPDIR"}) {
    const QString sub = home.filePath(QString::fromLatin1(name));
    QDir().mkpath(sub);
    qputenv(name, sub.toLocal8Bit());
  }
  QApplication app(argc, argv);
  JourneyTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return fcpxml_dtd::exitStatus(QTest::qExec(&test, argc, argv));
}

#include "JourneyTest.moc"
