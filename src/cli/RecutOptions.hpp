#pragma once
// The `kestrane recut` and `kestrane retry-ai` command lines. A re-cut starts from the stored
// settings: only what is named on the command line changes.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "CutOptions.hpp"
#include "GraphicsOptions.hpp"

namespace kestrane::cli {

struct RecutOptions {
  // A session file, or a package folder holding one.
  std::filesystem::path sessionOrPackage;
  std::optional<std::string> projectName;
  std::optional<std::string> notes;
  bool dropScript = false;
  bool mp4 = false;
  Pipeline::RecutChoices choices;
  GraphicsOptions graphics;
  bool help = false;
};

struct RetryOptions {
  std::filesystem::path sessionOrPackage;
  bool mp4 = false;
  bool help = false;
};

struct PlaceOptions {
  std::filesystem::path sessionOrPackage;
  bool help = false;
};

extern const char* const kRecutUsage;
extern const char* const kRetryUsage;

// Parse the arguments that follow "recut" and "retry-ai". Throw UsageError.
RecutOptions parseRecutOptions(const std::vector<std::string>& args);
PlaceOptions parsePlaceOptions(const std::vector<std::string>& args);
extern const char* const kPlaceUsage;
RetryOptions parseRetryOptions(const std::vector<std::string>& args);

}  // namespace kestrane::cli
