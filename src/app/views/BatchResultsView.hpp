#pragma once
// The end of a batch: how many videos were cut, one row per video with its figures or why it
// failed, each cut's timeline and package, every finished cut imported at once, and Cut More
// Videos.
#include <QLabel>

#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class BatchResultsView : public ScreenView {
 public:
  explicit BatchResultsView(AppServices services, QWidget* parent = nullptr);
  void refresh() override;

 private:
  void importAll();

  QLabel* importError_;
};

}  // namespace kestrane::app
