#pragma once
// The rough cut as one playable movie: the kept pieces of the source, on the same frame grid as
// the timelines, decoded and re-encoded back to back into an MP4 with nothing added.
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::MP4Renderer {

class RenderError : public UserFacingError {
 public:
  enum class Kind { compositionFailed, exportFailed, nothingToRender };

  // "Couldn't assemble rough cut: " + detail
  static RenderError compositionFailed(const std::string& detail);
  // "Export failed: " + detail
  static RenderError exportFailed(const std::string& detail);
  // "Cut list has no kept segments"
  static RenderError nothingToRender();

  Kind kind() const { return kind_; }

 private:
  RenderError(Kind kind, const std::string& message) : UserFacingError(message), kind_(kind) {}
  Kind kind_;
};

// The edit: where every kept piece of the source lands, and which of the source's tracks (its
// first video and first audio track) the movie carries.
struct Composition {
  FrameSnapping::Layout layout;
  bool hasVideo = false;
  bool hasAudio = false;
};

// Builds the edit in memory and writes nothing. Fails with nothingToRender when nothing is kept
// (before the source is opened), and with compositionFailed when the source can't be read or
// has neither track, or the frame duration or the cut's times are unusable.
Composition composition(const SourceMedia& source, const CutList& cutList);

// Called with the fraction done, 0…1, from the rendering thread.
using Progress = std::function<void(double)>;

// Renders the cut into the MP4 file `to`. The movie is written beside it under a hidden
// temporary name and renamed into place only when complete: a failed or cancelled render leaves
// any earlier file at `to` as it was and no partial file. `progress` hears the fraction done at
// most once a hundredth, and 1.0 once when the movie is in place. A stop request ends the render
// with Cancelled; every other failure is a RenderError.
void render(const SourceMedia& source, const CutList& cutList, const std::filesystem::path& to,
            const Progress& progress = {}, std::stop_token stop = {});

// render without the move into place: the complete movie under its hidden name beside `to`,
// held and flushed, for the caller to move together with what describes it. Nothing is left
// when it throws; `progress` never hears 1.0.
AtomicFile::Aside renderAside(const SourceMedia& source, const CutList& cutList, const std::filesystem::path& to,
                              const Progress& progress = {}, std::stop_token stop = {});

}  // namespace kestrane::MP4Renderer
