#pragma once
// The `kestrane cut` command line: what the user asked for, parsed and checked.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "GraphicsOptions.hpp"
#include "OptionParsing.hpp"
#include "kestrane/pipeline/CutChoices.hpp"

namespace kestrane::cli {

struct CutOptions {
  std::vector<std::filesystem::path> footage;
  std::optional<std::filesystem::path> script;
  std::optional<std::string> projectName;
  std::optional<std::filesystem::path> outputDir;
  // For the AI passes: editorial directives that outrank their defaults.
  std::optional<std::string> notes;
  Pipeline::CutChoices choices;
  // Also render "<stem> rough cut.mp4" into the package.
  bool mp4 = false;
  GraphicsOptions graphics;
  bool help = false;
};

extern const char* const kCutUsage;

// fast, balanced or meticulous (a silences-only cut has its own option). Throws UsageError.
Thoroughness parseThoroughness(const std::string& option, const std::string& value);

// The cut choices that take a value, for `cut` and `recut` alike: each sets the field of the
// same name, a plain one or an optional one.
template <class Choices>
void addCutChoices(Valued& valued, Choices& o) {
  valued.insert({
      {"--tightness", [&o](const std::string& v) { o.tightness = parseEnum<CutTightness>("--tightness", v); }},
      {"--target", [&o](const std::string& v) { o.exportTarget = parseEnum<ExportTarget>("--target", v); }},
      {"--subtitle-length",
       [&o](const std::string& v) {
         o.subtitleLength = parseEnum<TranscriptExporter::SubtitleLength>("--subtitle-length", v);
       }},
      {"--sensitivity",
       [&o](const std::string& v) { o.sensitivity = parseEnum<SilenceSensitivity>("--sensitivity", v); }},
      {"--threshold", [&o](const std::string& v) { o.thresholdDBFS = parseThreshold("--threshold", v); }},
      {"--thoroughness", [&o](const std::string& v) { o.thoroughness = parseThoroughness("--thoroughness", v); }},
  });
}

// Parses the arguments that follow "cut". Throws UsageError.
CutOptions parseCutOptions(const std::vector<std::string>& args);

}  // namespace kestrane::cli
