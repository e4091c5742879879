#include "app/core/QuitSignals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>

namespace kestrane::app {

namespace {

int pipeEnds[2] = {-1, -1};

// A logout or a closed terminal, a request to end, and Ctrl-C in the terminal.
constexpr int quitSignals[] = {SIGTERM, SIGHUP, SIGINT};

extern "C" void onQuitSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> quit, QObject* parent) : QObject(parent), quit_(std::move(quit)) {
  if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    if (quit_) quit_();
  });
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : quitSignals) {
    // One the program started with ignored (nohup) stays ignored, as the user asked.
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    if (::sigaction(signal, &action, nullptr) == 0) handled_.push_back(signal);
  }
}

QuitSignals::~QuitSignals() {
  // From here on the signals end the program as they would have without us.
  for (int signal : handled_) ::signal(signal, SIG_DFL);
}

}  // namespace kestrane::app
