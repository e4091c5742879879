#pragma once
// The persistent state of one cut, stored as the session file in every package.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/BrandSpec.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/GraphicsAsset.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/MovieIdentity.hpp"
#include "kestrane/model/PipelineSettings.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/TakeGroupInfo.hpp"
#include "kestrane/model/Transcript.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane {

// A session file that cannot be read or written; the message is shown to the user.
class SessionFileError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
};

// How a session's times place the footage's sound: by the file's timestamps, as the timelines'
// readers do, or by counting the decoded samples from the first one, as sessions earlier builds
// wrote (which have no "soundTiming") did. The two part only where the sound has a gap or an
// overlap, or starts after the picture.
enum class SoundTiming { timestamps, countedSamples };

template <>
struct EnumText<SoundTiming> {
  static constexpr std::array<std::string_view, 2> texts{"timestamps", "countedSamples"};
};

struct KestraneSession {
  static constexpr std::int64_t currentVersion = 1;
  // Larger files are refused rather than read whole into memory.
  static constexpr std::uintmax_t maxFileBytes = 256ull * 1024 * 1024;

  std::int64_t version = currentVersion;
  SourceMedia source;
  PipelineSettings settings;
  std::optional<std::string> projectName;
  std::optional<std::string> script;
  std::optional<std::string> projectNotes;
  std::optional<bool> createMotionGraphics;
  std::optional<BrandSpec> brandSpec;
  std::optional<std::string> graphicsNotes;
  std::optional<std::vector<std::string>> warnings;
  std::optional<std::vector<GraphicsAsset>> graphicsAssets;
  std::optional<std::vector<SilenceSpan>> silences;
  std::optional<Transcript> transcript;
  std::optional<CutList> cutList;
  // The cut the package's rough-cut movie shows; absent when the package holds none, or only a
  // movie of an unknown cut. A later cut that plays the same frames leaves the movie in place.
  std::optional<CutList> roughCutCutList;
  // The movie file that record is about, by its size and bytes (and its time, for earlier
  // builds). Only that file shows the recorded cut, wherever the package is copied: another at
  // the movie's name is of unknown cut. A record an earlier build wrote, without the digest or
  // without this at all, is weighed by the re-cut as well as it can be (see RoughCut).
  std::optional<MovieIdentity> roughCutMovie;
  std::optional<std::vector<Advisory>> advisories;
  std::optional<std::vector<Advisory>> editorNotes;
  std::optional<LevelData> levels;
  std::optional<std::vector<TakeGroupInfo>> takeGroups;
  // Every session this build writes is on the file's clock.
  SoundTiming soundTiming = SoundTiming::timestamps;

  static KestraneSession make(SourceMedia source, PipelineSettings settings,
                              std::optional<std::string> script = std::nullopt);

  // Writes atomically: a failure leaves any earlier file as it was. Throws SessionFileError.
  void write(const std::filesystem::path& path) const;
  // The text write() would save at `path`, checked the same way. Throws SessionFileError.
  std::string fileText(const std::filesystem::path& path) const;
  static KestraneSession read(const std::filesystem::path& path);
};

}  // namespace kestrane
