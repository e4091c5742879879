// kestrane-engine: the command line's driver of the cut pipeline, started by kestrane (Launcher.cpp).
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
#include "StopSignals.hpp"
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

// Ctrl-C, SIGTERM and SIGHUP ask the running job to stop: the console says "Stopping…" at once,
// the job cleans up and the program exits with 130. A second signal ends the program at once,
// after removing the scratch files the job has not got to.
class InterruptWatcher {
 public:
  InterruptWatcher(const sigset_t& blocked, kestrane::cli::Console& console) : set_(blocked), console_(console) {
    // One sent as the program started is heard before the command begins.
    takeSent();
    thread_ = std::jthread([this](std::stop_token done) {
      while (!done.stop_requested()) {
        timespec wait{0, 200'000'000};
        if (sigtimedwait(&set_, nullptr, &wait) > 0) heard();
      }
    });
  }
  std::stop_token token() const { return source_.get_token(); }

  // Whether a stop was asked for at any time until now, one sent as the command ended included.
  bool stopAsked() {
    thread_ = {};
    takeSent();
    return source_.stop_requested();
  }

 private:
  void heard() {
    if (source_.stop_requested()) kestrane::platform::ScratchFiles::removeAllAndExit(kestrane::cli::kExitCancelled);
    console_.stopping();
    source_.request_stop();
  }
  // The signals already sent, without waiting for more.
  void takeSent() {
    timespec none{0, 0};
    while (sigtimedwait(&set_, nullptr, &none) > 0) heard();
  }

  sigset_t set_{};
  kestrane::cli::Console& console_;
  std::stop_source source_;
  std::jthread thread_;
};

int usageFailure(const std::string& message) {
  std::cerr << "kestrane: " << kestrane::cli::escaped(message) << '\n';
  return kestrane::cli::kExitUsage;
}

// Runs a command, its stop heard through `stop`, and turns what it throws into the exit status.
template <class Options>
int runWatched(const Options& options, int (*run)(const Options&, kestrane::cli::Console&, std::stop_token),
               kestrane::cli::Console& console, std::stop_token stop) {
  // What a command does before and around its job (reading a large session file) stops too.
  const kestrane::StopScope stopScope(stop);
  try {
    return run(options, console, stop);
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

// Parses one command's arguments, shows its help when asked, else runs it with Ctrl-C watched.
// The stage line redraws itself only when the output is a terminal.
template <class Options>
int runCommand(const sigset_t& heeded, const std::vector<std::string>& args,
               Options (*parse)(const std::vector<std::string>&), const char* usage,
               int (*run)(const Options&, kestrane::cli::Console&, std::stop_token)) {
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
  kestrane::cli::Console console(std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
  InterruptWatcher interrupts(heeded, console);
  const int status = runWatched(options, run, console, interrupts.token());
  // Whatever part of the work went on to its end, a run that was asked to stop never ends as if
  // nothing had been asked.
  if (interrupts.stopAsked() && status == kestrane::cli::kExitOK) {
    console.error("kestrane: The stop was heard only once the work was done.");
    return kestrane::cli::kExitCancelled;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Started through the launcher, they are blocked already, and one sent meanwhile is waiting.
  const sigset_t heeded = kestrane::cli::blockStopSignals();
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
  if (command == "cut") return runCommand(heeded, args, cli::parseCutOptions, cli::kCutUsage, cli::runCut);
  if (command == "recut") {
    return runCommand(heeded, args, cli::parseRecutOptions, cli::kRecutUsage, cli::runRecut);
  }
  if (command == "place") {
    return runCommand(heeded, args, cli::parsePlaceOptions, cli::kPlaceUsage, cli::runPlace);
  }
  if (command == "retry-ai") {
    return runCommand(heeded, args, cli::parseRetryOptions, cli::kRetryUsage, cli::runRetry);
  }
  return usageFailure("unknown command “" + std::string(command) + "” — run kestrane --help.");
}
