// Hand edits over the automatic cut: the effective bands, the normal form, word snapping, edge
// drags and the undo steps they leave.
#include <QTest>
#include <QUndoStack>

#include "AppTestSupport.hpp"
#include "app/core/HandEdits.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;
namespace H = HandEdits;

namespace {

using Ranges = std::vector<TimeRange>;

bool near(const Ranges& got, const Ranges& want) {
  if (got.size() != want.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (std::abs(got[i].start - want[i].start) > 1e-9 || std::abs(got[i].end - want[i].end) > 1e-9) return false;
  }
  return true;
}

EditGround groundOf(Ranges automatic, double length = 20) { return {H::automaticBands(automatic), length, {}, {}}; }

}  // namespace

class HandEditsTest : public QObject {
  Q_OBJECT

 private slots:
  void keepsCutOutOfBandsAndRemovalsMerge() {
    const Ranges band{{2, 3}};
    // A keep overlapping 4 ms leaves the band whole; one ending 4 ms short takes all of it.
    QVERIFY(near(H::effectiveCutBands(band, {{{1, 2.004}}, {}}), band));
    QVERIFY(H::effectiveCutBands(band, {{{1.5, 2.996}}, {}}).empty());
    // Glue: 0.1 s apart is one band, 0.13 s apart two; a removal 0.1 s from a band joins it.
    QCOMPARE(H::automaticBands(Ranges{{1, 2}, {2.1, 3}}).size(), 1u);
    QCOMPARE(H::automaticBands(Ranges{{1, 2}, {2.13, 3}}).size(), 2u);
    QVERIFY(near(H::effectiveCutBands(band, {{}, {{3.1, 4}}}), Ranges{{2, 4}}));
    // A word said between them keeps them apart, as the cut keeps the word.
    const std::vector<TranscriptWord> between{{"a", {3.02, 3.08}}};
    QCOMPARE(H::automaticBands(Ranges{{2, 3}, {3.1, 4}}, between).size(), 2u);
    QVERIFY(near(H::effectiveCutBands(band, {{}, {{3.1, 4}}}, between), Ranges{{2, 3}, {3.1, 4}}));
    QVERIFY(near(H::withStretch(band, {}, {3.1, 4}, false, between).removals, Ranges{{3.1, 4}}));
  }

  void normalFormSplitsKeepsAndKeepTakesBackHandCuts() {
    const Ranges automatic{{2, 4}};
    ManualEdits edits = H::withStretch(automatic, {}, {2, 4}, true);
    QVERIFY(near(edits.keeps, Ranges{{2, 4}}));
    edits = H::withStretch(automatic, edits, {2.5, 3}, false);
    QVERIFY(near(edits.keeps, Ranges{{2, 2.5}, {3, 4}}));
    QVERIFY(edits.removals.empty());
    QVERIFY(near(H::effectiveCutBands(automatic, edits), Ranges{{2.5, 3}}));
    // Overrides of 30 ms or less vanish.
    QVERIFY(H::withStretch(automatic, {}, {6, 6.025}, false).empty());
    // A keep over a stretch shaded only by a hand cut brings it back.
    edits = H::withStretch(automatic, {}, {6, 8}, false);
    edits = H::withStretch(automatic, edits, {6.5, 7}, true);
    QVERIFY(near(edits.removals, Ranges{{6, 6.5}, {7, 8}}));
    QVERIFY(edits.keeps.empty());
  }

  void snappingTakesWordsWholeOrLeavesThem() {
    const std::vector<TranscriptWord> words{{"one", {1, 2}}, {"two", {3, 4}}};
    EditGround ground = groundOf({}, 10);
    QCOMPARE(H::snapToWords(ground, {1.5, 2.5}, false), (TimeRange{1.5, 2.5}));  // no words
    ground.words = words;
    // A cut covering 60 % of "one" takes it whole (its start less 20 ms); 40 % leaves it whole.
    QVERIFY(std::abs(H::snapToWords(ground, {1.4, 2.5}, false).start - 0.98) < 1e-9);
    QVERIFY(std::abs(H::snapToWords(ground, {1.6, 2.5}, false).start - 2.12) < 1e-9);
    // The audible start, not the word's start, is what the fraction is taken of.
    ground.audibleOnset = [](const TimeRange& r) { return std::optional<double>(r.start + 0.5); };
    QVERIFY(std::abs(H::snapToWords(ground, {1.6, 2.5}, false).start - 1.48) < 1e-9);
    // A keep takes every touched word whole, with lead-in, never before 0.
    ground.audibleOnset = {};
    const std::vector<TranscriptWord> twoWords{{"hi", {0.02, 0.5}}, {"there", {3, 4}}};
    ground.words = twoWords;  // the ground only views the words
    const TimeRange kept = H::snapToWords(ground, {0.3, 3.2}, true);
    QCOMPARE(kept.start, 0.0);
    QVERIFY(std::abs(kept.end - 4.12) < 1e-9);
  }

