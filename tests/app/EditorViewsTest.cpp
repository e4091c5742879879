// The waveform and transcript editors under the offscreen platform: gestures and what they
// report, the hover button's place, the paint order, paragraphs and the selection bar.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "app/views/Brand.hpp"
#include "app/views/TranscriptView.hpp"
#include "app/views/WaveformView.hpp"

using namespace kestrane;
using namespace kestrane::app;
namespace TC = TranscriptCells;

namespace {

// Ten seconds over 1,000 pixels: 100 pixels a second.
void setUp(WaveformView& view) {
  view.resize(1000, 116);
  view.setLevels(std::vector<float>(1000, -20.0f), 0.01);
  view.setCutBands({{2, 3}, {6, 6.2}});
  view.show();
}

void drag(QWidget* w, int from, int to, Qt::KeyboardModifiers mods = {}) {
  QTest::mousePress(w, Qt::LeftButton, mods, QPoint(from, 60));
  QTest::mouseMove(w, QPoint(to, 60));
  QTest::mouseRelease(w, Qt::LeftButton, mods, QPoint(to, 60));
}

}  // namespace

class EditorViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void waveformGesturesReportTheirTimes() {
    WaveformView view;
    setUp(view);
    std::vector<double> scrubs;
    std::vector<std::pair<TimeRange, bool>> edits;
    view.onScrub = [&](double t) { scrubs.push_back(t); };
    view.onRangeEdit = [&](TimeRange r, bool keep) { edits.emplace_back(r, keep); };
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(450, 60));
    QCOMPARE(scrubs, std::vector<double>{4.5});  // a plain click scrubs once

    view.setMode(WaveformView::Mode::edit);
    drag(&view, 100, 103);  // under 4 points of travel: nothing
    drag(&view, 250, 290);  // from shaded audio: a keep
    drag(&view, 500, 400);  // from kept audio: a cut, either direction
    QCOMPARE(edits.size(), 2u);
    QCOMPARE(edits[0].first, (TimeRange{2.5, 2.9}));
    QVERIFY(edits[0].second);
    QCOMPARE(edits[1].first, (TimeRange{4, 5}));
    QVERIFY(!edits[1].second);

    // Near an edge the cursor offers a resize and a granted drag moves the edge.
    std::vector<double> moved;
    bool ended = false;
    view.onEdgeDragBegin = [](double t, double tol) { return std::abs(t - 2) <= tol; };
    view.onEdgeDragChanged = [&](double t) { moved.push_back(t); };
    view.onEdgeDragEnded = [&] { ended = true; };
    QTest::mouseMove(&view, QPoint(205, 60));
    QCOMPARE(view.cursor().shape(), Qt::SizeHorCursor);
    drag(&view, 205, 230);
    QVERIFY(ended);
    QCOMPARE(moved.back(), 2.3);
    QCOMPARE(edits.size(), 2u);
  }

  void hoverButtonSitsByTheRuleAndActs() {
    WaveformView view;
    setUp(view);
    view.setMode(WaveformView::Mode::edit);
    std::optional<std::pair<TimeRange, bool>> action;
    view.onSegmentAction = [&](TimeRange r, bool keep) { action = {r, keep}; };
    QTest::mouseMove(&view, QPoint(450, 60));
    QTest::mouseMove(&view, QPoint(520, 60));  // same stretch: the button stays where it entered
    QCOMPARE(view.hoverButtonRect()->center(), QPointF(450, 16));
    QTest::mouseMove(&view, QPoint(150, 60));  // the stretch 0…2 s, entered 15 points from its end
    QTest::mouseMove(&view, QPoint(195, 60));
    QTest::mouseMove(&view, QPoint(310, 60));  // 3…6 s, entered 10 points in: held 15 inside
    QCOMPARE(view.hoverButtonRect()->center().x(), 315.0);
    QTest::mouseMove(&view, QPoint(610, 60));  // a band 20 points wide: its middle
    QCOMPARE(view.hoverButtonRect()->center().x(), 610.0);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(610, 16));
    QVERIFY(action && action->first == (TimeRange{6, 6.2}) && action->second);  // shaded: offered back
    QVERIFY(!view.hoverButtonRect());
  }

  void bandsAreShadedAndThePlayheadIsDrawnLast() {
    WaveformView view;
    setUp(view);
    const QImage plain = view.grab().toImage();
    const QColor band = plain.pixelColor(250, 5);
    const QColor clear = plain.pixelColor(150, 5);
    QVERIFY(band != clear);
    QVERIFY(band.red() > band.blue());  // the orange wash
    view.setPlayhead(2.505);            // inside the band, over the bars
    const QColor head = view.grab().toImage().pixelColor(250, 58);
    QVERIFY(head.red() > 240 && head.green() > 240 && head.blue() > 240);
  }

  void paragraphsCutWordsAndTimestamps() {
    const std::vector<TranscriptWord> words{{"a", {0, 0.5}}, {"b", {1.7, 2.0}}, {"c", {3.21, 3.5}}};
    const std::vector<TimeRange> endsAtAnchor{{1, 1.85}};
    auto ps = TC::paragraphs(words, endsAtAnchor, {});
    QCOMPARE(ps.size(), 2u);  // 1.2 s apart stays together, 1.21 s splits
    QCOMPARE(ps[0].words.size(), 2u);
    QCOMPARE(ps[1].start, 3.21);
    QVERIFY(!ps[0].words[1].cut);  // the anchor on a band's end is kept
    TC::Sources sources{[](double) { return std::optional<QString>(QStringLiteral("a pause")); }};
    const std::vector<TimeRange> startsAtAnchor{{1.85, 2}};
    ps = TC::paragraphs(words, startsAtAnchor, sources);
    QVERIFY(ps[0].words[1].cut);
    QCOMPARE(*ps[0].words[1].reason, QStringLiteral("a pause"));
    QCOMPARE(TC::timestamp(0), QStringLiteral("0:00"));
    QCOMPARE(TC::timestamp(59.9), QStringLiteral("0:59"));
    QCOMPARE(TC::timestamp(3725), QStringLiteral("62:05"));
  }

  void transcriptSelectionAndItsBar() {
    TranscriptView view;
    view.resize(600, 240);
    view.setWords({{"one", {0, 0.4}}, {"two", {0.5, 0.9}}, {"three", {1.0, 1.4}}});
    view.setCut({{0.4, 0.8}}, {});  // "two" is cut
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    std::optional<std::tuple<int, int, bool>> forced;
    view.onForce = [&](int first, int last, bool keep) { forced = {first, last, keep}; };
    QWidget* port = view.viewport();
    const auto centre = [&](int id) { return view.wordFrame(id).center().toPoint(); };
    auto* count = view.actionBar()->findChild<QLabel*>();
    const auto buttons = view.actionBar()->findChildren<QPushButton*>();
    QTest::mouseClick(port, Qt::LeftButton, {}, centre(0));
    QCOMPARE(view.selection(), (std::pair{0, 0}));
    QCOMPARE(count->text(), QStringLiteral("1 word"));
    QVERIFY(!buttons[0]->isVisible() && buttons[1]->isVisible());  // only kept words: only Cut
    QTest::mouseClick(port, Qt::LeftButton, Qt::ShiftModifier, centre(1));
    QCOMPARE(count->text(), QStringLiteral("2 words"));
    QVERIFY(buttons[0]->isVisible() && buttons[1]->isVisible());
    // Keep and Cut are small controls: lower than the screens' regular buttons.
    const std::unique_ptr<QPushButton> regular(Brand::button(QStringLiteral("Cut"), Brand::ButtonLook::bordered));
    for (QPushButton* b : buttons) QVERIFY(b->sizeHint().height() < regular->sizeHint().height());
    // Within 3 points of a word's frame still picks it; far below every line picks nothing.
    QCOMPARE(view.wordAt(view.wordFrame(2).topRight() + QPointF(2, 0)), std::optional<int>(2));
    QVERIFY(!view.wordAt(QPointF(300, 200)));
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    QVERIFY(forced == std::tuple(0, 1, false));
    QVERIFY(!view.selection() && !view.actionBar()->isVisible());
    // New words drop a selection that would name other words.
    drag(port, centre(0).x(), centre(2).x());
    QCOMPARE(view.selection(), (std::pair{0, 2}));
    view.setWords({{"new", {0, 1}}});
    QVERIFY(!view.selection() && !view.actionBar()->isVisible());
  }
};

QTEST_MAIN(EditorViewsTest)
#include "EditorViewsTest.moc"
