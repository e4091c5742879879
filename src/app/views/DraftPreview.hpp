#pragma once
// The picture of the cut before it is made: a placeholder until the footage's levels exist, then
// one violet bar per column over the levels with the stretches the cut removes shaded. It only
// shows; playing and editing the cut are the cut preview's own.
#include <QLabel>
#include <QWidget>

#include <vector>

#include "kestrane/model/TimeRange.hpp"

namespace kestrane::app {

class LevelStrip : public QWidget {
 public:
  explicit LevelStrip(QWidget* parent = nullptr);
  // `bands` in seconds of the levels' own timeline (hop × count).
  void setDraft(const std::vector<float>& levels, double hopDuration, std::vector<TimeRange> bands);
  QSize sizeHint() const override { return {480, 116}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void rebuildColumns();

  const std::vector<float>* levels_ = nullptr;
  const float* levelData_ = nullptr;
  std::size_t levelCount_ = 0;
  double hopDuration_ = 0.01;
  std::vector<TimeRange> bands_;
  std::vector<float> columns_;  // the loudest level under each pixel column
};

class DraftPreview : public QWidget {
 public:
  explicit DraftPreview(QWidget* parent = nullptr);
  void setDraft(const std::vector<float>& levels, double hopDuration, std::vector<TimeRange> bands);

 private:
  QLabel* placeholder_;
  LevelStrip* strip_;
};

}  // namespace kestrane::app
