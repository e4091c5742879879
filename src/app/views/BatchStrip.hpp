#pragma once
// The strip at the top of the options screen while a batch is open: the arrows step from video
// to video, "Video 2 of 3" says where the editor is, and one dot per video shows which are
// analysed.
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace kestrane::app {

class JobModel;

class BatchStrip : public QWidget {
 public:
  explicit BatchStrip(JobModel& job, QWidget* parent = nullptr);
  void refresh();

 private:
  JobModel& job_;
  QPushButton* previous_;
  QPushButton* next_;
  QLabel* position_;
  QWidget* dots_;
};

}  // namespace kestrane::app
