#pragma once
// The `kestrane cut` command line: what the user asked for, parsed and checked.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "OptionParsing.hpp"
#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/model/PipelineSettings.hpp"

namespace kestrane::cli {

struct CutOptions {
  std::vector<std::filesystem::path> footage;
  std::optional<std::filesystem::path> script;
  std::optional<std::string> projectName;
  std::optional<std::filesystem::path> outputDir;
  CutTightness tightness = CutTightness::natural;
  bool silencesOnly = false;
  bool removeFillers = true;
  ExportTarget exportTarget = ExportTarget::finalCut;
  bool embedCaptions = true;
  TranscriptExporter::SubtitleLength subtitleLength = TranscriptExporter::SubtitleLength::medium;
  SilenceSensitivity sensitivity = SilenceSensitivity::automatic;
  // A fixed threshold replaces the one derived from the sensitivity and the footage's levels.
  std::optional<double> thresholdDBFS;
  // Also render "<stem> rough cut.mp4" into the package.
  bool mp4 = false;
  bool help = false;
};

extern const char* const kCutUsage;

// The cut choices that take a value, for `cut` and `recut` alike: each sets the field of the
// same name, a plain one or an optional one.
template <class Options>
void addCutChoices(Valued& valued, Options& o) {
  valued.insert({
      {"--tightness",
       [&o](const std::string& v) { o.tightness = parseEnum<CutTightness>("--tightness", v); }},
      {"--target",
       [&o](const std::string& v) { o.exportTarget = parseEnum<ExportTarget>("--target", v); }},
      {"--subtitle-length",
       [&o](const std::string& v) {
         o.subtitleLength = parseEnum<TranscriptExporter::SubtitleLength>("--subtitle-length", v);
       }},
      {"--sensitivity",
       [&o](const std::string& v) {
         o.sensitivity = parseEnum<SilenceSensitivity>("--sensitivity", v);
       }},
      {"--threshold",
       [&o](const std::string& v) { o.thresholdDBFS = parseThreshold("--threshold", v); }},
  });
}

// Parses the arguments that follow "cut". Throws UsageError.
CutOptions parseCutOptions(const std::vector<std::string>& args);

// The settings of one cut, as the application would make them from the same choices:
// AI off, the fast full cut unless only silences go, hand edits empty.
PipelineSettings settingsFor(const CutOptions& options, double thresholdDBFS);

}  // namespace kestrane::cli
