// Batches in the job model over a scripted engine: switching between videos, copying options,
// the background analysis queue, Cut All, remembering and rebuilding the last batch, and the
// combined import timeline.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUndoStack>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "AppTestSupport.hpp"
#include "FcpxmlDtd.hpp"
#include "app/core/BatchImport.hpp"
#include "app/core/Paths.hpp"
#include "app/core/RecentSessions.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

namespace {

bool allAnalysed(const JobModel& job) {
  return std::all_of(job.batch().begin(), job.batch().end(),
                     [](const BatchItem& i) { return i.analysis || i.analysisFailed; });
}

QStringList videos(const Harness& h, std::initializer_list<const char*> names) {
  QStringList out;
  for (const char* n : names) out << h.path(QString::fromLatin1(n));
  return out;
}

std::string validityOf(const QString& fcpxml) {
  const std::string command = fcpxml_dtd::xmllint(fcpxml.toStdString()) + " 2>/dev/null";
  return std::system(command.c_str()) == 0 ? std::string() : "invalid: " + command;
}

// A finished cut of a real-looking source, its session as the package holds it.
Pipeline::Output finishedCut(const QString& footage, std::optional<std::string> name, bool captions) {
  Pipeline::Output out = sampleOutput(toPath(footage), PipelineSettings::make(-40, 0.8, 0.15, true));
  SourceMedia& source = out.session.source;
  source.hasVideo = true;
  source.width = 1920;
  source.height = 1080;
  source.audioSampleRate = 48000;
  source.audioChannelCount = 2;
  out.session.projectName = std::move(name);
  out.session.settings.embedCaptions = captions;
  out.session.transcript = Transcript{{{"hello", {1.0, 1.5}}, {"there", {1.6, 2.0}}}};
  return out;
}

// Packages of earlier cuts, remembered as the last batch; returns their session files.
QStringList rememberBatchOf(const Harness& h, std::initializer_list<StoredCut> cuts) {
  QStringList sessions;
  for (const StoredCut& cut : cuts) {
    const QString folder = writeStoredCut(h.path(QString()), cut);
    sessions << QDir(folder).filePath(QFileInfo(cut.footage).completeBaseName() + ".kestrane.json");
  }
  auto settings = h.settings();
  RecentSessions::write(*settings, RecentSessions::lastBatchKey, sessions);
  return sessions;
}

StoredCut storedCutOf(const char* name) {
  StoredCut cut;
  cut.folder = QString::fromLatin1(name) + QStringLiteral(" Kestrane");
  cut.footage = QString::fromLatin1(name) + QStringLiteral(".mov");
  return cut;
}

}  // namespace

class BatchTest : public QObject {
  Q_OBJECT

