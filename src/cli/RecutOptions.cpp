#include "RecutOptions.hpp"

#include <fmt/format.h>

#include <functional>

namespace kestrane::cli {

const char* const kRecutUsage =
    "Usage: kestrane recut SESSION_OR_PACKAGE [options]\n"
    "\n"
    "Cuts a package again from its session file, without analysing the footage again. The\n"
    "stored settings and hand edits stay unless an option below changes them. The package is\n"
    "rewritten in place; a new project name, or a session file outside any package, makes a\n"
    "new package folder instead.\n"
    "\n"
    "Options:\n"
    "  --name NAME              new project name (cut into a new package of that name)\n"
    "  --drop-script            forget the stored script\n"
    "  --tightness PRESET       relaxed, natural, tight or jumpCut\n"
    "  --silences-only          keep every word and only close the gaps\n"
    "  --full-cut               choose the best takes again after a silences-only cut\n"
    "  --keep-fillers           leave filler words (um, uh) in the cut\n"
    "  --remove-fillers         take filler words out\n"
    "  --target EDITOR          finalCut, resolve or premiere\n"
    "  --no-captions            no subtitle titles on the timeline\n"
    "  --captions               subtitle titles on the timeline\n"
    "  --subtitle-length LEN    short, medium, long or sentence\n"
    "  --sensitivity LEVEL      how much counts as silence, against the stored levels:\n"
    "                           muchLess, less, automatic, more or muchMore\n"
    "  --threshold DBFS         a fixed silence threshold instead, e.g. -40\n"
    "  --mp4                    also render the rough cut as an MP4 in the package\n"
    "  -h, --help               show this help\n";

const char* const kRetryUsage =
    "Usage: kestrane retry-ai SESSION_OR_PACKAGE [--mp4]\n"
    "\n"
    "Cuts a package again with the AI second opinion turned on, keeping every other stored\n"
    "choice. Without the claude CLI or ANTHROPIC_API_KEY the deterministic cut is kept and a\n"
    "warning says so.\n"
    "\n"
    "Options:\n"
    "  --mp4                    also render the rough cut as an MP4 in the package\n"
    "  -h, --help               show this help\n";

namespace {

// Exactly one session file or package folder.
std::function<void(const std::string&)> oneTarget(std::filesystem::path& target, bool& seen) {
  return [&target, &seen](const std::string& arg) {
    if (arg.empty()) throw UsageError("An empty session path was given.");
    if (seen) throw UsageError("Name one session file or package folder at a time.");
    target = arg;
    seen = true;
  };
}

}  // namespace

RecutOptions parseRecutOptions(const std::vector<std::string>& args) {
  RecutOptions o;
  bool seen = false;
  Valued valued{
      {"--name", [&](const std::string& v) { o.projectName = v; }},
  };
  addCutChoices(valued, o);
  const Flags flags{
      {"--drop-script", [&] { o.dropScript = true; }},
      {"--silences-only", [&] { o.silencesOnly = true; }},
      {"--full-cut", [&] { o.silencesOnly = false; }},
      {"--keep-fillers", [&] { o.removeFillers = false; }},
      {"--remove-fillers", [&] { o.removeFillers = true; }},
      {"--no-captions", [&] { o.embedCaptions = false; }},
      {"--captions", [&] { o.embedCaptions = true; }},
      {"--mp4", [&] { o.mp4 = true; }},
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };
  parseArguments(args, flags, valued, oneTarget(o.sessionOrPackage, seen), "recut");
  if (!o.help && !seen) {
    throw UsageError("No session given — name a package folder or its .kestrane.json file.");
  }
  return o;
}

RetryOptions parseRetryOptions(const std::vector<std::string>& args) {
  RetryOptions o;
  bool seen = false;
  const Flags flags{
      {"--mp4", [&] { o.mp4 = true; }},
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };
  parseArguments(args, flags, {}, oneTarget(o.sessionOrPackage, seen), "retry-ai");
  if (!o.help && !seen) {
    throw UsageError("No session given — name a package folder or its .kestrane.json file.");
  }
  return o;
}

std::filesystem::path sessionFileFor(const std::filesystem::path& sessionOrPackage) {
  std::error_code ec, entryError;
  if (!std::filesystem::exists(sessionOrPackage, ec)) {
    throw UsageError(fmt::format("No session file or package folder at {}.",
                                 sessionOrPackage.string()));
  }
  if (!std::filesystem::is_directory(sessionOrPackage, ec)) return sessionOrPackage;
  constexpr std::string_view suffix = ".kestrane.json";
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(sessionOrPackage, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(),
                                                    suffix) == 0 && entry.is_regular_file(entryError)) {
      found.push_back(entry.path());
    }
  }
  if (ec) {
    throw UsageError(
        fmt::format("Can't read the folder {} — {}.", sessionOrPackage.string(), ec.message()));
  }
  if (found.empty()) {
    throw UsageError(fmt::format("No session file (.kestrane.json) in {} — is it a package?",
                                 sessionOrPackage.string()));
  }
  if (found.size() > 1) {
    throw UsageError(fmt::format("{} holds several session files — name the one to re-cut.",
                                 sessionOrPackage.string()));
  }
  return found.front();
}

PipelineSettings recutSettings(const RecutOptions& options, const KestraneSession& stored) {
  PipelineSettings s = stored.settings;
  if (options.tightness) s.apply(*options.tightness);
  if (options.silencesOnly) {
    if (*options.silencesOnly) {
      s.thoroughness = Thoroughness::silencesOnly;
    } else if (s.thoroughness == Thoroughness::silencesOnly) {
      s.thoroughness = Thoroughness::fast;  // the full cut, as `kestrane cut` makes it
    }
  }
  if (options.removeFillers) s.removeFillers = *options.removeFillers;
  if (options.exportTarget) s.exportTarget = *options.exportTarget;
  if (options.embedCaptions) s.embedCaptions = *options.embedCaptions;
  if (options.subtitleLength) s.subtitleLength = *options.subtitleLength;
  if (options.thresholdDBFS) {
    s.silenceThresholdDBFS = *options.thresholdDBFS;
  } else if (options.sensitivity) {
    if (!stored.levels) {
      throw UsageError(
          "This session stores no audio levels to measure a sensitivity against — give "
          "--threshold instead.");
    }
    s.silenceThresholdDBFS = thresholdDBFS(*options.sensitivity, stored.levels->levelsDBFS());
  }
  return s;
}

}  // namespace kestrane::cli