  void forcedWordsStayClearOfTheWordsAround() {
    // Touching words, as recognisers give them: the third's onset comes late, the fourth is very
    // short, the last runs past the time line.
    const std::vector<TranscriptWord> words{{"one", {0.01, 0.5}},  {"two", {0.5, 1.0}},   {"three", {1.0, 1.6}},
                                            {"four", {1.6, 1.63}}, {"five", {1.63, 2.2}}, {"six", {3, 10.2}}};
    EditGround ground = groundOf({}, 10);
    ground.words = words;
    ground.audibleOnset = [](const TimeRange& r) { return std::optional(r.start == 1.0 ? 1.35 : r.start); };
    const auto is = [&](std::size_t first, std::size_t last, bool keep, TimeRange want) {
      const TimeRange got = H::forcedWordRange(ground, first, last, keep);
      return std::abs(got.start - want.start) < 1e-9 && std::abs(got.end - want.end) < 1e-9;
    };
    QVERIFY(is(0, 0, false, {0, 0.5}));     // from 0, up to the next word
    QVERIFY(is(2, 2, false, {1.02, 1.6}));  // from the word's start, 20 ms clear of the one before
    QVERIFY(is(3, 3, false, {1.6, 1.63}));  // its least length reaches into no neighbour
    QVERIFY(is(1, 2, true, {0.5, 1.6}));    // Keep takes the words whole
    QVERIFY(is(5, 5, false, {2.95, 10}));   // clamped to the time line
    ground.words = std::span(words).subspan(5);
    ground.levelLength = 2;  // past the end: nothing
    QVERIFY(H::withForcedWords(ground, {}, 0, 0, false).empty());
  }

  void edgeDragsClampAndPickTheNearestEdge() {
    const EditGround ground = groundOf({{2, 3}, {3.3, 4}});
    QCOMPARE(H::segmentSpan(3.1, ground.automatic, 20), (TimeRange{3, 3.3}));
    QCOMPARE(H::segmentSpan(10, ground.automatic, 20), (TimeRange{4, 20}));
    // The gap under the pointer must be three tolerances long; the nearest edge is held.
    QVERIFY(!EdgeDrag::begin(ground, {}, 3.15, 0.15));
    auto drag = EdgeDrag::begin(groundOf({{2, 3}, {5, 6}}), {}, 3.1, 0.2);
    QVERIFY(drag && drag->band() == (TimeRange{2, 3}) && !drag->isStart());
    QVERIFY(!EdgeDrag::begin(groundOf({{2, 2.09}}), {}, 1.98, 0.05));  // band too short
    // A start edge dragged past the end stops 50 ms short; an end edge before 0 at start + 50 ms.
    drag = EdgeDrag::begin(ground, {}, 2, 0.1);
    ManualEdits edits;
    drag->update(edits, 9, 20);
    QVERIFY(near(edits.keeps, Ranges{{2, 2.95}}));
    drag->update(edits, 2.005, 20);  // back within the dead zone: nothing
    QVERIFY(edits.empty());
    drag = EdgeDrag::begin(ground, {}, 2.95, 0.1);
    drag->update(edits, -1, 20);
    QVERIFY(near(edits.keeps, Ranges{{2.05, 3}}));
    // An undo mid-drag replaced the lists: the next move does not erase someone else's range.
    edits = {{{7, 8}}, {}};
    drag->update(edits, 2.5, 20);
    QVERIFY(near(edits.keeps, Ranges{{7, 8}, {2.5, 3}}));
  }

  void undoStepsAlternateAndEmptyChangesRecordNothing() {
    Harness h;
    JobModel& job = *h.job;
    QUndoStack undo;
    job.clearManualEdits(&undo);
    QCOMPARE(undo.count(), 0);
    const ManualEdits before = job.manualEdits();
    job.setManualEdits({{}, {{1, 2}}});
    job.recordEdit(&undo, before);
    job.recordEdit(&undo, job.manualEdits());  // unchanged: no step
    job.clearManualEdits(&undo);
    QCOMPARE(undo.count(), 2);
    QCOMPARE(undo.undoText(), QStringLiteral("Cut Edit"));
    undo.undo();
    QCOMPARE(job.manualRemovals().size(), 1u);
    QCOMPARE(undo.redoText(), QStringLiteral("Cut Edit"));
    undo.redo();
    QVERIFY(!job.hasManualEdits());
  }
};

QTEST_MAIN(HandEditsTest)
#include "HandEditsTest.moc"
