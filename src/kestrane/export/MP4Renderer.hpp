#pragma once
// The rough cut as one playable movie: the kept pieces of the source, on the same frame grid as
// the timelines, decoded and re-encoded back to back into an MP4 with nothing added.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "kestrane/export/FrameSnapping.hpp"
#include "kestrane/export/SoundListener.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {
class MediaFile;
}

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
  // "Export failed: the footage <path> stops at 0:08, but the cut uses it at 0:12 — …", with the
  // decimals that tell the two times apart when their whole seconds read the same.
  static RenderError footageRanOut(const std::string& path, double stopped, double needed);
  // "Export failed: the footage <path> at 0:07 doesn't sound like the footage the package was cut
  // from — …"
  static RenderError footageSoundsDifferent(const std::string& path, double at);
  // "Export failed: the footage <path> can't be read at 0:07 — <why>"
  static RenderError footageUnreadable(const std::string& path, double at, const std::string& why);

  Kind kind() const { return kind_; }

 private:
  RenderError(Kind kind, const std::string& message) : UserFacingError(message), kind_(kind) {}
  Kind kind_;
};

// The footage a movie is cut from: its facts as the cut knows them, the one file that is read,
// held open, so a file put at its path meanwhile is never what the movie shows, and what hears
// the sound the movie takes against how the footage sounded when it was cut.
struct Footage {
  SourceMedia media;
  std::shared_ptr<const platform::MediaFile> file;
  Listening listening;
};

// The footage at `media.path`, held open. Throws compositionFailed when no plain file can be read
// there.
Footage openFootage(const SourceMedia& media, Listening listening = {});

// The edit: where every kept piece of the source lands, and which of the source's tracks (its
// first video and first audio track) the movie carries.
struct Composition {
  FrameSnapping::Layout layout;
  bool hasVideo = false;
  bool hasAudio = false;
};

// Builds the edit in memory and writes nothing. Fails with nothingToRender when nothing is kept
// (before the source is read), and with compositionFailed when the source can't be read or
// has neither track, or the frame duration or the cut's times are unusable.
Composition composition(const Footage& footage, const CutList& cutList);

// Called with the fraction done, 0…1, from the rendering thread.
using Progress = std::function<void(double)>;

// Renders the cut into the MP4 file `to`. The movie is written beside it under a hidden
// temporary name and renamed into place only when complete: a failed or cancelled render leaves
// any earlier file at `to` as it was and no partial file. `progress` hears the fraction done at
// most once a hundredth, and 1.0 once when the movie is in place. A stop request ends the render
// with Cancelled; every other failure is a RenderError. The render never pads footage that ran
// out with silence or a held picture: where its sound ends more than a frame before the cut
// needs it (short of where the file states the track ends, and of the footage's length), or its
// picture short of where the cut measured it ends (in a session that stored no such measure,
// where the file states it ends; never past the footage's length), where it can't be read
// (footageUnreadable), or when the file is written to meanwhile, it fails (footageRanOut,
// exportFailed). Past the picture's end the last picture is held, and tracks of one recording
// that end a few tenths of a second apart still render. With a listener, the sound of every kept
// piece is heard as it is rendered, and the render fails where the listener says it doesn't
// sound as it should (footageSoundsDifferent): a hole, damage or another recording the footage
// check didn't hear.
void render(const Footage& footage, const CutList& cutList, const std::filesystem::path& to,
            const Progress& progress = {}, std::stop_token stop = {});

// render without the move into place: the complete movie under its hidden name beside `to`,
// held and flushed, for the caller to move together with what describes it. Nothing is left
// when it throws; `progress` never hears 1.0.
AtomicFile::Aside renderAside(const Footage& footage, const CutList& cutList, const std::filesystem::path& to,
                              const Progress& progress = {}, std::stop_token stop = {});

}  // namespace kestrane::MP4Renderer
