#include "JobReport.hpp"

#include <chrono>

#include "RunSummary.hpp"
#include "TerminalText.hpp"

namespace kestrane::cli {

std::string printable(const std::string& text) {
  // Error texts may carry line breaks from lower layers; the command reports one line.
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return escaped(line);
}

namespace {

std::string renderLater(const std::filesystem::path& package) {
  return "Rough cut not rendered — run kestrane recut " + printable(shellQuoted(package.string())) + " --mp4";
}

// A package the job left complete though it did not finish: what the job had to say, what the
// package holds now, where it is and, when its movie was not made, how to make it later.
void printKeptPackage(const std::vector<std::string>& warnings, const std::vector<std::string>& notes,
                      const std::filesystem::path& package, bool roughCutLeft, Console& console) {
  for (const std::string& warning : warnings) console.line("Warning: " + printable(withCommands(warning)));
  for (const std::string& note : notes) console.line(printable(note));
  console.line("Package: " + printable(package.string()));
  if (roughCutLeft) console.error(renderLater(package));
}

// The figures first, then what deserves a listen and the warnings, and last, where they stay in
// view, the package and what to do with it.
void printClosingLines(const Pipeline::Output& output, double seconds, Console& console) {
  const KestraneSession& session = output.session;
  console.line("Done in " + Pipeline::elapsedString(seconds) + ".");
  console.line(figuresLine(session));
  if (auto notes = spokenNotesLine(session)) console.line(*notes);
  for (const std::string& line : worthAListen(session)) console.line(escaped(line));
  for (const std::string& warning : closingWarnings(output.warnings, session)) {
    console.line("Warning: " + printable(warning));
  }
  if (auto warning = keepsAlmostNothing(session)) console.line("Warning: " + *warning);
  if (output.mp4URL) console.line("Rough cut: " + printable(output.mp4URL->string()));
  console.line("Package: " + printable(output.packageDir.string()));
  console.line(printable(nextStep(output)));
}

}  // namespace

JobOutcome runReported(const Job& job, Console& console, std::stop_token stop) {
  const auto started = std::chrono::steady_clock::now();
  // The stage's label as it starts; the fractions within it move its line along.
  const Pipeline::ProgressCallback progress = [&console](const Pipeline::Stage& stage) {
    if (stage.fraction) {
      console.progress(*stage.fraction);
    } else {
      console.stage(escaped(stage.rawValue));
    }
  };
  JobOutcome outcome;
  try {
    const Pipeline::Output output = job(progress);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printClosingLines(output, seconds, console);
    // Some part of the job did not hear the stop: the package is whole, and the run still ends
    // as stopped.
    if (stop.stop_requested()) outcome = {kExitCancelled, "The stop was heard only once the cut was complete."};
  } catch (const Cancelled& e) {
    outcome = {kExitCancelled, e.what()};
    if (const auto& package = e.keptPackage()) {
      // A stop once the package was complete: it stays, and the movie can still be made.
      if (!e.roughCutLeft()) console.error("kestrane: " + outcome.failure);
      printKeptPackage(e.warnings(), e.notes(), *package, e.roughCutLeft(), console);
      return outcome;
    }
  } catch (const Pipeline::RoughCutFailed& e) {
    // The package was written before the movie failed: say where it is and how to try again.
    outcome = {kExitFailed, printable(e.what())};
    console.error("kestrane: " + outcome.failure);
    printKeptPackage(e.warnings(), e.notes(), e.package(), true, console);
    return outcome;
  } catch (const UserFacingError& e) {
    outcome = {kExitFailed, printable(e.what())};
  } catch (const std::exception& e) {
    // Not a message written for the user: a fault of the program, shown with its detail.
    outcome = {kExitFailed, "internal error: " + printable(e.what())};
  }
  if (outcome.status != kExitOK) console.error("kestrane: " + outcome.failure);
  return outcome;
}

}  // namespace kestrane::cli
