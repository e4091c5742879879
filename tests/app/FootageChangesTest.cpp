// The window over footage that changes while it is open: a new take saved under the footage's
// name, a package's footage replaced and put back, a look at the footage that takes its time. The
// window cuts and plays only the recording it judged, and never waits on a look at it.
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <thread>

#include "AppTestSupport.hpp"
#include "app/core/FootageLook.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/MediaFile.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

// Saves `bytes` at `path` as an editor saves a take: written aside, then renamed over the name.
bool saveTake(const QString& path, const QByteArray& bytes) {
  QFile aside(path + QStringLiteral(".part"));
  if (!aside.open(QIODevice::WriteOnly) || aside.write(bytes) != bytes.size()) return false;
  aside.close();
  return ::rename(QFile::encodeName(aside.fileName()).constData(), QFile::encodeName(path).constData()) == 0;
}

// As the window is told when it comes back to the front.
void activate(QWidget& window) {
  QEvent activation(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&window, &activation);
}

// The window, shown, over a package whose footage is real and proven.
struct PackageWindow : ShownWindow<NoDesktop> {
  QString footage;
  PackageWindow() {
    footage = h.path("take 04.mov");
    h.job->openSession(writeStoredCut(h.dir.path(), {.withLevels = true}));
  }
  void activate() { ::activate(window); }
  bool usable() const {
    return !h.job->sourceMissing() && find<QPushButton>("cutIt")->isEnabled() &&
           find<QPushButton>("playCut")->isEnabled();
  }
};

// Adjust & Re-cut, and the look it starts done: the options shown.
bool adjustedForARecut(ShownWindow<NoDesktop>& w) {
  w.click("adjustAndRecut");
  if (!w.h.footageLookedAt()) return false;
  ShownWindow<NoDesktop>::settle();
  return true;
}

// Where the levels first rise to speech from `from` seconds on.
double speechFrom(const std::vector<float>& levels, double hop, double from) {
  for (auto i = static_cast<std::size_t>(from / hop); i < levels.size(); ++i)
    if (levels[i] > -25) return static_cast<double>(i) * hop;
  return -1;
}

}  // namespace

class FootageChangesTest : public QObject {
  Q_OBJECT

 private slots:
  // Cut It goes over the analysis made while the options were chosen only while the file it read
  // is still at the path. A take saved there since (before the analysis landed, or after) is
  // analysed afresh, cut without the hand edits made over the other recording, and is what the
  // editor then shows.
  void aNewTakeAtThePathIsAnalysedAfresh() {
    enum class Take { kept, savedAfterAnalysis, savedWhileAnalysing };
    for (Take take : {Take::kept, Take::savedAfterAnalysis, Take::savedWhileAnalysing}) {
      Harness h;
      const QString footage = h.path("take.mov");
      QVERIFY(saveTake(footage, "first take"));
      if (take == Take::savedWhileAnalysing) h.engine->analysis.gate.close();
      h.job->accept({footage});
      if (take == Take::savedWhileAnalysing) {
        h.job->start();
        QTRY_COMPARE(h.engine->analyzeCalls().size(), size_t(1));
      } else {
        QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
        h.job->editStretch({0.6, 1.2}, false, false, nullptr);
        QVERIFY(h.job->hasManualEdits());
      }
      if (take != Take::kept) QVERIFY(saveTake(footage, "second take"));
      if (take == Take::savedWhileAnalysing) h.engine->analysis.gate.open();
      else h.job->start();
      QVERIFY(h.waitFor(Screen::done));

      const bool fresh = take != Take::kept;
      QCOMPARE(h.engine->analyzeCalls().size(), size_t(fresh ? 2 : 1));
      const auto [request, prepared] = h.engine->runCalls().back();
      QVERIFY(prepared);
      QCOMPARE(request.settings.manualRemoveRanges.value_or(std::vector<TimeRange>{}).empty(), fresh);
      QCOMPARE(h.job->lastPreAnalysisDuration().has_value(), !fresh);
      QCOMPARE(h.job->hasManualEdits(), !fresh);
      QCOMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    }
  }

