#include "app/views/RootView.hpp"

#include "app/views/BatchResultsView.hpp"
#include "app/views/DropZoneView.hpp"
#include "app/views/FailureView.hpp"
#include "app/views/OptionsView.hpp"
#include "app/views/ResultsView.hpp"
#include "app/views/RunningView.hpp"

namespace kestrane::app {

RootView::RootView(AppServices services, QWidget* parent) : QWidget(parent), services_(services) {
  setMinimumSize(560, 480);
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  connect(services_.job, &JobModel::stateChanged, this, &RootView::showState);
  connect(services_.job, &JobModel::changed, this, [this] {
    if (screen_) screen_->refresh();
  });
  showState();
}

ScreenView* RootView::makeScreen(const JobState& state) {
  switch (state.screen) {
    case Screen::idle: return new DropZoneView(services_, this);
    case Screen::configuring: return new OptionsView(services_, this);
    case Screen::running: return new RunningView(services_, this);
    case Screen::done:
      if (services_.job->batchFinished()) return new BatchResultsView(services_, this);
      return new ResultsView(services_, state.output, this);
    case Screen::failed: return new FailureView(services_, this);
  }
  return nullptr;
}

void RootView::showState() {
  const JobState& state = services_.job->state();
  // A new stage only moves the checklist on; any other change shows its screen afresh.
  if (screen_ && state.screen == Screen::running && shown_ == Screen::running) {
    screen_->refresh();
    return;
  }
  ScreenView* next = makeScreen(state);
  if (screen_) {
    layout_->removeWidget(screen_);
    screen_->deleteLater();
    screen_->hide();
  }
  screen_ = next;
  shown_ = state.screen;
  layout_->addWidget(screen_);
  screen_->show();
  screen_->setFocus();
}

}  // namespace kestrane::app
