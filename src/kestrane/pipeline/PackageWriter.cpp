// The package phase: the folder, the timelines, the transcript, the captions, the coverage
// report and the session file.
#include <fmt/format.h>

#include <algorithm>

#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "kestrane/pipeline/TimelineDocument.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::Pipeline::detail {

namespace {

void writeText(const Job& job, StagedFiles& staged, const std::filesystem::path& path, std::string_view text) {
  job.checkStop();
  staged.write(path, text);
}

// Every file is written aside first and all move into place together, so a re-cut that fails
// or is stopped here leaves the earlier cut's files, session included, as they were.
void writeFiles(Job& job, const PackageFiles& files) {
  StagedFiles staged(files.dir);
  KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  const Transcript& transcript = *session.transcript;
  const std::string timelineName = job.projectName + " — Kestrane";
  const PackageLayout layout{files.dir, job.stem};

  writeText(job, staged, files.fcpxml, timelineDocument(session, job.cutList, job.editorNotes, job.projectName, {}));

  if (settings.resolvedExportTarget() == ExportTarget::premiere) {
    writeText(job, staged, layout.premiereXml(), XMEMLWriter::xmeml(session.source, job.cutList, timelineName, true));
  }

  writeText(job, staged, files.transcript,
            TranscriptExporter::markdown(session.source, transcript, job.cutList, job.editorNotes));

  // The SRT file keeps one fixed caption size, whatever the timeline's subtitles use.
  writeText(job, staged, files.captions,
            TranscriptExporter::srt(session.source, transcript, job.cutList, TranscriptExporter::srtMaxLineDuration,
                                    TranscriptExporter::srtMaxWordsPerCue));

  const std::filesystem::path coveragePath = layout.coverage();
  if (session.script && !job.coverage.empty()) {
    writeText(job, staged, coveragePath, ScriptCoverage::markdown(job.coverage, job.projectName));
    const auto missing = std::count_if(job.coverage.begin(), job.coverage.end(),
                                       [](const auto& beat) { return beat.status == ScriptCoverage::Status::missing; });
    if (missing > 0) {
      job.warnings.push_back(
          fmt::format("{} script beat{} appear{} to be missing from the footage — see script-coverage.md", missing,
                      missing == 1 ? "" : "s", missing == 1 ? "s" : ""));
    }
  } else {
    // A report from an earlier cut must not outlive its script.
    staged.removeOnCommit(coveragePath);
  }
  if (Job::StaleRoughCut* stale = job.staleRoughCut ? &*job.staleRoughCut : nullptr) {
    if (stale->shows) {
      staged.removeOnCommit(stale->movie);
    } else {
      stale->setAsideAs = layout.freeSetAsideMovie();
      staged.setAside(stale->movie, *stale->setAsideAs);
    }
  }
  // Every file of the cut is written anew here, so a package marked as maybe holding parts of
  // two cuts is whole once they are in place.
  if (const auto mark = markToTakeAway(files.dir)) staged.removeOnCommit(*mark);

  session.warnings = job.warnings.empty() ? std::nullopt : std::optional(job.warnings);
  job.checkStop();
  const std::string sessionText = session.fileText(files.session);
  try {
    staged.write(files.session, sessionText);
  } catch (const AtomicFile::WriteError& e) {
    throw SessionFileError("Can't save the session file " + files.session.string() + " — " + e.reason() + ".");
  }
  job.checkStop();
  staged.commit();
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
      throw PipelineError(fmt::format("Can't create the package folder {} — {}.", files.dir.string(), ec.message()));
    }
    files.lock = place.lock;
    if (!files.lock) {
      files.lock = std::make_shared<const PackageLock>(files.dir);
      job.warnings.insert(job.warnings.end(), files.lock->warnings().begin(), files.lock->warnings().end());
    }
  } else {
    // A folder of this name that a first cut stopped before any of its files was in place
    // holds nothing but its hidden files: they go, and this cut takes the folder.
    std::optional<ReclaimedFolder> reclaimed;
    files.dir = reservePackageDir(place.parent, job.projectName, [&reclaimed](const std::filesystem::path& taken) {
      try {
        reclaimed = reclaimAbandonedFolder(taken);
      } catch (const PipelineError&) {
        reclaimed.reset();  // another run has it, or it can't be locked: not for this run
      }
      return reclaimed.has_value();
    });
    files.fresh = true;
    // A forced exit takes the folder away too, once the files staged in it are gone.
    platform::ScratchFiles::add(files.dir.string());
    if (reclaimed) {
      files.lock = std::move(reclaimed->lock);
      job.warnings.push_back(reclaimed->note + ", and wrote this cut there.");
    } else {
      // Held from the start, so no re-cut of the new package begins before this run has ended.
      files.lock = std::make_shared<const PackageLock>(files.dir);
    }
  }
  const PackageLayout layout{files.dir, job.stem};
  files.fcpxml = layout.fcpxml();
  files.transcript = layout.transcript();
  files.captions = layout.captions();
  files.session = place.existing && place.sessionFile ? *place.sessionFile : layout.session();

  // A folder this job made and could not finish is not a package: take it away whole, so
  // nothing half-written is left for an editor to open.
  const auto takeAwayFresh = [&files] {
    if (!files.fresh) return;
    platform::ScratchFiles::forget(files.dir.string());
    std::error_code ignored;
    std::filesystem::remove_all(files.dir, ignored);
  };
  try {
    writeFiles(job, files);
  } catch (const MoveLeftHalfway& e) {
    // Gone whole, a new package holds no part of any cut.
    if (!files.fresh) throw;
    takeAwayFresh();
    throw e.write();
  } catch (...) {
    takeAwayFresh();
    throw;
  }
  if (files.fresh) platform::ScratchFiles::forget(files.dir.string());
  return files;
}

}  // namespace kestrane::Pipeline::detail
