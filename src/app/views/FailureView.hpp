#pragma once
// When a cut failed: what went wrong, and the way back to the options.
#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class FailureView : public ScreenView {
 public:
  explicit FailureView(AppServices services, QWidget* parent = nullptr);
};

}  // namespace kestrane::app