  // So is a batch video's, each by its own file.
  void aBatchVideosNewTakeIsAnalysedAfresh() {
    Harness h;
    const QString a = h.path("a.mov"), b = h.path("b.mov");
    QVERIFY(saveTake(a, "a, first take") && saveTake(b, "b, first take"));
    h.job->accept({a, b});
    QTRY_VERIFY(h.job->batch()[0].analysis && h.job->batch()[1].analysis);
    QVERIFY(saveTake(b, "b, second take"));
    h.job->cutAll();
    QVERIFY(h.waitFor(Screen::done));
    const auto analysed = h.engine->analyzeCalls();
    QCOMPARE(analysed.size(), size_t(3));
    QCOMPARE(analysed.back(), toPath(b));
    QCOMPARE(h.engine->runCalls().size(), size_t(2));
    for (const auto& run : h.engine->runCalls()) QVERIFY(run.second);
  }

  // Other footage saved at a package's footage path while the window was behind others turns
  // playing and Cut It off as soon as the window is in front again, and the results say so; the
  // footage put back turns them on again without the package being opened again.
  void aPackagesFootageReplacedAndPutBackIsSeenOnReturn() {
    PackageWindow w;
    QVERIFY(w.h.footageLookedAt());
    QCOMPARE(w.text("heading"), QStringLiteral("First cut ready"));
    QVERIFY(adjustedForARecut(w));
    QVERIFY(w.usable());

    QVERIFY(QFile::rename(w.footage, w.h.path("kept.mov")));
    QVERIFY(recordOtherFootage(w.footage));
    w.activate();
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(!w.usable());
    QVERIFY2(w.h.job->sourceProblem().startsWith(w.footage + " is 0:12 at 640\u00d7360"),
             qPrintable(w.h.job->sourceProblem()));
    QCOMPARE(w.text("footageStatus"),
             QStringLiteral("This cut\u2019s footage can\u2019t be used \u2014 Cut It is off until it\u2019s back"));
    w.h.job->startAudition(0.5);
    QVERIFY(!w.h.job->isAuditioning());

    QVERIFY(QFile::remove(w.footage) && QFile::rename(w.h.path("kept.mov"), w.footage));
    w.activate();
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(w.usable());
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QCOMPARE(w.h.engine->recutCalls().size(), size_t(1));

    // On the results too, the heading follows the footage.
    QVERIFY(QFile::rename(w.footage, w.h.path("kept.mov")));
    w.activate();
    QVERIFY(w.h.footageLookedAt());
    PackageWindow::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("This cut\u2019s footage can\u2019t be used"));
    QVERIFY(QFile::rename(w.h.path("kept.mov"), w.footage));
    w.activate();
    QVERIFY(w.h.footageLookedAt());
    PackageWindow::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("First cut ready"));
  }

  // A package an earlier build cut, its times counted by samples, is judged as its re-cut judges
  // it: footage whose sound starts after its picture, or drops out, is its own footage. Once that
  // is proven the window shows, plays and edits it where the file's clock puts its sound (the
  // words, the levels, the hand edits, the cut on the results), and its re-cut is given the hand
  // edits as shown.
  void anEarlierBuildsPackageIsShownOnTheFilesClock() {
    for (const EarlierSound sound : {EarlierSound::startsLate, EarlierSound::dropsOut}) {
      ShownWindow<NoDesktop> w;
      const QString folder = writeEarlierBuildsCut(w.h.dir.path(), sound);
      QVERIFY(!folder.isEmpty());
      w.h.job->openSession(folder);
      QVERIFY(w.h.footageLookedAt());
      QVERIFY2(!w.h.job->sourceMissing(), qPrintable(w.h.job->sourceProblem()));

      // How far the sound after 0:03 lies from where it was counted, as the file's own levels show.
      const AudioAnalyzer::LevelTrack onFile =
          AudioAnalyzer::measureLevels(MediaProbe::held(toPath(w.h.path("take 04.mov")).string()));
      const double hop = onFile.hopDuration;
      const double late = sound == EarlierSound::startsLate
                              ? speechFrom(onFile.levelsDBFS, hop, 0) - 0.4  // the first speech is at 0.4 s
                              : 0;
      const double moved = sound == EarlierSound::startsLate ? late : kDropoutSeconds;
      QVERIFY(late >= 0 && late < 0.3);
      QCOMPARE(speechFrom(w.h.job->levelsDBFS(), hop, 3.0), speechFrom(onFile.levelsDBFS, hop, 3.0));
      const auto near = [&](double a, double b) { return std::abs(a - b) <= hop + 1e-9; };
      QVERIFY(near(w.h.job->analysisTranscript()->words[0].range.start, 0.5 + late));
      QCOMPARE(w.h.job->manualRemovals().size(), std::size_t(1));
      QVERIFY(near(w.h.job->manualRemovals()[0].start, 3.0 + moved));
      const KestraneSession& shown = w.h.job->state().output->session;
      QCOMPARE(shown.soundTiming, SoundTiming::timestamps);
      QVERIFY(near(shown.transcript->words[0].range.start, 0.5 + late));

      QVERIFY(adjustedForARecut(w));
      QVERIFY(w.find<QPushButton>("cutIt")->isEnabled() && w.find<QPushButton>("playCut")->isEnabled());
      w.click("cutIt");
      QVERIFY(w.h.waitFor(Screen::done));
      const Pipeline::RecutRequest recut = w.h.engine->recutCalls().back();
      QVERIFY(recut.editsOnFileClock);
      QVERIFY(near(recut.settings.manualRemoveRanges->front().start, 3.0 + moved));
    }
  }

  // The options follow the file at the footage's path while they show, without the window coming
  // to the front: other footage saved there turns Play and Cut It off, and the footage put back
  // turns them on again.
  void theOptionsFollowTheFootageWhileTheyShow() {
    PackageWindow w;
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(adjustedForARecut(w));
    QVERIFY(w.usable());

    QVERIFY(QFile::rename(w.footage, w.h.path("kept.mov")));
    QVERIFY(recordOtherFootage(w.footage));
    QTRY_VERIFY_WITH_TIMEOUT(w.h.job->sourceMissing(), 60000);
    QCOMPARE(w.text("footageStatus"),
             QStringLiteral("This cut\u2019s footage can\u2019t be used \u2014 Cut It is off until it\u2019s back"));
    QVERIFY(::rename(QFile::encodeName(w.h.path("kept.mov")).constData(), QFile::encodeName(w.footage).constData()) ==
            0);
    QTRY_VERIFY_WITH_TIMEOUT(w.usable(), 60000);
  }

  // A look that takes its time (a file read far past a long tail of zeros) is said on the options
  // while Play waits for it, and it can be stopped: the play held for it ends without a sound,
  // and the next play looks again. A newer look takes over from it.
  void aLongLookIsSaidAndCanBeStopped() {
    PackageWindow w;
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(adjustedForARecut(w));
    w.h.engine->footageLookGate.close();
    QVERIFY(QFile::copy(w.footage, w.footage + ".copy"));
    QVERIFY(::rename(QFile::encodeName(w.footage + ".copy").constData(), QFile::encodeName(w.footage).constData()) ==
            0);
    w.activate();
    w.h.job->startAudition(0.5);
    QVERIFY(w.h.job->audition().isHeld());
    QTRY_VERIFY(w.h.job->lookingLong());
    QCOMPARE(w.text("footageStatus"),
             QStringLiteral("Checking the footage at its path \u2014 Play and Cut It wait for it"));
    auto* stop = w.find<QPushButton>("stopFootageLook");
    QVERIFY(stop->isVisible());

    // Another look (the window in front again) takes over, and is said the same way.
    w.activate();
    QVERIFY(w.h.job->lookingAtFootage() && !w.h.job->lookingLong());
    QTRY_VERIFY(w.h.job->lookingLong());
    w.click("stopFootageLook");
    QVERIFY(!w.h.job->lookingAtFootage() && w.h.job->footageLookStopped());
    QVERIFY(!w.h.job->isAuditioning());
    QCOMPARE(w.text("footageStatus"),
             QStringLiteral("Check of the footage stopped \u2014 Play or Cut It checks it again"));
    QVERIFY(!stop->isVisible());

    w.h.engine->footageLookGate.open();
    w.h.job->startAudition(0.5);
    QVERIFY(w.h.job->lookingAtFootage());
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(w.usable() && !w.h.job->footageLookStopped());
  }

  // A re-cut begun over footage replaced since the last look is stopped before it begins and
  // sends the window back to the options, saying why; no re-cut runs.
  void aRecutOverReplacedFootageNeverRuns() {
    PackageWindow w;
    QVERIFY(w.h.footageLookedAt());
    w.click("adjustAndRecut");
    QVERIFY(w.h.footageLookedAt());
    QVERIFY(QFile::rename(w.footage, w.h.path("kept.mov")));
    QVERIFY(recordOtherFootage(w.footage));
    w.h.job->start();
    QVERIFY(w.h.waitFor(Screen::configuring, 60000));
    QVERIFY(w.h.job->sourceMissing());
    QVERIFY(w.h.engine->recutCalls().empty());
  }

  // Looks at the footage run on threads of their own: while one is held up the window goes on
  // answering, a play waits for it without a sound, and quitting stops it.
  void lookingAtFootageNeverHoldsTheWindow() {
    auto w = std::make_unique<PackageWindow>();
    Harness& h = w->h;
    QVERIFY(h.footageLookedAt());
    w->click("adjustAndRecut");
    QVERIFY(h.footageLookedAt());
    QTRY_VERIFY(h.job->audition().decoded(w->footage));
    // A copy of the footage saved over it: the file judged is gone from the path, so the one
    // there now is heard in full.
    const auto copyOver = [&] {
      const QString copy = w->footage + QStringLiteral(".copy");
      return QFile::copy(w->footage, copy) &&
             ::rename(QFile::encodeName(copy).constData(), QFile::encodeName(w->footage).constData()) == 0;
    };
    QVERIFY(copyOver());
    h.engine->footageLookGate.close();
    w->activate();
    QVERIFY(h.job->lookingAtFootage());
    h.job->startAudition(1.0);
    QVERIFY(h.job->isAuditioning() && h.job->audition().isHeld());
    // The window answers meanwhile: keys reach the name field and the model behind it.
    auto* name = w->find<QLineEdit>("projectName");
    name->setFocus();
    QTest::keyClicks(name, "x");
    QTRY_VERIFY(h.job->projectName().endsWith(QLatin1Char('x')));
    QVERIFY(h.job->lookingAtFootage() && h.job->audition().isHeld());
    const auto threads = h.engine->footageLookThreads();
    QVERIFY(!threads.empty());
    for (const auto& thread : threads) QVERIFY(thread != std::this_thread::get_id());

    h.engine->footageLookGate.open();
    QVERIFY(h.footageLookedAt());
    QVERIFY(!h.job->sourceMissing());

    // Quitting while a look is held up stops it rather than waiting for it.
    QVERIFY(copyOver());
    h.engine->footageLookGate.close();
    w->activate();
    QVERIFY(h.job->lookingAtFootage());
    w.reset();
  }

  // The audition plays only sound read from the very file judged the footage: a copy of the same
  // recording saved over it is read again once it is heard to be that recording, and another
  // recording is listened to afresh as new footage, nothing of the first one heard over it.
  void theAuditionPlaysOnlyTheFileJudged() {
    Harness h;
    const QString footage = h.path("take.mov");
    QVERIFY(saveTake(footage, "first take"));
    h.job->accept({footage});
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QTRY_VERIFY(h.job->audition().decoded(footage));
    QCOMPARE(h.engine->soundDecodes(), 1);

    QVERIFY(saveTake(footage, "first take"));
    const auto copy = platform::MediaFile::open(toPath(footage).string());
    h.job->startAudition(0.6);
    QTRY_VERIFY(h.job->audition().decoded(footage) && h.engine->soundDecodes() == 2);
    QVERIFY(FootageLooks::sameFile(h.job->audition().decoded(footage)->file, copy));
    QCOMPARE(h.engine->analyzeCalls().size(), size_t(1));
    h.job->stopAudition();

    QVERIFY(saveTake(footage, "second take"));
    h.job->startAudition(0.6);
    QTRY_COMPARE(h.engine->analyzeCalls().size(), size_t(2));
    QVERIFY(!h.job->isAuditioning());
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QTRY_VERIFY(h.job->audition().decoded(footage));
    QVERIFY(!FootageLooks::sameFile(h.job->audition().decoded(footage)->file, copy));
  }

  // A first cut of footage whose sound ends well before its stated length is no cut ready: the
  // results are headed so, with the cut's own sentence under the heading.
  void aCutOffFirstCutIsHeadedWithItsWarning() {
    ShownWindow<NoDesktop> w;
    const std::string endsEarly = MediaDamage::endsEarlyWarning(33, 8);
    w.h.engine->makeOutput = [&](const std::filesystem::path& footage, const PipelineSettings& settings) {
      Pipeline::Output output = sampleOutput(footage, settings);
      output.warnings = {"1 damaged stretch was skipped", endsEarly};
      return output;
    };
    w.h.job->accept({w.h.touch("copy.mov")});
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    ShownWindow<NoDesktop>::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("The footage may be cut off"));
    QCOMPARE(w.text("footageEndsEarly"), QString::fromStdString(endsEarly));
    QCOMPARE(
        w.text("cutOffAdvice"),
        QStringLiteral("This first cut used the readable part. Replace the copy with a whole one and cut it again."));

    w.h.engine->makeOutput = {};
    w.click("adjustAndRecut");
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    ShownWindow<NoDesktop>::settle();
    QCOMPARE(w.text("heading"), QStringLiteral("First cut ready"));
    QVERIFY(!w.find("footageEndsEarly"));
  }

  // After a first cut of a copy cut off, the whole copy saved at its path is what to cut next: it
  // is listened to afresh and the options show it, ready to be cut, rather than saying to put the
  // broken copy back.
  void aWholeCopyAfterACutOffFirstCutIsCutAfresh() {
    ShownWindow<NoDesktop> w;
    w.h.engine->makeOutput = [](const std::filesystem::path& footage, const PipelineSettings& settings) {
      Pipeline::Output output = sampleOutput(footage, settings);
      output.warnings = {MediaDamage::endsEarlyWarning(33, 8)};
      return output;
    };
    const QString footage = w.h.path("copy.mov");
    QVERIFY(saveTake(footage, "the first eight seconds"));
    w.h.job->accept({footage});
    QTRY_COMPARE(w.h.job->preAnalysisState(), PreAnalysisState::ready);
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));

    QVERIFY(saveTake(footage, "the whole recording"));
    activate(w.window);
    QVERIFY(w.h.waitFor(Screen::configuring));
    QTRY_COMPARE(w.h.job->preAnalysisState(), PreAnalysisState::ready);
    QCOMPARE(w.h.engine->analyzeCalls().size(), size_t(2));
    QVERIFY(!w.h.job->sourceMissing() && !w.h.job->isRecut());
    w.h.engine->makeOutput = {};
    w.click("cutIt");
    QVERIFY(w.h.waitFor(Screen::done));
    QCOMPARE(w.h.engine->runCalls().size(), size_t(2));
    QVERIFY(w.h.engine->recutCalls().empty());
  }
};

QTEST_MAIN(FootageChangesTest)
#include "FootageChangesTest.moc"
