#include "kestrane/pipeline/TimelineDocument.hpp"

#include "kestrane/export/TranscriptExporter.hpp"

namespace kestrane::Pipeline {

FCPXMLWriter::BatchProject timelineProject(const KestraneSession& session, const CutList& cutList,
                                           const std::vector<Advisory>& editorNotes, const std::string& projectName) {
  FCPXMLWriter::BatchProject project;
  project.source = session.source;
  project.cutList = cutList;
  const PipelineSettings& settings = session.settings;
  if (settings.resolvedEmbedCaptions() && session.transcript) {
    const auto length = settings.resolvedSubtitleLength();
    project.captions =
        TranscriptExporter::cues(*session.transcript, cutList, TranscriptExporter::maxLineDuration(length),
                                 TranscriptExporter::maxWordsPerCue(length));
  }
  project.projectName = projectName + " — Kestrane";
  project.editorNotes = editorNotes;
  return project;
}

std::string timelineDocument(const KestraneSession& session, const CutList& cutList,
                             const std::vector<Advisory>& editorNotes, const std::string& projectName,
                             const std::vector<GraphicsPlacement>& graphics) {
  FCPXMLWriter::BatchProject project = timelineProject(session, cutList, editorNotes, projectName);
  FCPXMLWriter::Options options;
  options.eventName = "Kestrane";
  options.projectName = std::move(project.projectName);
  options.editorNotes = std::move(project.editorNotes);
  return FCPXMLWriter::fcpxml(project.source, project.cutList, graphics, project.captions, options);
}

}  // namespace kestrane::Pipeline
