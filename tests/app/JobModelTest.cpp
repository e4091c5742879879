// The job model over a scripted engine: defaults, remembered sessions, a cut from start to end,
// re-cuts, failures, and reports that arrive late.
#include <QSignalSpy>
#include <QTest>

#include "AppTestSupport.hpp"
#include "app/core/RecentSessions.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;
using S = Pipeline::Stage;

namespace {

// Records each state the model shows: the stage while running, else the screen.
void recordStates(JobModel& job, std::vector<QString>& seen) {
  QObject::connect(&job, &JobModel::stateChanged, &job, [&job, &seen] {
    const JobState& s = job.state();
    seen.push_back(s.stage ? QString::fromStdString(s.stage->rawValue)
                           : QStringLiteral("screen %1").arg(static_cast<int>(s.screen)));
  });
}

}  // namespace

class JobModelTest : public QObject {
  Q_OBJECT

 private slots:
  void freshModelHasTheDefaults() {
    Harness h;
    const JobModel& job = *h.job;
    QCOMPARE(job.state().screen, Screen::idle);
    QCOMPARE(job.silenceThreshold(), -40.0);
    QCOMPARE(job.tightness(), CutTightness::natural);
    QCOMPARE(job.thoroughness(), Thoroughness::balanced);
    QVERIFY(job.removeFillers());
    QVERIFY(job.embedCaptions());
    QCOMPARE(job.subtitleLength(), TranscriptExporter::SubtitleLength::medium);
    QCOMPARE(job.exportTarget(), ExportTarget::finalCut);
    QVERIFY(!job.renderMP4());
    QCOMPARE(job.sensitivity(), SilenceSensitivity::automatic);
    QCOMPARE(job.levelHopDuration(), 0.01);
    QVERIFY(job.projectName().isEmpty() && job.footagePath().isEmpty() && job.scriptPath().isEmpty());
    QVERIFY(job.recentSessionPaths().isEmpty() && job.recentBatchPaths().isEmpty());

    // The settings of a cut: never the second opinion, and a full cut is always the fast one.
    PipelineSettings settings = job.currentSettings();
    QCOMPARE(settings.thoroughness, std::optional(Thoroughness::fast));
    QCOMPARE(settings.aiAdjudication, std::optional(false));
    QCOMPARE(settings.dedupRepeatedLines, std::optional(true));
    QCOMPARE(settings.speechPadding, 0.15);
    QCOMPARE(settings.minSilenceDuration, 0.8);
    QVERIFY(settings.manualKeepRanges && settings.manualKeepRanges->empty());
    QVERIFY(!settings.graphicsLimit);

    std::vector<QString> planned;
    for (const S& s : job.plannedStages()) planned.push_back(QString::fromStdString(s.rawValue));
    QCOMPARE(planned.back(), QStringLiteral("Building your package"));
    QCOMPARE(planned.size(), size_t(7));  // four analysis and decision steps, two retry notices, the package
    h.job->setRenderMP4(true);
    QCOMPARE(h.job->plannedStages().back(), S::rendering);
  }

  void recentSessionsAreKeptNewestFirst() {
    QStringList list;
    for (const char* p : {"a", "b", "c", "b"}) list = RecentSessions::remembered(list, p);
    QCOMPARE(list, (QStringList{"b", "c", "a"}));
    for (const char* p : {"d", "e", "f"}) list = RecentSessions::remembered(list, p);
    QCOMPARE(list, (QStringList{"f", "e", "d", "b", "c"}));

    Harness h;
    {
      auto settings = h.settings();
      RecentSessions::write(*settings, RecentSessions::singleCutsKey, {"/only/one.kestrane.json"});
      RecentSessions::write(*settings, RecentSessions::lastBatchKey, {"/x", "/y"});
    }
    h.remake();
    QCOMPARE(h.job->recentSessionPaths(), QStringList{"/only/one.kestrane.json"});
    QCOMPARE(h.job->recentBatchPaths(), (QStringList{"/x", "/y"}));

    h.settings()->setValue(RecentSessions::singleCutsKey, QVariantMap{{"a", 1}});
    h.remake();
    QVERIFY(h.job->recentSessionPaths().isEmpty());
  }

  void aCutRunsThroughItsStagesToTheResults() {
    Harness h;
    h.engine->cut.stages = {S::probing, S::detectingSilence, S::transcribing, S::decidingEdits, S::exporting};
    h.engine->analysis.gate.close();  // the pre-analysis is still working when Cut It is pressed
    const QString footage = h.touch("a.mov");
    h.job->accept({footage, h.touch("script.txt")});
    h.job->setProjectName(QStringLiteral("  Intro  "));
    h.engine->analysis.failure = "no";
    h.engine->analysis.gate.open();  // fails: the run analyses again
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::failed);

    std::vector<QString> seen;
    recordStates(*h.job, seen);
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(seen, (std::vector<QString>{"Choosing the best takes", "Transcribing every word", "Opening your footage",
                                         "Measuring the audio", "Transcribing every word", "Choosing the best takes",
                                         "Building your package", "screen 3"}));
    const auto runs = h.engine->runCalls();
    QCOMPARE(runs.size(), size_t(1));
    const Pipeline::Request& request = runs[0].first;
    QVERIFY(!runs[0].second);
    QCOMPARE(request.projectName, std::optional<std::string>("Intro"));
    QVERIFY(!request.projectNotes);
    QVERIFY(request.scriptURL && request.scriptURL->filename() == "script.txt");
    QVERIFY(!request.useClaude && !request.createMotionGraphics && !request.outputDir);

