#include "RecutOptions.hpp"

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
    "  --mp4                    also render the rough cut as an MP4 in the package\n" KESTRANE_GRAPHICS_USAGE
    "  --ai                     ask the AI model for a second opinion (needs the claude CLI\n"
    "                           or ANTHROPIC_API_KEY)\n"
    "  --thoroughness LEVEL     fast, balanced or meticulous: how many rounds the AI may\n"
    "                           spend reviewing the finished cut\n"
    "  --notes TEXT             editorial directions for the AI passes (replace the stored ones)\n"
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
      {"--notes", [&](const std::string& v) { o.notes = v; }},
  };
  addCutChoices(valued, o.choices);
  Flags flags{
      {"--drop-script", [&] { o.dropScript = true; }},
      {"--silences-only", [&] { o.choices.silencesOnly = true; }},
      {"--full-cut", [&] { o.choices.silencesOnly = false; }},
      {"--keep-fillers", [&] { o.choices.removeFillers = false; }},
      {"--remove-fillers", [&] { o.choices.removeFillers = true; }},
      {"--no-captions", [&] { o.choices.embedCaptions = false; }},
      {"--captions", [&] { o.choices.embedCaptions = true; }},
      {"--ai", [&] { o.choices.ai = true; }},
      {"--mp4", [&] { o.mp4 = true; }},
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };
  addGraphicsChoices(valued, flags, o.graphics, o.choices);
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

const char* const kPlaceUsage =
    "Usage: kestrane place SESSION_OR_PACKAGE\n"
    "\n"
    "Places the motion graphics already in a package on its FCPXML timeline again, after a file\n"
    "in assets/ was edited or replaced by hand. Nothing is analysed, cut or rendered; only the\n"
    "FCPXML is rewritten.\n";

PlaceOptions parsePlaceOptions(const std::vector<std::string>& args) {
  PlaceOptions o;
  bool seen = false;
  const Flags flags{
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };
  parseArguments(args, flags, {}, oneTarget(o.sessionOrPackage, seen), "place");
  if (!o.help && !seen) {
    throw UsageError("No session given — name a package folder or its .kestrane.json file.");
  }
  return o;
}

}  // namespace kestrane::cli
