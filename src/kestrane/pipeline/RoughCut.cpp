#include "kestrane/pipeline/RoughCut.hpp"

#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline::detail {

std::filesystem::path roughCutPath(const Job& job, const PackageFiles& files) {
  return PackageLayout{files.dir, job.stem}.movie();
}

std::optional<std::filesystem::path> renderRoughCut(Job& job, const PackageFiles& files, bool renderMP4) {
  if (!renderMP4) return std::nullopt;
  job.announce(Stage::rendering);
  job.checkStop();
  const std::filesystem::path path = roughCutPath(job, files);
  MP4Renderer::Progress rendered;
  if (job.progress) {
    rendered = [&job](double done) { job.announce(Stage::rendering.at(done)); };
  }
  MP4Renderer::render(job.session.source, job.cutList, path, rendered, job.stop);
  job.earlierMovie.letGo();
  return path;
}

void removeStaleRoughCut(Job& job, const PackageFiles& files) {
  std::error_code ignored;
  if (std::filesystem::remove(roughCutPath(job, files), ignored)) {
    job.warnings.push_back("Removed the rough cut of the earlier cut — it no longer matches this one");
  }
}

void removeStaleFiles(Job& job, const PackageFiles& files, bool renderMP4) {
  std::error_code ignored;
  if (job.session.settings.resolvedExportTarget() != ExportTarget::premiere &&
      std::filesystem::remove(PackageLayout{files.dir, job.stem}.premiereXml(), ignored)) {
    job.warnings.push_back("Removed the Premiere timeline of the earlier cut — it no longer matches this one");
  }
  if (!renderMP4) {
    removeStaleRoughCut(job, files);
  } else {
    job.earlierMovie = platform::ScratchFiles::RemovedOnForcedExit(roughCutPath(job, files).string());
  }
}

}  // namespace kestrane::Pipeline::detail
