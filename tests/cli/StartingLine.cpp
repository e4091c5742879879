// Loaded into the program ahead of its own libraries (LD_PRELOAD): says "starting" on the
// program's output as the loader starts the libraries, before the program's own code runs, so
// that a test held at that line acts on the program while it is still starting up.
#include <unistd.h>

[[gnu::constructor]] static void sayStarting() {
  static const char line[] = "starting\n";
  [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line, sizeof line - 1);
}
