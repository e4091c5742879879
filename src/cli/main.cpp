// kestrane: a thin command-line driver of the cut pipeline.
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

const char* kUsage =
    "Usage: kestrane <command> [options]\n"
    "\n"
    "Turns talking-head footage into an editor-ready rough cut.\n"
    "\n"
    "Options:\n"
    "  --help       show this help\n"
    "  --version    show the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string_view arg = argv[1];
  if (arg == "--help" || arg == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arg == "--version") {
    std::printf("kestrane %s\n", KESTRANE_VERSION);
    return 0;
  }
  std::fprintf(stderr, "kestrane: unknown command “%s” — run kestrane --help.\n", argv[1]);
  return 2;
}
