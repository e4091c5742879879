#include "CutOptions.hpp"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>

#include "kestrane/model/EnumText.hpp"

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
    "  --mp4                    also render the rough cut as an MP4 in the package\n"
    "  -h, --help               show this help\n";

namespace {

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Stored texts are matched without regard to case, so "jumpcut" and "jumpCut" both work.
template <class E>
E parseEnum(const std::string& option, const std::string& value) {
  std::string choices;
  for (E e : allCases<E>()) {
    const std::string text(rawValue(e));
    if (lowered(text) == lowered(value)) return e;
    choices += (choices.empty() ? "" : ", ") + text;
  }
  throw UsageError(fmt::format("{} takes one of {} — “{}” is not one of them.", option, choices,
                               value));
}

double parseNumber(const std::string& option, const std::string& value) {
  double number = 0;
  const char* begin = value.data();
  const char* end = begin + value.size();
  auto [ptr, ec] = std::from_chars(begin, end, number);
  if (ec != std::errc() || ptr != end || !std::isfinite(number)) {
    throw UsageError(fmt::format("{} takes a number of dBFS — “{}” is not one.", option, value));
  }
  return number;
}

}  // namespace

CutOptions parseCutOptions(const std::vector<std::string>& args) {
  CutOptions o;
  using Setter = std::function<void(const std::string&)>;
  const std::map<std::string, Setter> valued{
      {"--script", [&](const std::string& v) { o.script = v; }},
      {"--name", [&](const std::string& v) { o.projectName = v; }},
      {"--out", [&](const std::string& v) { o.outputDir = v; }},
      {"--tightness",
       [&](const std::string& v) { o.tightness = parseEnum<CutTightness>("--tightness", v); }},
      {"--target",
       [&](const std::string& v) { o.exportTarget = parseEnum<ExportTarget>("--target", v); }},
      {"--subtitle-length",
       [&](const std::string& v) {
         o.subtitleLength = parseEnum<TranscriptExporter::SubtitleLength>("--subtitle-length", v);
       }},
      {"--sensitivity",
       [&](const std::string& v) {
         o.sensitivity = parseEnum<SilenceSensitivity>("--sensitivity", v);
       }},
      {"--threshold",
       [&](const std::string& v) { o.thresholdDBFS = parseNumber("--threshold", v); }},
  };
  const std::map<std::string, std::function<void()>> flags{
      {"--silences-only", [&] { o.silencesOnly = true; }},
      {"--keep-fillers", [&] { o.removeFillers = false; }},
      {"--no-captions", [&] { o.embedCaptions = false; }},
      {"--mp4", [&] { o.mp4 = true; }},
      {"--help", [&] { o.help = true; }},
      {"-h", [&] { o.help = true; }},
  };

  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
      if (arg.empty()) throw UsageError("An empty footage path was given.");
      o.footage.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    if (auto flag = flags.find(name); flag != flags.end()) {
      if (inlineValue) throw UsageError(fmt::format("{} takes no value.", name));
      flag->second();
      continue;
    }
    auto setter = valued.find(name);
    if (setter == valued.end()) {
      throw UsageError(fmt::format("Unknown option “{}” — run kestrane cut --help.", arg));
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw UsageError(fmt::format("{} needs a value.", name));
      inlineValue = args[++i];
    }
    setter->second(*inlineValue);
  }
  if (!o.help && o.footage.empty()) {
    throw UsageError("No footage given — name at least one video or audio file to cut.");
  }
  return o;
}

PipelineSettings settingsFor(const CutOptions& options, double thresholdDBFS) {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.silenceThresholdDBFS = thresholdDBFS;
  s.removeFillers = options.removeFillers;
  s.dedupRepeatedLines = true;
  s.aiAdjudication = false;
  s.thoroughness = options.silencesOnly ? Thoroughness::silencesOnly : Thoroughness::fast;
  s.embedCaptions = options.embedCaptions;
  s.subtitleLength = options.subtitleLength;
  s.exportTarget = options.exportTarget;
  s.manualKeepRanges = std::vector<TimeRange>{};
  s.manualRemoveRanges = std::vector<TimeRange>{};
  s.apply(options.tightness);
  return s;
}

}  // namespace kestrane::cli
