#include "RecutCommand.hpp"

#include "kestrane/ai/ModelClient.hpp"
#include "RunSummary.hpp"
#include "TerminalText.hpp"
#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/PackageRefusals.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::cli {

namespace {

// A path that names no session is a mistake on the command line (exit 2), not a failed job.
std::filesystem::path namedSessionFile(const std::filesystem::path& sessionOrPackage, Console& console) {
  std::vector<std::string> warnings;
  try {
    std::filesystem::path found = Pipeline::sessionFileFor(sessionOrPackage, warnings);
    for (const std::string& warning : warnings) console.line("Warning: " + printable(warning));
    return found;
  } catch (const Pipeline::PackageBusy&) {
    throw;  // finishing a move a killed run left needs the package, and another run has it
  } catch (const Pipeline::PackageUnlockable&) {
    throw;
  } catch (const Pipeline::PackageMayBeMixed&) {
    throw;  // a record a killed run left, set aside or finished as far as it could be
  } catch (const Pipeline::PipelineError& e) {
    std::string message = e.what();
    for (const std::string& warning : warnings) message += " " + warning;
    throw UsageError(message);
  }
}

// A re-cut that failed left the package as it was: one marked as maybe holding parts of two
// cuts is said to be so still, unless the failure said so already.
int saidStillMixed(const JobOutcome& outcome, const std::filesystem::path& sessionFile, Console& console) {
  if (outcome.status != kExitFailed) return outcome.status;
  const auto mixed = Pipeline::mixedPackageNote(std::filesystem::absolute(sessionFile).parent_path());
  if (mixed && outcome.failure.find(printable(*mixed)) == std::string::npos) {
    console.error("kestrane: " + printable(*mixed));
  }
  return outcome.status;
}

}  // namespace

int runRecut(const RecutOptions& options, Console& console, std::stop_token stop) {
  Pipeline::RecutRequest request;
  request.sessionURL = namedSessionFile(options.sessionOrPackage, console);
  request.renderMP4 = options.mp4;
  request.projectName = options.projectName;
  request.dropScript = options.dropScript;
  request.useClaude = options.graphics.ideas;
  request.brandSpec = options.graphics.brand;
  if (options.graphics.graphics || options.graphics.noGraphics) request.createMotionGraphics = true;
  request.renderGraphics = !options.graphics.noGraphics;
  request.graphicsNotes = options.graphics.notes;
  request.services.aiBackend = [] { return ModelClient::detectBackend(); };
  request.projectNotes = options.notes;
  // Only the settings named change, over the session as the re-cut finds it once it holds the
  // package.
  request.settingsOver = [&options](const KestraneSession& stored) {
    PipelineSettings settings = Pipeline::recutSettings(options.choices, stored);
    if (options.graphics.concurrency) settings.graphicsConcurrency = options.graphics.concurrency;
    return settings;
  };
  const JobOutcome outcome =
      runReported([&](const Pipeline::ProgressCallback& progress) { return Pipeline::recut(request, progress, stop); },
                  console, stop);
  return saidStillMixed(outcome, request.sessionURL, console);
}

int runRetry(const RetryOptions& options, Console& console, std::stop_token stop) {
  const std::filesystem::path sessionFile = namedSessionFile(options.sessionOrPackage, console);
  std::optional<std::string> selfReviewFailure;
  const JobOutcome outcome = runReported(
      [&](const Pipeline::ProgressCallback& progress) {
        Pipeline::Services services;
        services.aiBackend = ModelClient::detectBackend;
        Pipeline::Output output = Pipeline::retryAdjudication(sessionFile, options.mp4, progress, stop, services);
        selfReviewFailure = output.selfReviewFailure;
        return output;
      },
      console, stop);
  // A retry without the second opinion fails in the engine and changes nothing; one that got
  // it succeeded, even when the self-review after it did not.
  if (outcome.status == kExitOK && selfReviewFailure) {
    console.line("The AI second opinion was applied; the self-review was skipped — " +
                 printable(withCommands(*selfReviewFailure)));
  }
  return saidStillMixed(outcome, sessionFile, console);
}

int runPlace(const PlaceOptions& options, Console& console, std::stop_token stop) {
  const std::filesystem::path sessionFile = namedSessionFile(options.sessionOrPackage, console);
  try {
    const auto result = Pipeline::placeGraphics(sessionFile, stop);
    for (const auto& w : result.warnings) console.line("! " + escaped(w));
    const std::size_t n = result.placements.size();
    console.line("Placed " + std::to_string(n) + " graphic" + (n == 1 ? "" : "s") + " in " +
                 escaped(result.fcpxmlURL.string()));
    return kExitOK;
  } catch (const Cancelled&) {
    return kExitCancelled;
  } catch (const UserFacingError& e) {
    console.error("kestrane: " + escaped(e.what()));
    return kExitFailed;
  } catch (const std::exception& e) {
    console.error("kestrane: internal error: " + printable(e.what()));
    return kExitFailed;
  }
}

}  // namespace kestrane::cli
