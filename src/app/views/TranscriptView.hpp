#pragma once
// The recognised words as flowing paragraphs, each struck through when the cut removes it.
// Click, Shift-click or drag selects words; the bar over the selection keeps or cuts them. Only
// the lines in view are painted.
#include <QAbstractScrollArea>

#include <functional>
#include <optional>
#include <vector>

#include "app/core/TranscriptCells.hpp"

class QLabel;
class QPushButton;
class QFrame;

namespace kestrane::app {

class TranscriptView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TranscriptView(QWidget* parent = nullptr);

  // New words: the layout is rebuilt and any selection is dropped, since its ids would name other
  // words.
  void setWords(std::vector<TranscriptWord> words);
  // The cut changed: which words are struck through and why. The layout stays.
  void setCut(std::vector<TimeRange> cutBands, TranscriptCells::Sources sources);

  // Keep (true) or Cut (false) of the selected words first…last (ids).
  std::function<void(int first, int last, bool keep)> onForce;

  const std::vector<Paragraph>& paragraphs() const { return paragraphs_; }
  std::optional<std::pair<int, int>> selection() const { return selection_; }
  // The word cell's rectangle in the content (scrolled) space.
  QRectF wordFrame(int id) const { return frames_.at(std::size_t(id)); }
  std::optional<int> wordAt(const QPointF& contentPoint) const;
  QFrame* actionBar() const { return bar_; }
  // Lays the words out at `width` (the viewport's width when laid out for real); the height.
  double layoutWords(double width);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  bool viewportEvent(QEvent*) override;

 private:
  struct Line {
    double top = 0;
    double bottom = 0;
    int first = 0;  // word ids first…last
    int last = 0;
    std::optional<int> paragraph;  // set on a paragraph's first line
  };

  void rebuildCells();
  QPointF toContent(const QPointF& viewportPoint) const;
  void clearSelection();
  void placeBar();
  void force(bool keep);

  std::vector<TranscriptWord> words_;
  std::vector<TimeRange> cutBands_;
  TranscriptCells::Sources sources_;
  std::vector<Paragraph> paragraphs_;
  std::vector<const WordCell*> cells_;  // by word id
  std::vector<double> textWidths_;      // measured once per set of words
  std::vector<QRectF> frames_;          // by word id
  std::vector<Line> lines_;
  double laidOutWidth_ = -1;
  double contentHeight_ = 0;

  std::optional<int> anchor_;
  std::optional<std::pair<int, int>> selection_;
  std::optional<QPointF> actionPoint_;
  QPointF pressAt_;
  bool pressed_ = false;

  QFrame* bar_ = nullptr;
  QLabel* count_ = nullptr;
  QPushButton* keep_ = nullptr;
  QPushButton* cut_ = nullptr;
};

}  // namespace kestrane::app
