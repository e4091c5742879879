#pragma once
// The desktop around the window: opening files with their default application, showing them in
// the file manager, and the open dialogs. Behind interfaces so tests can stand in for them.
#include <QString>
#include <QStringList>

namespace kestrane::app {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Opens the file with the desktop's default handler; a failure shows nothing.
  virtual void open(const QString& path) = 0;
  // Shows the item selected in the file manager.
  virtual void reveal(const QString& path) = 0;
};

class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // Footage files chosen by the user, in the dialog's order; empty when cancelled.
  virtual QStringList chooseFootage() = 0;
  // A package's session file; empty when cancelled.
  virtual QString choosePreviousCut() = 0;
  // A script file (text, Markdown, Fountain, RTF or PDF); empty when cancelled.
  virtual QString chooseScript() = 0;
};

}  // namespace kestrane::app
