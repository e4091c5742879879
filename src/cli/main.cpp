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
#include "TerminalText.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace {

const char* kUsage =
    "Usage: kestrane <command> [options]\n"
    "\n"
    "Turns talking-head footage into an editor-ready rough cut.\n"
    "\n"
    "Commands:\n"
    "  cut FOOTAGE... [options]\n"
    "      Cut footage into a handoff package: timelines, transcript, captions, script\n"
    "      coverage and session file.\n"
    "      Options: --script FILE, --name NAME, --out DIR, --tightness PRESET,\n"
    "               --silences-only, --keep-fillers, --target EDITOR, --no-captions,\n"
    "               --subtitle-length LEN, --sensitivity LEVEL, --threshold DBFS, --mp4,\n"
    "               --ideas, --graphics-density D, --graphics-format F, --graphics-limit N,\n"
    "               --brand FILE, --ai, --thoroughness LEVEL, --notes TEXT, --graphics,\n"
    "               --no-graphics, --graphics-notes TEXT, --graphics-concurrency N\n"
    "\n"
    "  recut SESSION_OR_PACKAGE [options]\n"
    "      Cut a package again from its session file, without analysing the footage again;\n"
    "      only the settings named change.\n"
    "      Options: --name NAME, --drop-script, --tightness PRESET,\n"
    "               --silences-only | --full-cut, --keep-fillers | --remove-fillers,\n"
    "               --target EDITOR, --no-captions | --captions, --subtitle-length LEN,\n"
    "               --sensitivity LEVEL, --threshold DBFS, --mp4, --ideas,\n"
    "               --graphics-density D, --graphics-format F, --graphics-limit N, --brand FILE,\n"
    "               --ai, --thoroughness LEVEL, --notes TEXT, --graphics, --no-graphics,\n"
    "               --graphics-notes TEXT, --graphics-concurrency N\n"
    "\n"
    "  place SESSION_OR_PACKAGE\n"
    "      Place the motion graphics in a package on its FCPXML timeline again.\n"
    "\n"
    "  retry-ai SESSION_OR_PACKAGE [--mp4]\n"
    "      Cut a package again with the AI second opinion on.\n"
    "\n"
    "Run kestrane <command> --help for what each option does.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n";

// Ctrl-C, SIGTERM and SIGHUP (the terminal closed), blocked in every thread from here on so
// that only the watcher takes them. Threads started earlier would still let them end the program.
// One the program started with ignored (nohup, or SIGINT in a job a script put in the
// background) stays ignored: a blocked signal is queued even when ignored, so it is left out.
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

// Ctrl-C, SIGTERM and SIGHUP ask the running job to stop: the console says "Stopping…" at once,
// the job cleans up and the program exits with 130. A second signal ends the program at once,
// after removing the scratch files the job has not got to.
class InterruptWatcher {
 public:
  InterruptWatcher(const sigset_t& blocked, kestrane::cli::Console& console) : set_(blocked) {
    thread_ = std::jthread([this, &console](std::stop_token done) {
      bool asked = false;
      while (!done.stop_requested()) {
        timespec wait{0, 200'000'000};
        if (sigtimedwait(&set_, nullptr, &wait) <= 0) continue;
        if (asked) kestrane::platform::ScratchFiles::removeAllAndExit(kestrane::cli::kExitCancelled);
        asked = true;
        console.stopping();
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

int usageFailure(const std::string& message) {
  std::cerr << "kestrane: " << kestrane::cli::escaped(message) << '\n';
  return kestrane::cli::kExitUsage;
}

// Parses one command's arguments, shows its help when asked, else runs it with Ctrl-C watched.
// The stage line redraws itself only when the output is a terminal.
template <class Options>
int runCommand(const std::vector<std::string>& args, Options (*parse)(const std::vector<std::string>&),
               const char* usage, int (*run)(const Options&, kestrane::cli::Console&, std::stop_token)) {
  Options options;
  try {
    options = parse(args);
  } catch (const kestrane::cli::UsageError& e) {
    return usageFailure(e.what());
  }
  if (options.help) {
    std::fputs(usage, stdout);
    return kestrane::cli::kExitOK;
  }
  // Scratch files of earlier runs that ended without the chance to remove them.
  kestrane::platform::ScratchFiles::sweepOrphans();
  const sigset_t stopSignals = blockStopSignals();
  kestrane::cli::Console console(std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
  InterruptWatcher interrupts(stopSignals, console);
  // What a command does before and around its job (reading a large session file) stops too.
  const kestrane::StopScope stopScope(interrupts.token());
  try {
    return run(options, console, interrupts.token());
  } catch (const kestrane::cli::UsageError& e) {
    console.error("kestrane: " + kestrane::cli::escaped(e.what()));
    return kestrane::cli::kExitUsage;
  } catch (const kestrane::Cancelled& e) {
    // Heard before the job itself started (while a move a killed run left was being judged).
    console.error("kestrane: " + kestrane::cli::printable(e.what()));
    return kestrane::cli::kExitCancelled;
  } catch (const kestrane::UserFacingError& e) {
    // Found before the job itself started (another run holds the package it must open).
    console.error("kestrane: " + kestrane::cli::printable(e.what()));
    return kestrane::cli::kExitFailed;
  } catch (const std::exception& e) {
    console.error("kestrane: internal error: " + kestrane::cli::printable(e.what()));
    return kestrane::cli::kExitFailed;
  }
}

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
  namespace cli = kestrane::cli;
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "cut") return runCommand(args, cli::parseCutOptions, cli::kCutUsage, cli::runCut);
  if (command == "recut") {
    return runCommand(args, cli::parseRecutOptions, cli::kRecutUsage, cli::runRecut);
  }
  if (command == "place") {
    return runCommand(args, cli::parsePlaceOptions, cli::kPlaceUsage, cli::runPlace);
  }
  if (command == "retry-ai") {
    return runCommand(args, cli::parseRetryOptions, cli::kRetryUsage, cli::runRetry);
  }
  return usageFailure("unknown command “" + std::string(command) + "” — run kestrane --help.");
}
