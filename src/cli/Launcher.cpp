// kestrane: blocks the stop signals, then starts the command-line engine that lies beside it.
// The engine loads some hundred and sixty libraries, which takes tens of milliseconds before any
// of its code runs; a stop sent then would end it by the signal's default action, with nothing
// said. Started from here, it finds such a stop waiting for it, and heeds it as any other.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "ExitStatus.hpp"
#include "StopSignals.hpp"

namespace {

void blockStopSignalsFirst(int, char**, char**) { kestrane::cli::blockStopSignals(); }

// The loader runs the program's own pre-initialisers before any library's start-up code.
[[gnu::used, gnu::section(".preinit_array")]] void (*blockFromTheStart)(int, char**, char**) = blockStopSignalsFirst;

// The engine's path: beside this program's own file, wherever it was started from (where that
// can't be known, the engine is looked for as this program was, on the PATH).
std::string enginePath() {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "kestrane-engine";
  std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + "kestrane-engine";
}

}  // namespace

int main(int, char** argv) {
  const std::string engine = enginePath();
  ::execvp(engine.c_str(), argv);
  std::fprintf(stderr, "kestrane: can't start %s — %s\n", engine.c_str(), std::strerror(errno));
  return kestrane::cli::kExitFailed;
}
