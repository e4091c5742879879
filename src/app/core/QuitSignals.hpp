#pragma once
// SIGTERM, SIGHUP (a logout, a closed terminal) and SIGINT (Ctrl-C in the terminal) end the
// application as closing its window does: the running job is asked to stop and cleans up its
// scratch files and unfinished package on the way out, then the event loop ends. The handler only
// writes a byte to a pipe; the rest happens on the window's thread. A signal the program started
// with ignored (nohup) is left ignored.
#include <QObject>

#include <functional>
#include <vector>

class QSocketNotifier;

namespace kestrane::app {

class QuitSignals : public QObject {
 public:
  // `quit` runs on this object's thread once per signal that arrives.
  explicit QuitSignals(std::function<void()> quit, QObject* parent = nullptr);
  ~QuitSignals() override;

 private:
  std::function<void()> quit_;
  QSocketNotifier* notifier_ = nullptr;
  std::vector<int> handled_;  // the signals given our handler, which go back to their default action
};

}  // namespace kestrane::app
