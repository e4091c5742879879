#pragma once
// The FCPXML 1.13 timeline of a cut: a compound clip holding the whole raw footage (with the
// notes for the editor as markers inside it), and a project whose spine cuts pieces out of that
// clip, with subtitle titles and placed graphics riding on the pieces.
//
// Caption and graphics times are on the plain cut timeline (as TranscriptExporter and the
// graphics placement compute them); the writer carries them onto the frame-snapped pieces.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/export/GraphicsPlacement.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/model/Advisory.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::FCPXMLWriter {

inline constexpr std::string_view graphicsRole = "Graphics";
inline constexpr std::string_view subtitleRole = "Subtitles";
// The stock Subtitle title of Final Cut Pro.
inline constexpr std::string_view subtitleEffectUID =
    ".../Titles.localized/Subtitles.localized/Subtitle.localized/Subtitle.moti";

struct Options {
  std::string eventName;
  std::string projectName;
  std::vector<Advisory> editorNotes;  // markers inside the compound clip, at source times
};

// One finished cut of a batch.
struct BatchProject {
  SourceMedia source;
  CutList cutList;
  std::vector<TranscriptExporter::Cue> captions;
  std::string projectName;
  std::vector<Advisory> editorNotes;
};

// The resources (lines at the level under <resources>) and the <project> element of one cut.
struct Component {
  std::string resources;
  std::string project;
};

// The whole document of one cut, in one event named options.eventName.
std::string fcpxml(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
                   const std::vector<TranscriptExporter::Cue>& captions, const Options& options);

// fcpxml saved atomically as UTF-8 at `path`. Throws AtomicFile::WriteError.
void write(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
           const std::vector<TranscriptExporter::Cue>& captions, const Options& options,
           const std::filesystem::path& path);

// One document that brings every cut of a batch into the editor at once: each item's own
// resources under the id prefix "v<i>_", their projects in one event.
std::string batchFcpxml(const std::vector<BatchProject>& items, const std::string& eventName);

// One cut's resources and project, every id starting with `idPrefix`.
Component component(const SourceMedia& source, const CutList& cutList, const std::vector<GraphicsPlacement>& graphics,
                    const std::vector<TranscriptExporter::Cue>& captions, const Options& options,
                    const std::string& idPrefix);

}  // namespace kestrane::FCPXMLWriter
