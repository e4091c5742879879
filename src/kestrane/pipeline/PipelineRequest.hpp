#pragma once
// The records a job exchanges with its caller: what to cut, what analysis found, what came out.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrane/model/BrandSpec.hpp"
#include "kestrane/model/ComponentVocabulary.hpp"
#include "kestrane/model/GraphicsAsset.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/Transcript.hpp"
#include "kestrane/pipeline/Services.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::Pipeline {

// One job as the caller asks for it.
struct Request {
  std::filesystem::path input;
  std::optional<std::filesystem::path> scriptURL;
  std::optional<std::string> projectName;
  std::optional<std::string> projectNotes;
  // Where the package folder is made; absent means beside the footage.
  std::optional<std::filesystem::path> outputDir;
  bool renderMP4 = false;
  bool useClaude = false;
  bool createMotionGraphics = false;
  bool renderGraphics = true;
  std::optional<BrandSpec> brandSpec;
  std::optional<std::string> graphicsNotes;
  PipelineSettings settings;
  Services services;
};

// One re-cut of a stored session. Hand edits, subtitle length and caption choice that
// `settings` leaves absent keep their stored values; absent optional details keep theirs.
struct RecutRequest {
  // The session file to cut again.
  std::filesystem::path sessionURL;
  PipelineSettings settings;
  // When set, the settings are made from the session as it stands once the re-cut holds the
  // package (after any move a killed run left was finished), in place of `settings`: a front
  // end that changes only some settings names those and keeps the rest as stored then.
  std::function<PipelineSettings(const KestraneSession& stored)> settingsOver;
  // The hand edits in `settings` are on the footage file's clock already: a front end that shows
  // an earlier build's session moved there gives them as shown. Otherwise they are taken to be
  // over the stored times, and move with them.
  bool editsOnFileClock = false;
  bool renderMP4 = false;
  bool useClaude = false;
  // A new name cuts into a new package of that name.
  std::optional<std::string> projectName;
  std::optional<std::string> projectNotes;
  std::optional<bool> createMotionGraphics;
  bool renderGraphics = true;
  std::optional<BrandSpec> brandSpec;
  std::optional<std::string> graphicsNotes;
  // Forget the stored script.
  bool dropScript = false;
  Services services;
};

// How an analysis runs.
struct AnalyzeOptions {
  // Speech recognizers run side by side; 0 means one per processor core. The application
  // leaves a core to its window.
  unsigned workers = 0;
};

// The slow, settings-independent facts of one footage file, reusable across runs.
struct Analysis {
  SourceMedia source;
  LevelData levels;
  Transcript transcript;
  // What the job should tell the user about the footage itself (damage, a cut-off file).
  std::vector<std::string> warnings;
  // The file analysed, held open: a run on this analysis reads this file and no other, and
  // whoever kept the analysis can tell whether the file at the path is still this one.
  std::shared_ptr<const platform::MediaFile> footage;
};

// What a finished job hands back.
struct Output {
  KestraneSession session;
  std::filesystem::path packageDir;
  std::filesystem::path fcpxmlURL;
  std::filesystem::path transcriptURL;
  std::filesystem::path captionsURL;
  std::filesystem::path sessionURL;
  std::optional<std::filesystem::path> visualIdeasURL;
  std::optional<std::filesystem::path> brandSpecURL;
  std::optional<std::filesystem::path> assetsDirURL;
  std::vector<GraphicsAsset> graphicsAssets;
  std::optional<ComponentVocabulary> brandVocabulary;
  std::optional<std::filesystem::path> mp4URL;
  // The movie at mp4URL shows an earlier cut than this one. A run's own movie never does; that
  // of a package reopened does unless its session vouches for that very file.
  bool mp4ShowsEarlierCut = false;
  std::vector<std::string> warnings;
  // AI adjudication was asked for and did not take effect.
  bool aiAdjudicationSkipped = false;
  // Why the self-review's correction failed, when it did; the second opinion may still have
  // been applied.
  std::optional<std::string> selfReviewFailure;
};

}  // namespace kestrane::Pipeline
