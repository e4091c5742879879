// The package phase: the folder, the timelines, the transcript, the captions, the coverage
// report and the session file.
#include <fmt/format.h>

#include <algorithm>

#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"

namespace kestrane::Pipeline::detail {

namespace {

void writeText(const Job& job, const std::filesystem::path& path, std::string_view text) {
  job.checkStop();
  AtomicFile::write(path, text);
}

void writeFiles(Job& job, const PackageFiles& files) {
  KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  const Transcript& transcript = *session.transcript;
  const std::string timelineName = job.projectName + " — Kestrane";

  std::vector<TranscriptExporter::Cue> captions;
  if (settings.resolvedEmbedCaptions()) {
    const auto length = settings.resolvedSubtitleLength();
    captions = TranscriptExporter::cues(transcript, job.cutList,
                                        TranscriptExporter::maxLineDuration(length),
                                        TranscriptExporter::maxWordsPerCue(length));
  }
  FCPXMLWriter::Options options;
  options.eventName = "Kestrane";
  options.projectName = timelineName;
  options.editorNotes = job.editorNotes;
  writeText(job, files.fcpxml,
            FCPXMLWriter::fcpxml(session.source, job.cutList, {}, captions, options));

  if (settings.resolvedExportTarget() == ExportTarget::premiere) {
    writeText(job, files.dir / (job.stem + " (Premiere).xml"),
              XMEMLWriter::xmeml(session.source, job.cutList, timelineName, true));
  }

  writeText(job, files.transcript,
            TranscriptExporter::markdown(session.source, transcript, job.cutList, job.editorNotes));

  // The SRT file keeps one fixed caption size, whatever the timeline's subtitles use.
  writeText(job, files.captions,
            TranscriptExporter::srt(session.source, transcript, job.cutList,
                                    TranscriptExporter::srtMaxLineDuration,
                                    TranscriptExporter::srtMaxWordsPerCue));

  const std::filesystem::path coveragePath = files.dir / "script-coverage.md";
  if (session.script && !job.coverage.empty()) {
    writeText(job, coveragePath, ScriptCoverage::markdown(job.coverage, job.projectName));
    const auto missing = std::count_if(job.coverage.begin(), job.coverage.end(), [](const auto& beat) {
      return beat.status == ScriptCoverage::Status::missing;
    });
    if (missing > 0) {
      job.warnings.push_back(fmt::format(
          "{} script beat{} appear{} to be missing from the footage — see script-coverage.md",
          missing, missing == 1 ? "" : "s", missing == 1 ? "s" : ""));
    }
  } else {
    // A report from an earlier cut must not outlive its script.
    std::error_code ignored;
    std::filesystem::remove(coveragePath, ignored);
  }

  session.warnings = job.warnings.empty() ? std::nullopt : std::optional(job.warnings);
  job.checkStop();
  session.write(files.session);
}

}  // namespace

PackageFiles writePackage(Job& job, const PackagePlace& place) {
  job.announce(Stage::exporting);
  job.checkStop();

  PackageFiles files;
  if (place.existing) {
    files.dir = *place.existing;
    std::error_code ec;
    std::filesystem::create_directories(files.dir, ec);
    if (ec) {
      throw PipelineError(
          fmt::format("Can't create the package folder {} — {}.", files.dir.string(), ec.message()));
    }
  } else {
    files.dir = reservePackageDir(place.parent, job.projectName);
    files.fresh = true;
  }
  files.fcpxml = files.dir / (job.stem + ".fcpxml");
  files.transcript = files.dir / "transcript.md";
  files.captions = files.dir / "captions.srt";
  files.session = files.dir / (job.stem + ".kestrane.json");

  try {
    writeFiles(job, files);
  } catch (...) {
    // A folder this job made and could not finish is not a package: take it away whole, so
    // nothing half-written is left for an editor to open.
    if (files.fresh) {
      std::error_code ignored;
      std::filesystem::remove_all(files.dir, ignored);
    }
    throw;
  }
  return files;
}

}  // namespace kestrane::Pipeline::detail
