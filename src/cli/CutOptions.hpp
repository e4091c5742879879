#pragma once
// The `kestrane cut` command line: what the user asked for, parsed and checked.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/model/PipelineSettings.hpp"

namespace kestrane::cli {

// A command line that cannot be understood; the message says what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// Parses the arguments that follow "cut". Throws UsageError.
CutOptions parseCutOptions(const std::vector<std::string>& args);

// The settings of one cut, as the application would make them from the same choices:
// AI off, the fast full cut unless only silences go, hand edits empty.
PipelineSettings settingsFor(const CutOptions& options, double thresholdDBFS);

}  // namespace kestrane::cli
