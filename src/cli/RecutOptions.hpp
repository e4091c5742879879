#pragma once
// The `kestrane recut` and `kestrane retry-ai` command lines. A re-cut starts from the stored
// settings: only what is named on the command line changes.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CutOptions.hpp"
#include "kestrane/model/KestraneSession.hpp"

namespace kestrane::cli {

struct RecutOptions {
  // A session file, or a package folder holding one.
  std::filesystem::path sessionOrPackage;
  std::optional<std::string> projectName;
  bool dropScript = false;
  bool mp4 = false;
  std::optional<CutTightness> tightness;
  std::optional<bool> silencesOnly;
  std::optional<bool> removeFillers;
  std::optional<ExportTarget> exportTarget;
  std::optional<bool> embedCaptions;
  std::optional<TranscriptExporter::SubtitleLength> subtitleLength;
  std::optional<SilenceSensitivity> sensitivity;
  std::optional<double> thresholdDBFS;
  bool help = false;
};

struct RetryOptions {
  std::filesystem::path sessionOrPackage;
  bool mp4 = false;
  bool help = false;
};

extern const char* const kRecutUsage;
extern const char* const kRetryUsage;

// Parse the arguments that follow "recut" and "retry-ai". Throw UsageError.
RecutOptions parseRecutOptions(const std::vector<std::string>& args);
RetryOptions parseRetryOptions(const std::vector<std::string>& args);

// The session file a command names: the file itself, or the one session file
// ("*.kestrane.json") inside a package folder. Throws UsageError when the path does not exist,
// or a folder holds none or several.
std::filesystem::path sessionFileFor(const std::filesystem::path& sessionOrPackage);

// The stored settings with the command line's changes. A sensitivity is measured against the
// stored levels; throws UsageError when the session has none.
PipelineSettings recutSettings(const RecutOptions& options, const KestraneSession& stored);

}  // namespace kestrane::cli
