// The background analysis and the live draft over a scripted engine: the threshold that the
// sensitivity makes, which analysis and which draft may publish, and what the views read from
// the draft (reasons, audible onsets, the caption sample, pasted scripts).
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "AppTestSupport.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;
using Length = TranscriptExporter::SubtitleLength;

namespace {

// Levels whose quiet tenth sits at `floor` and whose loud tenth at `speech`.
std::vector<float> levelsBetween(float floor, float speech) {
  std::vector<float> levels(400, floor);
  std::fill(levels.begin() + 200, levels.end(), speech);
  return levels;
}

// A draft whose only removal is a silence as long as the tightness's minimum, so the published
// bands tell which settings made them.
Pipeline::DraftCut markedDraft(const Pipeline::Analysis&, const PipelineSettings& settings) {
  Pipeline::DraftCut draft;
  draft.cutList.segments = {{{0, settings.minSilenceDuration}, SegmentKind::silence},
                            {{settings.minSilenceDuration, 4}, SegmentKind::keep}};
  return draft;
}

// The settings of the last draft the engine was asked for; none before the first.
std::optional<PipelineSettings> lastDraft(const FakeEngine& engine) {
  const std::vector<PipelineSettings> calls = engine.draftCalls();
  if (calls.empty()) return std::nullopt;
  return calls.back();
}

void analyseOnce(Harness& h, const QString& footage = QStringLiteral("a.mov")) {
  h.job->accept({h.touch(footage)});
  QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
}

}  // namespace

class DraftTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  void theSensitivityMovesTheSuggestedThreshold_data() {
    QTest::addColumn<float>("floor");
    QTest::addColumn<float>("speech");
    QTest::addColumn<SilenceSensitivity>("sensitivity");
    QTest::addColumn<double>("threshold");
    // Suggested −38: −60 + 0.55 × 40.
    QTest::newRow("automatic") << -60.f << -20.f << SilenceSensitivity::automatic << -38.0;
    QTest::newRow("much more") << -60.f << -20.f << SilenceSensitivity::muchMore << -32.0;
    // Suggested −27 (−50 + 0.55 × 42, rounded); +6 is held at −25.
    QTest::newRow("held at the top") << -50.f << -8.f << SilenceSensitivity::muchMore << -25.0;
    // A flat recording: floor + 14 = −52; −6 is held at −55.
    QTest::newRow("held at the bottom") << -66.f << -66.f << SilenceSensitivity::muchLess << -55.0;
  }
  void theSensitivityMovesTheSuggestedThreshold() {
    QFETCH(float, floor);
    QFETCH(float, speech);
    QFETCH(SilenceSensitivity, sensitivity);
    QFETCH(double, threshold);
    Harness h;
    h.engine->levels = levelsBetween(floor, speech);
    analyseOnce(h);
    h.job->setSensitivity(sensitivity);
    QCOMPARE(h.job->silenceThreshold(), threshold);
    // Drafts record themselves from their own threads, so any order: one was asked at the threshold.
    QTRY_VERIFY(std::ranges::any_of(h.engine->draftCalls(),
                                    [&](const PipelineSettings& s) { return s.silenceThresholdDBFS == threshold; }));
  }

  void everyOptionChangeRefreshesTheDraftAndOnlyTheNewestPublishes() {
    Harness h;
    h.engine->makeDraft = markedDraft;
    // No analysis yet: no draft, and no draft is asked for.
    h.job->setTightness(CutTightness::tight);
    QVERIFY(!h.job->draftBands());
    QVERIFY(h.engine->draftCalls().empty());

    analyseOnce(h);
    QTRY_VERIFY(h.job->draftBands().has_value());
    const auto calls = h.engine->draftCalls().size();
    const auto generation = h.job->draftGeneration();
    h.job->setTightness(h.job->tightness());  // the same value still refreshes
    QVERIFY(h.job->draftGeneration() > generation);
    QTRY_COMPARE(h.engine->draftCalls().size(), calls + 1);
    // The draft is the automatic cut: hand edits never reach it.
    QVERIFY(lastDraft(*h.engine)->manualRemoveRanges->empty());

    // Two quick changes while the engine is busy: only the second one's draft is shown.
    h.engine->draftGate.close();
    QSignalSpy changes(h.job.get(), &JobModel::changed);
    h.job->setTightness(CutTightness::relaxed);
    h.job->setTightness(CutTightness::jumpCut);
    QTRY_COMPARE(h.engine->draftCalls().size(), calls + 3);
    h.engine->draftGate.open();
    QTRY_COMPARE(h.job->draftBands(), std::optional(std::vector<TimeRange>{{0, 0.35}}));
    QTest::qWait(50);
    QCOMPARE(h.job->draftBands(), std::optional(std::vector<TimeRange>{{0, 0.35}}));
    QCOMPARE(h.job->draftReasonSegments().size(), size_t(1));

    // Silences only reaches the engine as such; starting over clears the draft.
    h.job->setThoroughness(Thoroughness::silencesOnly);
    QTRY_VERIFY(lastDraft(*h.engine)->thoroughness == Thoroughness::silencesOnly);
    h.job->reset();
    QVERIFY(!h.job->draftBands() && h.job->draftRemovals().empty() && h.job->silenceBands().empty());
  }

  void onlyTheCurrentFootagesAnalysisPublishes() {
    Harness h;
    h.engine->analysis.gate.close();
    const QString a = h.touch("a.mov");
    h.job->accept({a});
    h.job->accept({a});
    QTRY_COMPARE(h.engine->analyzeCalls().size(), size_t(1));

    // After "Change…" the same file again: the stopped analysis never shows as failed.
    std::vector<PreAnalysisState> seen;
    connect(h.job.get(), &JobModel::changed, this, [&] { seen.push_back(h.job->preAnalysisState()); });
    h.job->reset();
    h.job->accept({a});
    QTRY_COMPARE(h.engine->analyzeCalls().size(), size_t(2));
    h.engine->analysis.gate.open();
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QTest::qWait(50);
    QVERIFY(std::find(seen.begin(), seen.end(), PreAnalysisState::failed) == seen.end());

    // Other footage stops the first, whose result, arriving anyway, changes nothing.
    h.engine->analysis.gate.close();
    h.engine->analysis.heedsStop = false;
    h.engine->levels = levelsBetween(-60, -20);
    h.job->accept({h.touch("b.mov")});
    QTRY_COMPARE(h.engine->analyzeCalls().size(), size_t(3));
    h.engine->levels = levelsBetween(-50, -8);
    h.job->accept({h.touch("c.mov")});
    QCOMPARE(h.job->preAnalysisState(), PreAnalysisState::working);
    h.engine->analysis.gate.open();
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::ready);
    QTest::qWait(50);
    QCOMPARE(h.job->silenceThreshold(), -27.0);
  }

  void footageWithoutLevelsIsCutAtTheDefaultThreshold() {
    Harness h;
    h.engine->levels = levelsBetween(-60, -20);
    analyseOnce(h);
    QCOMPARE(h.job->silenceThreshold(), -38.0);
    h.engine->analysis.failure = "Can't read media";
    h.job->accept({h.touch("b.mov")});
    QTRY_COMPARE(h.job->preAnalysisState(), PreAnalysisState::failed);
    h.job->start();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->runCalls().back().first.settings.silenceThresholdDBFS, -40.0);
    QVERIFY(!h.job->draftBands());
  }

  void cutItBeforeTheLevelsMeasuresTheThresholdFromThem() {
    Harness h;
    h.engine->levels = levelsBetween(-60, -20);
    h.engine->analysis.gate.close();
    h.job->accept({h.touch("a.mov")});
    h.job->start();  // the pre-analysis is still running: the starting −40 is not the cut's
    h.engine->analysis.gate.open();
    QVERIFY(h.waitFor(Screen::done));
    QVERIFY(h.engine->runCalls().back().second);  // over the pre-analysis
    QCOMPARE(h.engine->runCalls().back().first.settings.silenceThresholdDBFS, -38.0);
    h.job->setSensitivity(SilenceSensitivity::muchMore);  // the same measure the screen shows
    QCOMPARE(h.job->silenceThreshold(), -32.0);
  }

  void theDraftAnswersWhyAndWhere() {
    Harness h;
    // Speech from 0.5 s to 1.5 s at −18 dBFS; a filler and a silence removed.
    h.engine->makeDraft = [](const Pipeline::Analysis&, const PipelineSettings&) {
      Pipeline::DraftCut draft;
      draft.decision.removals = {{{0.9, 1.0}, SegmentKind::filler}};
      draft.cutList.segments = {{{0, 0.5}, SegmentKind::silence},
                                {{0.5, 0.9}, SegmentKind::keep},
                                {{0.9, 1.0}, SegmentKind::filler},
                                {{1.0, 1.2}, SegmentKind::keep, std::string("kept")},
                                {{1.2, 1.3}, SegmentKind::flub, std::string("Stumbled start")},
                                {{1.3, 2.0}, SegmentKind::keep}};
      return draft;
    };
    h.engine->transcript.words = {{"one", {0.5, 0.7}}, {"um", {0.9, 1.0}}, {"two", {1.0, 1.2}}, {"three", {1.35, 1.5}}};
    QCOMPARE(h.job->subtitleExample(Length::medium), QStringLiteral("you're trying to build a professional website"));
    analyseOnce(h);
    QTRY_VERIFY(h.job->draftBands().has_value());
    QCOMPARE(h.job->draftRemovals(), (std::vector<TimeRange>{{0.9, 1.0}}));

    QCOMPARE(h.job->cutReason(0.95), std::optional(QStringLiteral("filler word")));
    QCOMPARE(h.job->cutReason(1.25), std::optional(QStringLiteral("Stumbled start")));
    QCOMPARE(h.job->cutReason(0.7), std::nullopt);  // kept
    QCOMPARE(h.job->cutReason(1.0), std::nullopt);  // a removal's end is not in it
    QCOMPARE(h.job->cutReason(0.5), std::nullopt);

    QCOMPARE(h.job->audibleOnset({0.2, 1.0}), std::optional(0.5));
    QCOMPARE(h.job->audibleOnset({0.0, 0.4}), std::nullopt);
    QCOMPARE(h.job->audibleOnset({1.8, 9.0}), std::nullopt);  // past the end: clamped

    // The sample skips the cut filler; short captions hold at most three words.
    QCOMPARE(h.job->subtitleExample(Length::sentence), QStringLiteral("one two three"));
    QCOMPARE(h.job->subtitleExample(Length::medium), QStringLiteral("one two three"));

    // A draft that keeps nothing has no caption to show.
    h.engine->makeDraft = [](const Pipeline::Analysis&, const PipelineSettings&) {
      Pipeline::DraftCut draft;
      draft.cutList.segments = {{{0, 2.0}, SegmentKind::silence}};
      return draft;
    };
    h.job->setRemoveFillers(false);
    QTRY_COMPARE(h.job->draftBands(), std::optional(std::vector<TimeRange>{{0, 2.0}}));
    QCOMPARE(h.job->subtitleExample(Length::medium), QString());
  }

  void aPastedScriptBecomesAFileInTheDataFolder() {
    Harness h;
    h.job->adoptPastedScript(QStringLiteral(" \n\t"));
    QVERIFY(h.job->scriptPath().isEmpty());
    h.job->setDropStoredScript(true);
    h.job->adoptPastedScript(QStringLiteral("\nHello there.\nSecond line.\n\n"));
    const QString path = h.job->scriptPath();
    QVERIFY(path.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                            "/Kestrane/Pasted Scripts/"));
    QVERIFY(path.endsWith("/Pasted script.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Hello there.\nSecond line."));
    QVERIFY(!h.job->dropStoredScript());
    h.job->adoptPastedScript(QStringLiteral("Again."));
    QVERIFY(h.job->scriptPath() != path);  // each paste gets a folder of its own
    QDir(QFileInfo(path).path()).removeRecursively();
    QDir(QFileInfo(h.job->scriptPath()).path()).removeRecursively();
  }
};

QTEST_MAIN(DraftTest)
#include "DraftTest.moc"
