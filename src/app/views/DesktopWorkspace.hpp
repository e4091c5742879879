#pragma once
// The real desktop: default applications, the file manager and Qt's own open dialogs (drawn in
// the window's dark theme).
#include <QWidget>

#include "app/core/Workspace.hpp"

namespace kestrane::app {

class DesktopWorkspace final : public Workspace {
 public:
  void open(const QString& path) override;
  // Asks the file manager over D-Bus to select the item; opens its parent folder when no file
  // manager answers.
  void reveal(const QString& path) override;
};

class QtFileDialogs final : public FileDialogs {
 public:
  explicit QtFileDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  QStringList chooseFootage() override;
  QString choosePreviousCut() override;
  QString chooseScript() override;

 private:
  QWidget* parent_;
};

}  // namespace kestrane::app
