#include "CutOptions.hpp"

namespace kestrane::cli {

const char* const kCutUsage =
    "Usage: kestrane cut FOOTAGE... [options]\n"
    "\n"
    "Cuts each footage file into a handoff package (FCPXML timeline, transcript, captions,\n"
    "script coverage and session file). Several files are cut one after another.\n"
    "\n"
    "Options:\n"
    "  --script FILE            the presenter's script (txt, md, fountain, rtf or pdf)\n"
    "  --name NAME              project name (default: the footage file's name)\n"
    "  --out DIR                folder for the package (default: beside the footage)\n"
    "  --tightness PRESET       relaxed, natural (default), tight or jumpCut\n"
    "  --silences-only          keep every word and only close the gaps\n"
    "  --keep-fillers           leave filler words (um, uh) in the cut\n"
    "  --target EDITOR          finalCut (default), resolve or premiere\n"
    "  --no-captions            no subtitle titles on the timeline\n"
    "  --subtitle-length LEN    short, medium (default), long or sentence\n"
    "  --sensitivity LEVEL      how much counts as silence: muchLess, less,\n"
    "                           automatic (default), more or muchMore\n"
    "  --threshold DBFS         a fixed silence threshold instead, e.g. -40\n"
    "  --mp4                    also render the rough cut as an MP4 in the package\n" KESTRANE_GRAPHICS_USAGE
    "  --ai                     ask the AI model for a second opinion (needs the claude CLI\n"
    "                           or ANTHROPIC_API_KEY)\n"
    "  --thoroughness LEVEL     fast (default), balanced or meticulous: how many rounds the\n"
    "                           AI may spend reviewing the finished cut\n"
    "  --notes TEXT             editorial directions for the AI passes\n"
    "  -h, --help               show this help\n";

Thoroughness parseThoroughness(const std::string& option, const std::string& value) {
  for (Thoroughness t : {Thoroughness::fast, Thoroughness::balanced, Thoroughness::meticulous}) {
    if (lowered(std::string(rawValue(t))) == lowered(value)) return t;
  }
  throw UsageError(fmt::format("{} takes one of fast, balanced, meticulous — “{}” is not one of them.", option, value));
}

CutOptions parseCutOptions(const std::vector<std::string>& args) {
  CutOptions o;
  Valued valued{
      {"--script", [&](const std::string& v) { o.script = v; }},
      {"--name", [&](const std::string& v) { o.projectName = v; }},
      {"--out", [&](const std::string& v) { o.outputDir = v; }},
      {"--notes", [&](const std::string& v) { o.notes = v; }},
  };
  addCutChoices(valued, o.choices);
  Flags flags{
      {"--silences-only", [&] { o.choices.silencesOnly = true; }},
      {"--keep-fillers", [&] { o.choices.removeFillers = false; }},
      {"--no-captions", [&] { o.choices.embedCaptions = false; }},
      {"--mp4", [&] { o.mp4 = true; }},
      {"--ai", [&] { o.choices.ai = true; }},
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };
  const auto footage = [&](const std::string& arg) {
    if (arg.empty()) throw UsageError("An empty footage path was given.");
    o.footage.emplace_back(arg);
  };
  addGraphicsChoices(valued, flags, o.graphics, o.choices);
  parseArguments(args, flags, valued, footage, "cut");
  if (!o.help && o.footage.empty()) {
    throw UsageError("No footage given — name at least one video or audio file to cut.");
  }
  return o;
}

}  // namespace kestrane::cli