    const QString session = h.job->lastSessionPath();
    QVERIFY(session.endsWith("a.kestrane.json"));
    QCOMPARE(h.job->recentSessionPaths().front(), session);
    QVERIFY(h.job->lastCutDuration().has_value());
    QVERIFY(!h.job->lastPreAnalysisDuration());
    QVERIFY(!h.job->isRecut());
    h.remake();  // remembered across launches
    QCOMPARE(h.job->recentSessionPaths(), QStringList{session});
  }

  void aFinishedPreAnalysisIsReused() {
    Harness h;
    h.job->accept({h.touch("a.mov")});
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QVERIFY(h.job->silenceThreshold() != -40.0);  // follows the measured levels
    h.job->start();
    QCOMPARE(h.job->state().stage, std::optional(S::decidingEdits));
    QVERIFY(h.waitFor(Screen::done));
    QVERIFY(h.engine->runCalls().at(0).second);
    QVERIFY(h.job->lastPreAnalysisDuration().has_value());
    QCOMPARE(h.engine->analyzeCalls().size(), size_t(1));
  }

  void aRecutPassesOnlyWhatChanged() {
    Harness h;
    h.job->accept({h.touch("a.mov")});
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    const QString session = h.job->lastSessionPath();

    h.job->adjustAndRecut();
    QCOMPARE(h.job->state().screen, Screen::configuring);
    QVERIFY(h.job->isRecut());
    h.job->start();
    QCOMPARE(h.job->state().stage, std::optional(S::decidingEdits));
    QVERIFY(h.waitFor(Screen::done));
    auto recuts = h.engine->recutCalls();
    QCOMPARE(recuts.size(), size_t(1));
    QCOMPARE(QString::fromStdString(recuts[0].sessionURL.string()), session);
    // The unchanged name stays out, so a renamed package is re-cut in place; blank notes clear.
    QVERIFY(!recuts[0].projectName);
    QCOMPARE(recuts[0].projectNotes, std::optional<std::string>(""));
    QCOMPARE(recuts[0].settings.thoroughness, std::optional(Thoroughness::fast));
    QVERIFY(!h.job->isRecut());
    QVERIFY(!h.job->lastPreAnalysisDuration());

    h.job->adjustAndRecut();
    h.job->setProjectName(QStringLiteral("Intro v2 "));
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->recutCalls().at(1).projectName, std::optional<std::string>("Intro v2"));
  }

  void aFailureShowsItsMessageAndLeadsBack() {
    Harness h;
    h.engine->cut.failure = "No speech found in the footage";
    h.job->accept({h.touch("a.mov")});
    h.job->adjustAndRecut();  // nothing to re-cut yet: back to the start
    QCOMPARE(h.job->state().screen, Screen::idle);
    h.job->accept({h.touch("a.mov")});
    h.job->start();
    QVERIFY(h.waitFor(Screen::failed));
    QCOMPARE(h.job->state().message, QStringLiteral("No speech found in the footage"));
    QVERIFY(h.job->lastSessionPath().isEmpty());
    h.job->retryFromFailure();
    QCOMPARE(h.job->state().screen, Screen::configuring);
    QVERIFY(!h.job->footagePath().isEmpty());
    h.job->reset();
    h.job->retryFromFailure();
    QCOMPARE(h.job->state().screen, Screen::idle);
  }

  // Tried again, a failed cut shows what is at the footage's path now, which is what the next cut
  // reads: the recording analysed keeps its waveform and hand edits, and another one saved there
  // since is listened to afresh, nothing of the first one shown over it.
  void tryAgainShowsTheFootageAtItsPathNow() {
    Harness h;
    StoredCut stored{.withLevels = true};
    stored.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
    h.job->openSession(writeStoredCut(h.dir.path(), stored));
    const std::vector<float> storedLevels = h.job->levelsDBFS();
    h.engine->cut.failure = "No space left on device";
    h.job->adjustAndRecut();
    for (bool replaced : {false, true}) {
      h.job->start();
      QVERIFY(h.waitFor(Screen::failed));
      if (replaced) QVERIFY(recordOtherFootage(h.job->footagePath()));
      h.job->retryFromFailure();
      QVERIFY(h.footageLookedAt());
      QCOMPARE(h.job->levelsDBFS() == storedLevels, !replaced);
      QCOMPARE(h.job->hasManualEdits(), !replaced);
      QCOMPARE(h.job->preAnalysisState() == PreAnalysisState::none, !replaced);
    }
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QCOMPARE(h.engine->analyzeCalls(), std::vector<std::filesystem::path>{toPath(h.job->footagePath())});
  }

  void aStageReportedAfterTheEndChangesNothing() {
    Harness h;
    h.engine->lateStage = {S::exporting, std::chrono::milliseconds(100)};
    h.job->accept({h.touch("a.mov")});
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    h.engine->joinLateReports();
    QTest::qWait(50);
    QCOMPARE(h.job->state().screen, Screen::done);

    // Nor does one from an earlier cut reach a later one.
    h.engine->lateStage = {S::transcribing, std::chrono::milliseconds(100)};
    h.job->adjustAndRecut();
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    h.engine->lateStage.reset();
    h.engine->cut.gate.close();
    h.job->adjustAndRecut();
    h.job->start();
    h.engine->joinLateReports();
    QTest::qWait(50);
    QCOMPARE(h.job->state().stage, std::optional(S::decidingEdits));
    h.engine->cut.gate.open();
    QVERIFY(h.waitFor(Screen::done));
  }
};

QTEST_GUILESS_MAIN(JobModelTest)
#include "JobModelTest.moc"
