#pragma once
// While a cut runs: a spinner, an optional header and the checklist of the stages it can reach.
#include <QLabel>
#include <QVBoxLayout>

#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class RunningView : public ScreenView {
 public:
  explicit RunningView(AppServices services, QWidget* parent = nullptr);
  void refresh() override;

 private:
  QLabel* header_;
  QWidget* checklist_ = nullptr;
  QVBoxLayout* column_;
};

}  // namespace kestrane::app
