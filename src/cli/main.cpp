// kestrane: a thin command-line driver of the cut pipeline.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CutCommand.hpp"
#include "CutOptions.hpp"
#include "RecutCommand.hpp"

namespace {

const char* kUsage =
    "Usage: kestrane <command> [options]\n"
    "\n"
    "Turns talking-head footage into an editor-ready rough cut.\n"
    "\n"
    "Commands:\n"
    "  cut FOOTAGE... [--script FILE] [--name NAME] [--out DIR]\n"
    "               cut footage into a handoff package (kestrane cut --help for options)\n"
    "  recut SESSION_OR_PACKAGE [options]\n"
    "               cut a package again from its session, without new analysis\n"
    "  retry-ai SESSION_OR_PACKAGE [--mp4]\n"
    "               cut a package again with the AI second opinion on\n"
    "\n"
    "Options:\n"
    "  --help       show this help\n"
    "  --version    show the version\n";

// Ctrl-C and SIGTERM ask the running job to stop; it then cleans up and the program exits
// with 130. A second signal ends the program at once.
class InterruptWatcher {
 public:
  InterruptWatcher() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    thread_ = std::jthread([this](std::stop_token done) {
      bool asked = false;
      while (!done.stop_requested()) {
        timespec wait{0, 200'000'000};
        if (sigtimedwait(&set_, nullptr, &wait) <= 0) continue;
        if (asked) _exit(kestrane::cli::kExitCancelled);
        asked = true;
        source_.request_stop();
      }
    });
  }
  std::stop_token token() const { return source_.get_token(); }

 private:
  sigset_t set_{};
  std::stop_source source_;
  std::jthread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kestrane::cli::kExitUsage;
  }
  std::string_view command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("kestrane %s\n", KESTRANE_VERSION);
    return 0;
  }
  if (command == "cut") {
    kestrane::cli::CutOptions options;
    try {
      options = kestrane::cli::parseCutOptions(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const kestrane::cli::UsageError& e) {
      std::cerr << "kestrane: " << e.what() << '\n';
      return kestrane::cli::kExitUsage;
    }
    if (options.help) {
      std::fputs(kestrane::cli::kCutUsage, stdout);
      return 0;
    }
    InterruptWatcher interrupts;
    return kestrane::cli::runCut(options, std::cout, std::cerr, interrupts.token());
  }
  if (command == "recut" || command == "retry-ai") {
    const std::vector<std::string> args(argv + 2, argv + argc);
    const bool recut = command == "recut";
    kestrane::cli::RecutOptions recutOptions;
    kestrane::cli::RetryOptions retryOptions;
    try {
      if (recut) recutOptions = kestrane::cli::parseRecutOptions(args);
      else retryOptions = kestrane::cli::parseRetryOptions(args);
    } catch (const kestrane::cli::UsageError& e) {
      std::cerr << "kestrane: " << e.what() << '\n';
      return kestrane::cli::kExitUsage;
    }
    if (recut ? recutOptions.help : retryOptions.help) {
      std::fputs(recut ? kestrane::cli::kRecutUsage : kestrane::cli::kRetryUsage, stdout);
      return 0;
    }
    InterruptWatcher interrupts;
    return recut ? kestrane::cli::runRecut(recutOptions, std::cout, std::cerr, interrupts.token())
                 : kestrane::cli::runRetry(retryOptions, std::cout, std::cerr, interrupts.token());
  }
  std::fprintf(stderr, "kestrane: unknown command “%s” — run kestrane --help.\n", argv[1]);
  return kestrane::cli::kExitUsage;
}
