#pragma once
// Blocking work on threads of its own, with results handed back to the window's thread.
#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

namespace kestrane::app {

// Each piece of work gets a thread and a stop token. The destructor asks every unfinished one to
// stop and waits for it, so no work outlives its owner.
class Background {
 public:
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background();

  std::stop_source start(std::function<void(std::stop_token)> work);

 private:
  struct Entry {
    std::shared_ptr<std::atomic<bool>> finished;
    std::jthread thread;
  };
  std::vector<Entry> entries_;
};

// Runs `call` on `context`'s thread through its event queue; dropped if `context` is gone by
// then. Calls posted from one thread run in the order they were posted.
template <class F>
void postTo(QObject* context, F&& call) {
  QMetaObject::invokeMethod(context, std::forward<F>(call), Qt::QueuedConnection);
}

}  // namespace kestrane::app
