#pragma once
// The package's FCPXML document, built the same way by the package writer and by the graphics
// placement that rewrites it later.
#include <string>
#include <vector>

#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/GraphicsPlacement.hpp"
#include "kestrane/model/KestraneSession.hpp"

namespace kestrane::Pipeline {

// The timeline of `cutList` over the session's footage as one project, named
// "<projectName> — Kestrane", with the editor notes and, when the session's settings ask for
// them, captions in its subtitle length: the project of a package, or of a batch document.
FCPXMLWriter::BatchProject timelineProject(const KestraneSession& session, const CutList& cutList,
                                           const std::vector<Advisory>& editorNotes, const std::string& projectName);

// The timeline of `cutList` over the session's footage, named "<projectName> — Kestrane" in
// the "Kestrane" event, with the editor notes, the placed graphics and, when the session's
// settings ask for them, captions in its subtitle length.
std::string timelineDocument(const KestraneSession& session, const CutList& cutList,
                             const std::vector<Advisory>& editorNotes, const std::string& projectName,
                             const std::vector<GraphicsPlacement>& graphics);

}  // namespace kestrane::Pipeline
