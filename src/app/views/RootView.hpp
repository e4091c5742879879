#pragma once
// The window's content: exactly one screen for the job model's state.
#include <QVBoxLayout>

#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class RootView : public QWidget {
 public:
  explicit RootView(AppServices services, QWidget* parent = nullptr);
  ScreenView* screen() const { return screen_; }

 private:
  // The one place that says which screen shows which state.
  ScreenView* makeScreen(const JobState& state);
  void showState();

  AppServices services_;
  QVBoxLayout* layout_;
  ScreenView* screen_ = nullptr;
  Screen shown_ = Screen::idle;
};

}  // namespace kestrane::app