 private slots:
  void switchingSavesAndRestoresEachVideo() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->analysisFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "c.mov") return "no sound";
      return std::nullopt;
    };
    job.accept(videos(h, {"a.mov", "b.mov", "notes.txt", "c.mov"}));
    QCOMPARE(job.state().screen, Screen::configuring);
    QCOMPARE(job.batch().size(), size_t(3));
    QCOMPARE(job.batchIndex(), 0);
    QCOMPARE(job.footagePath(), h.path("a.mov"));
    // Each video is named after its file; a script dropped with them belongs to the first.
    QCOMPARE(job.batch()[0].projectName, QStringLiteral("a"));
    QCOMPARE(job.batch()[1].projectName, QStringLiteral("b"));
    QCOMPARE(job.scriptPath(), h.path("notes.txt"));
    QVERIFY(job.batch()[1].scriptPath.isEmpty());
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::ready);
    const double derived = job.silenceThreshold();
    QVERIFY(derived != -40.0);

    job.setProjectName(QStringLiteral("Intro"));
    job.setTightness(CutTightness::jumpCut);
    job.setExportTarget(ExportTarget::resolve);
    job.setRenderMP4(true);
    const CutOptions chosen = job.cutOptions();
    job.setManualEdits({{{0.2, 0.4}}, {{1.0, 1.2}}});
    job.selectBatchItem(1);
    QCOMPARE(job.footagePath(), h.path("b.mov"));
    QCOMPARE(job.projectName(), QStringLiteral("b"));
    QVERIFY(job.scriptPath().isEmpty());
    QCOMPARE(job.batch()[0].scriptPath, h.path("notes.txt"));
    QVERIFY(job.cutOptions() == CutOptions{});
    QVERIFY(!job.hasManualEdits());
    job.selectBatchItem(0);
    QCOMPARE(job.projectName(), QStringLiteral("Intro"));
    QVERIFY(job.cutOptions() == chosen);
    QCOMPARE(job.manualKeeps(), (std::vector<TimeRange>{{0.2, 0.4}}));

    // Indexes outside the batch change nothing.
    for (int outside : {5, 3, -1}) {
      job.selectBatchItem(outside);
      QCOMPARE(job.batchIndex(), 0);
      QCOMPARE(job.footagePath(), h.path("a.mov"));
    }

    // A video whose analysis failed: shown as failed, nothing measured, and the starting
    // threshold rather than the last video's.
    job.selectBatchItem(2);
    QVERIFY(job.batch()[2].analysisFailed);
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::failed);
    QVERIFY(job.preAnalysisFailure().isEmpty());
    QVERIFY(job.levelsDBFS().empty());
    QVERIFY(!job.draftBands());
    QCOMPARE(job.silenceThreshold(), -40.0);
    job.selectBatchItem(0);
    QCOMPARE(job.silenceThreshold(), derived);
  }

  void applyToAllCopiesTheSevenOptionsOnly() {
    Harness h;
    JobModel& job = *h.job;
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov"}));
    job.selectBatchItem(2);
    job.setManualEdits({{}, {{0.5, 0.7}}});
    job.setProjectName(QStringLiteral("Outro"));
    job.selectBatchItem(1);
    job.setProjectName(QStringLiteral("Middle"));
    job.setScriptPath(h.path("middle.txt"));
    job.setTightness(CutTightness::tight);
    job.setThoroughness(Thoroughness::silencesOnly);
    job.setRemoveFillers(false);
    job.setEmbedCaptions(false);
    job.setSubtitleLength(TranscriptExporter::SubtitleLength::sentence);
    job.setExportTarget(ExportTarget::premiere);
    job.setRenderMP4(true);
    job.applySettingsToAllBatchItems();

    for (const BatchItem& item : job.batch()) {
      QCOMPARE(item.options.tightness, CutTightness::tight);
      QCOMPARE(item.options.thoroughness, Thoroughness::silencesOnly);
      QVERIFY(!item.options.removeFillers && !item.options.embedCaptions && item.options.renderMP4);
      QCOMPARE(item.options.subtitleLength, TranscriptExporter::SubtitleLength::sentence);
      QCOMPARE(item.options.exportTarget, ExportTarget::premiere);
    }
    QCOMPARE(job.batch()[2].projectName, QStringLiteral("Outro"));
    QCOMPARE(job.batch()[2].manualRemovals, (std::vector<TimeRange>{{0.5, 0.7}}));
    QVERIFY(job.batch()[2].scriptPath.isEmpty());
    QCOMPARE(job.batch()[1].scriptPath, h.path("middle.txt"));
  }

  void theQueueAnalysesOneVideoAtATimeInOrder() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->analysis.stages = {Pipeline::Stage::detectingSilence};
    h.engine->analysis.delay = std::chrono::milliseconds(20);
    h.engine->analysisFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "b.mov") return "unreadable";
      return std::nullopt;
    };
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov", "d.mov"}));
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::working);
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    std::vector<std::filesystem::path> expected;
    for (const char* n : {"a.mov", "b.mov", "c.mov", "d.mov"}) expected.push_back(toPath(h.path(n)));
    QCOMPARE(h.engine->analyzeCalls(), expected);
    QCOMPARE(h.engine->mostAnalysesAtOnce(), 1);
    // A failure marks its own video and the queue goes on.
    QVERIFY(job.batch()[1].analysisFailed && !job.batch()[1].analysis);
    QVERIFY(job.batch()[3].analysis);
    QCOMPARE(QString::fromStdString(job.batch()[2].analysis->source.path), h.path("c.mov"));
    // The selected video's analysis reached the editor as it ended.
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::ready);
    QVERIFY(!job.levelsDBFS().empty());
  }

  void aReplacedBatchStopsItsQueue() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->analysis.gate.close();
    h.engine->analysis.heedsStop = false;  // the first batch's analysis ends, late
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov"}));
    QVERIFY(waitUntil([&] { return h.engine->analyzeCalls().size() == 1; }));

    // A new batch while the first one's analysis still runs.
    job.accept(videos(h, {"x.mov", "y.mov"}));
    h.engine->analysis.gate.open();
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    QTest::qWait(100);
    QCOMPARE(job.batch().size(), size_t(2));
    QCOMPARE(QString::fromStdString(job.batch()[0].analysis->source.path), h.path("x.mov"));
    QCOMPARE(QString::fromStdString(job.batch()[1].analysis->source.path), h.path("y.mov"));
    // The first batch's queue ended with its first video: nothing else analysed, nothing twice.
    std::vector<std::filesystem::path> expected;
    for (const char* n : {"a.mov", "x.mov", "y.mov"}) expected.push_back(toPath(h.path(n)));
    QCOMPARE(h.engine->analyzeCalls(), expected);

    // Starting over mid-queue: nothing is indexed past the empty batch.
    h.engine->analysis.gate.close();
    job.accept(videos(h, {"p.mov", "q.mov", "r.mov"}));
    QVERIFY(waitUntil([&] { return h.engine->analyzeCalls().back().filename() == "p.mov"; }));
    job.reset();
    h.engine->analysis.gate.open();
    QTest::qWait(100);
    QVERIFY(job.batch().empty());
    QCOMPARE(job.state().screen, Screen::idle);
    QCOMPARE(h.engine->analyzeCalls().back().filename(), std::filesystem::path("p.mov"));
  }

  void cutAllCutsEachVideoInTurn() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->analysisFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "d.mov") return "no sound";
      return std::nullopt;
    };
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov", "d.mov"}));
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    job.setProjectName(QStringLiteral("   "));
    job.selectBatchItem(2);
    job.setProjectName(QStringLiteral("Intro"));
    const double derived = job.silenceThreshold();

    std::set<QString> labels;
    connect(&job, &JobModel::changed, this, [&] {
      if (job.batchStageLabel()) labels.insert(*job.batchStageLabel());
    });
    job.cutAll();
    QCOMPARE(job.state().screen, Screen::running);
    QVERIFY(h.waitFor(Screen::done));
    QVERIFY(labels.count(QStringLiteral("Video 3 of 4 \u2014 Intro")));
    QVERIFY(!job.batchStageLabel());
    QVERIFY(job.batchFinished());
    QVERIFY(job.lastCutDuration());

    const auto runs = h.engine->runCalls();
    QCOMPARE(runs.size(), size_t(4));
    QVERIFY(!runs[0].first.projectName);  // blank: named after the footage
    QCOMPARE(runs[2].first.projectName, std::optional<std::string>("Intro"));
    QVERIFY(runs[0].second && !runs[3].second);  // prepared analysis only where there is one
    QCOMPARE(runs[2].first.settings.silenceThresholdDBFS, derived);
    // The video without an analysis is cut at the starting threshold, not the one before it.
    QCOMPARE(runs[3].first.settings.silenceThresholdDBFS, -40.0);
    QCOMPARE(job.state().output->sessionURL, job.batch()[0].output->sessionURL);
    QCOMPARE(job.recentBatchPaths().size(), 4);

    // Everything already cut: no pipeline call, and the batch is done again at once.
    job.cutAll();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->runCalls().size(), size_t(4));
  }

  void cutAllUsesTheQueuesAnalysisInsteadOfRepeatingIt() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->analysis.gate.close();
    job.accept(videos(h, {"a.mov", "b.mov"}));
    job.cutAll();
    QVERIFY(waitUntil([&] { return h.engine->analyzeCalls().size() == 1; }));
    QTest::qWait(100);
    QVERIFY(h.engine->runCalls().empty());  // waits for the analysis under way
    h.engine->analysis.gate.open();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->analyzeCalls().size(), size_t(2));
    const auto runs = h.engine->runCalls();
    QCOMPARE(runs.size(), size_t(2));
    QVERIFY(runs[0].second && runs[1].second);
  }

  void cutAllMeasuresAVideoStillAnalysingAsASingleCutDoes() {
    Harness h;
    JobModel& job = *h.job;
    // A noise floor above the starting threshold: cut at -40 dBFS, nothing would count as quiet.
    h.engine->levels.assign(300, -35.0f);
    std::fill(h.engine->levels.begin() + 100, h.engine->levels.begin() + 200, -10.0f);
    const double measured = thresholdDBFS(defaultSilenceSensitivity, h.engine->levels);
    QVERIFY(measured > -35);
    const ManualEdits edits{{}, {{1.2, 1.4}}};

    h.engine->analysis.gate.close();
    job.accept(videos(h, {"a.mov", "b.mov"}));
    job.setManualEdits(edits);
    job.cutAll();
    QVERIFY(waitUntil([&] { return h.engine->analyzeCalls().size() == 1; }));
    h.engine->analysis.gate.open();
    QVERIFY(h.waitFor(Screen::done));
    const auto runs = h.engine->runCalls();
    QCOMPARE(runs.size(), size_t(2));
    QCOMPARE(runs[0].first.settings.silenceThresholdDBFS, measured);
    QCOMPARE(runs[1].first.settings.silenceThresholdDBFS, measured);

    // A single Cut It of the same footage, pressed as early, asks for the same cut.
    job.reset();
    h.engine->analysis.gate.close();
    job.accept({h.path("a.mov")});
    job.setManualEdits(edits);
    job.start();
    h.engine->analysis.gate.open();
    QVERIFY(h.waitFor(Screen::done));
    const Pipeline::Request single = h.engine->runCalls().back().first;
    const Pipeline::Request& batched = runs[0].first;
    QCOMPARE(single.input, batched.input);
    QCOMPARE(single.projectName, batched.projectName);
    QCOMPARE(single.renderMP4, batched.renderMP4);
    QCOMPARE(single.settings.silenceThresholdDBFS, batched.settings.silenceThresholdDBFS);
    QCOMPARE(single.settings.speechPadding, batched.settings.speechPadding);
    QCOMPARE(single.settings.manualRemoveRanges, batched.settings.manualRemoveRanges);
    QCOMPARE(single.settings.thoroughness, batched.settings.thoroughness);
  }

  void switchingVideosAndCutAllStopPlayback() {
    Harness h;
    JobModel& job = *h.job;
    // While its sound is still being read, a play is under way.
    h.engine->soundGate.close();
    const auto open = qScopeGuard([&] {
      h.engine->soundGate.open();
      h.engine->draftGate.open();
    });
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov"}));
    QVERIFY(waitUntil([&] { return allAnalysed(job) && job.draftBands(); }));
    QSignalSpy published(&job, &JobModel::draftPublished);
    job.startAudition(0.5);
    QVERIFY(job.isAuditioning());
    job.selectBatchItem(1);
    QVERIFY(!job.isAuditioning());
    // The next video's draft does not bring the last one's playback back over it.
    QVERIFY(waitUntil([&] { return published.count() == 1; }));
    QVERIFY(!job.isAuditioning());

    // Nor does a draft refresh that paused playback to resume it once its bands are in.
    job.startAudition(0.5);
    h.engine->draftGate.close();
    job.setTightness(CutTightness::tight);
    job.selectBatchItem(2);
    h.engine->draftGate.open();
    QVERIFY(waitUntil([&] { return published.count() == 2; }));
    QVERIFY(!job.isAuditioning());

    job.startAudition(0.5);
    QVERIFY(job.isAuditioning());
    job.cutAll();
    QVERIFY(!job.isAuditioning());
    QVERIFY(h.waitFor(Screen::done));
    QVERIFY(!job.isAuditioning());
  }

  void eachVideoKeepsItsOwnEditsAndNoStepOutlivesASwitch() {
    Harness h;
    JobModel& job = *h.job;
    QUndoStack& history = *job.editHistory();
    h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      return "cannot cut " + p.filename().string();
    };
    job.accept(videos(h, {"a.mov", "b.mov"}));
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    job.selectBatchItem(1);
    job.editStretch({0.6, 0.9}, false, false, &history);
    QCOMPARE(history.count(), 1);
    const ManualEdits onB = job.manualEdits();
    job.selectBatchItem(0);
    QCOMPARE(history.count(), 0);
    job.editStretch({1.2, 1.4}, false, false, &history);
    QCOMPARE(history.count(), 1);
    const ManualEdits onA = job.manualEdits();
    QVERIFY(onA != onB && !onB.empty());

    job.cutAll();
    QVERIFY(h.waitFor(Screen::failed));
    // Each video is cut with its own hand edits, the ones made just before Cut All included.
    const auto runs = h.engine->runCalls();
    QCOMPARE(runs.size(), size_t(2));
    QCOMPARE(runs[0].first.settings.manualRemoveRanges, std::optional(onA.removals));
    QCOMPARE(runs[1].first.settings.manualRemoveRanges, std::optional(onB.removals));

    // Try Again shows the last video cut; a's step stayed with a, so nothing acts on b.
    job.retryFromFailure();
    QCOMPARE(job.footagePath(), h.path("b.mov"));
    QCOMPARE(job.manualEdits(), onB);
    QCOMPARE(history.count(), 0);
    history.undo();
    history.redo();
    QCOMPARE(job.manualEdits(), onB);
    QCOMPARE(job.batch()[0].manualRemovals, onA.removals);
    // b's own steps undo as ever.
    job.editStretch({1.1, 1.3}, false, false, &history);
    QCOMPARE(history.count(), 1);
    history.undo();
    QCOMPARE(job.manualEdits(), onB);
  }

  void everyOtherWayToAnotherVideoEmptiesTheHistory() {
    Harness h;
    rememberBatchOf(h, {storedCutOf("one"), storedCutOf("two")});
    h.remake();
    JobModel& job = *h.job;
    QUndoStack& history = *job.editHistory();
    const auto edit = [&] {
      job.editStretch({0.6, 0.9}, false, false, &history);
      return history.count() == 1;
    };
    // The same video dropped again keeps its edits and their steps.
    job.accept({h.path("single.mov")});
    QVERIFY(edit());
    job.accept({h.path("single.mov")});
    QCOMPARE(history.count(), 1);
    // Another video dropped: its edits are its own, empty, with nothing to undo.
    job.accept({h.path("other.mov")});
    QCOMPARE(history.count(), 0);
    QVERIFY(!job.hasManualEdits());
    QVERIFY(edit());
    job.accept(videos(h, {"a.mov", "b.mov"}));
    QCOMPARE(history.count(), 0);
    QVERIFY(edit());
    // A package of the video shown reopened: its stored edits replace the ones made here.
    const QString package = writeStoredCut(h.path(QString()), StoredCut{});
    job.accept({h.path("take 04.mov")});
    QVERIFY(edit());
    job.openSession(package);
    QCOMPARE(history.count(), 0);
    QVERIFY(edit());
    job.reopenLastBatch();
    QCOMPARE(job.batch().size(), size_t(2));
    QCOMPARE(history.count(), 0);
    QVERIFY(edit());
    job.reset();
    QCOMPARE(history.count(), 0);
  }

  void dropsOnABatch() {
    Harness h;
    JobModel& job = *h.job;
    job.accept(videos(h, {"a.mov", "b.mov"}));
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    job.selectBatchItem(1);
    // A script joins the video shown, and starts no analysis of its own.
    job.accept({h.path("later.txt")});
    QCOMPARE(job.batch().size(), size_t(2));
    QCOMPARE(job.scriptPath(), h.path("later.txt"));
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::ready);
    job.selectBatchItem(0);
    QCOMPARE(job.batch()[1].scriptPath, h.path("later.txt"));
    QCOMPARE(h.engine->analyzeCalls().size(), size_t(2));

    // One video replaces the batch.
    job.accept({h.path("single.mov")});
    QVERIFY(job.batch().empty());
    QCOMPARE(job.footagePath(), h.path("single.mov"));
    QCOMPARE(job.projectName(), QStringLiteral("single"));

    // So does a reopened package, whose results are one cut's.
    job.accept(videos(h, {"a.mov", "b.mov"}));
    job.openSession(writeStoredCut(h.path(QString()), StoredCut{}));
    QVERIFY(job.batch().empty());
    QCOMPARE(job.state().screen, Screen::done);
    QVERIFY(!job.batchFinished());
  }

  void failuresStayPerVideo() {
    Harness h;
    JobModel& job = *h.job;
    h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      return "cannot cut " + p.filename().string();
    };
    job.accept(videos(h, {"a.mov", "b.mov", "c.mov"}));
    job.cutAll();
    QVERIFY(h.waitFor(Screen::failed));
    QCOMPARE(job.state().message, QStringLiteral("cannot cut a.mov"));
    QCOMPARE(job.batch()[2].failure, std::optional<QString>(QStringLiteral("cannot cut c.mov")));
    QVERIFY(job.recentBatchPaths().isEmpty());

    // Trying again cuts every video again; one finished video is not remembered as a batch.
    h.engine->cutFailure = [](const std::filesystem::path& p) -> std::optional<std::string> {
      if (p.filename() == "a.mov") return std::nullopt;
      return "still cannot cut " + p.filename().string();
    };
    job.retryFromFailure();
    QCOMPARE(job.state().screen, Screen::configuring);
    job.cutAll();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->runCalls().size(), size_t(6));
    QVERIFY(job.batch()[0].output && !job.batch()[1].output);
    QVERIFY(job.recentBatchPaths().isEmpty());
    QVERIFY(job.batchFinished());
  }

  void theLastBatchIsRebuiltFromItsSessions() {
    Harness h;
    StoredCut first;
    first.folder = QStringLiteral("one Kestrane");
    first.footage = QStringLiteral("one.mov");
    first.withLevels = true;
    first.settings.thoroughness = Thoroughness::meticulous;
    first.settings.speechPadding = 0.125;
    first.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
    first.projectName = "First";
    StoredCut second = first;
    second.folder = QStringLiteral("two Kestrane");
    second.footage = QStringLiteral("two.mov");
    second.withLevels = false;
    second.projectName.reset();
    second.settings.thoroughness = Thoroughness::silencesOnly;
    second.settings.speechPadding = 0.05;
    StoredCut third = second;
    third.folder = QStringLiteral("three Kestrane");
    third.footage = QStringLiteral("three.mov");
    const QStringList sessions = rememberBatchOf(h, {first, second, third});
    h.remake();
    JobModel& job = *h.job;
    QCOMPARE(job.reopenableBatchCount(), 3);
    QFile::remove(sessions[2]);
    QCOMPARE(job.reopenableBatchCount(), 2);

    // The editor's own values do not leak into the first item.
    job.setProjectName(QStringLiteral("Leftover"));
    job.reopenLastBatch();
    QCOMPARE(job.state().screen, Screen::configuring);
    QCOMPARE(job.batch().size(), size_t(2));
    QCOMPARE(job.batchIndex(), 0);
    const BatchItem& one = job.batch()[0];
    QCOMPARE(one.projectName, QStringLiteral("First"));
    QCOMPARE(one.options.thoroughness, Thoroughness::balanced);
    QCOMPARE(one.options.tightness, CutTightness::natural);
    QCOMPARE(one.manualRemovals, (std::vector<TimeRange>{{1, 2}}));
    QVERIFY(one.analysis && !one.output);
    QCOMPARE(job.projectName(), QStringLiteral("First"));
    QCOMPARE(job.preAnalysisState(), PreAnalysisState::ready);
    const BatchItem& two = job.batch()[1];
    QCOMPARE(two.projectName, QStringLiteral("two"));
    QCOMPARE(two.options.thoroughness, Thoroughness::silencesOnly);
    QCOMPARE(two.options.tightness, CutTightness::jumpCut);
    // Only the session without levels is analysed again.
    QVERIFY(waitUntil([&] { return allAnalysed(job); }));
    QCOMPARE(h.engine->analyzeCalls(), (std::vector<std::filesystem::path>{toPath(h.path("two.mov"))}));

    // With one session left there is no batch to rebuild.
    job.reset();
    QFile::remove(sessions[1]);
    QCOMPARE(job.reopenableBatchCount(), 0);
    job.reopenLastBatch();
    QCOMPARE(job.dropMessage(),
             std::optional<QString>(QStringLiteral("That batch\u2019s session files aren\u2019t where they were \u2014 "
                                                   "open the packages one at a time instead.")));
    QVERIFY(job.batch().empty());
    QCOMPARE(job.state().screen, Screen::idle);
  }

  void theImportFileHoldsEveryFinishedCut() {
    QTemporaryDir dir;
    const QString imports = dir.filePath(QStringLiteral("Kestrane Imports"));
    QVERIFY(QDir().mkpath(imports));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    auto aged = [&](const QString& name, int seconds) {
      QFile f(QDir(imports).filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.setFileTime(now.addSecs(-seconds), QFileDevice::FileModificationTime));
    };
    const QString old = BatchImport::fileName(now.addSecs(-3700));
    const QString recent = BatchImport::fileName(now.addSecs(-600));
    aged(old, 3700);
    aged(recent, 600);

    QVERIFY_THROWS_EXCEPTION(BatchImport::ImportError, BatchImport::write({}, imports, now));
    try {
      BatchImport::write({}, imports, now);
    } catch (const BatchImport::ImportError& e) {
      QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("No finished cuts to import."));
    }

    const QString path = BatchImport::write(
        {finishedCut(dir.filePath("a.mov"), "Intro", true), finishedCut(dir.filePath("b.mov"), "", false)}, imports,
        now);
    const QString name = QFileInfo(path).fileName();
    QVERIFY(name.startsWith(QStringLiteral("Kestrane Batch Import ")));
    QVERIFY(name.endsWith(QStringLiteral(".fcpxml")));
    QVERIFY(!name.contains(QLatin1Char(':')));
    QVERIFY(!QFile::exists(QDir(imports).filePath(old)));
    QVERIFY(QFile::exists(QDir(imports).filePath(recent)));
    const std::string invalid = validityOf(path);
    QVERIFY2(invalid.empty(), invalid.c_str());
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(written.readAll());
    QVERIFY(text.contains(QStringLiteral("Intro \u2014 Kestrane")));
    QVERIFY(text.contains(QStringLiteral("b \u2014 Kestrane")));
    QVERIFY(text.contains(QStringLiteral("Kestrane Batch")));

    // Captions come with a project only when its session kept them on and has words.
    QVERIFY(!BatchImport::project(finishedCut(dir.filePath("a.mov"), "A", true).session).captions.empty());
    QVERIFY(BatchImport::project(finishedCut(dir.filePath("a.mov"), "A", false).session).captions.empty());
    Pipeline::Output wordless = finishedCut(dir.filePath("a.mov"), "A", true);
    wordless.session.transcript.reset();
    QVERIFY(BatchImport::project(wordless.session).captions.empty());
  }

  // The folder sits in a temporary folder anyone can write to: it is made private, a link or
  // another user's folder in its place is refused, and the clean-up takes only old files of the
  // program's own names, never what a link leads to.
  void theImportFolderIsPrivateAndNeverLeadsOut() {
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::vector<Pipeline::Output> cuts = {finishedCut(dir.filePath("a.mov"), "A", false)};
    const QString imports = dir.filePath(QStringLiteral("Kestrane Imports"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere + QStringLiteral("/folder")));
    const auto aged = [&](const QString& path) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.setFileTime(now.addSecs(-7200), QFileDevice::FileModificationTime));
    };
    const QString theirs = elsewhere + QLatin1Char('/') + BatchImport::fileName(now.addSecs(-7200));
    aged(theirs);
    aged(elsewhere + QStringLiteral("/notes.txt"));
    const auto refused = [&](const char* why) {
      try {
        BatchImport::write(cuts, imports, now);
      } catch (const BatchImport::ImportError& e) {
        return QString::fromUtf8(e.what()) == QStringLiteral("Couldn't use the folder %1: %2").arg(imports, why);
      }
      return false;
    };

    QVERIFY(QFile::link(elsewhere, imports));
    QVERIFY(refused("it is a link"));
    QVERIFY(QFile::exists(theirs) && QFile::exists(elsewhere + QStringLiteral("/notes.txt")));
    QVERIFY(QDir(elsewhere + QStringLiteral("/folder")).exists());
    QVERIFY(QFile::remove(imports));

    QVERIFY(!BatchImport::write(cuts, imports, now).isEmpty());
    struct stat facts {};
    QCOMPARE(::stat(QFile::encodeName(imports).constData(), &facts), 0);
    QCOMPARE(facts.st_mode & 0777, 0700u);
    // Inside, only the program's old files go: not other names, folders or links, nor where a
    // link leads.
    aged(imports + QLatin1Char('/') + BatchImport::fileName(now.addSecs(-7200)));
    aged(imports + QStringLiteral("/.kestrane-staged-4242-0123456789abcdef"));
    aged(imports + QStringLiteral("/notes.txt"));
    QVERIFY(QDir().mkpath(imports + QLatin1Char('/') + BatchImport::fileName(now.addSecs(-7300))));
    const QString link = imports + QLatin1Char('/') + BatchImport::fileName(now.addSecs(-7400));
    QVERIFY(QFile::link(theirs, link));
    const QString path = BatchImport::write(cuts, imports, now.addSecs(1));
    QCOMPARE(QDir(imports).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             (QStringList{QFileInfo(link).fileName(), BatchImport::fileName(now.addSecs(-7300)),
                          BatchImport::fileName(now), QFileInfo(path).fileName(), QStringLiteral("notes.txt")}));
    QVERIFY(QFile::exists(theirs));

    // Another user's folder (only root can make one here).
    if (::chown(QFile::encodeName(imports).constData(), 65534, 65534) != 0) QSKIP("needs root to give the folder away");
    QVERIFY(refused("it belongs to another user"));
  }

  void theModelsImportErrorClearsOnSuccessAndReset() {
    Harness h;
    qputenv("TMPDIR", h.path(QStringLiteral("tmp")).toUtf8());
    QDir().mkpath(h.path(QStringLiteral("tmp")));
    JobModel& job = *h.job;
    job.accept(videos(h, {"a.mov", "b.mov"}));
    QVERIFY_THROWS_EXCEPTION(BatchImport::ImportError, job.batchImportAllPath());

    h.engine->makeOutput = [&](const std::filesystem::path& footage, const PipelineSettings&) {
      return finishedCut(fromPath(footage), std::nullopt, true);
    };
    job.cutAll();
    QVERIFY(h.waitFor(Screen::done));
    job.setBatchImportError(QStringLiteral("Couldn't write"));
    const QString path = job.batchImportAllPath();
    QVERIFY(path.startsWith(h.path(QStringLiteral("tmp/Kestrane Imports/"))));
    QVERIFY(!job.batchImportError());
    job.setBatchImportError(QStringLiteral("Couldn't write"));
    job.reset();
    QVERIFY(!job.batchImportError());
    qunsetenv("TMPDIR");
  }
};

// As QTEST_GUILESS_MAIN, with an exit status that tells a timeline not checked against the DTD.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  BatchTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return fcpxml_dtd::exitStatus(QTest::qExec(&test, argc, argv));
}
#include "BatchTest.moc"
