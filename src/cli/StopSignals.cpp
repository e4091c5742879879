#include "StopSignals.hpp"

#include <pthread.h>

#include <initializer_list>

namespace kestrane::cli {

sigset_t blockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&set, signal);
  }
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

}  // namespace kestrane::cli
