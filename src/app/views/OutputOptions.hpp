#pragma once
// "What you get": the editor the package targets, subtitles and their length with a sample from
// the user's own words, and the rough-cut MP4.
#include <QLabel>
#include <QWidget>

#include "app/core/JobModel.hpp"
#include "app/views/FormControls.hpp"

namespace kestrane::app {

class OutputOptions : public QWidget {
 public:
  explicit OutputOptions(JobModel& job, QWidget* parent = nullptr);
  void refresh();

 private:
  JobModel& job_;
  Segmented* target_;
  QLabel* targetText_;
  Switch* captions_;
  QWidget* subtitleGroup_;
  Segmented* length_;
  QLabel* lengthHint_;
  QWidget* sampleRow_;
  QLabel* sample_;
  QLabel* sampleNote_;
  Switch* mp4_;
};

}  // namespace kestrane::app
