#pragma once
// Between dropping footage and cutting it: which footage, how far its analysis is, and Cut It.
// The option sections are laid into `form_`.
#include <QLabel>
#include <QVBoxLayout>

#include "app/views/ScreenView.hpp"

namespace kestrane::app {

class OptionsView : public ScreenView {
 public:
  explicit OptionsView(AppServices services, QWidget* parent = nullptr);
  void refresh() override;

 private:
  QLabel* fileName_;
  QLabel* statusIcon_;
  QLabel* status_;
  QVBoxLayout* form_;
};

}  // namespace kestrane::app
