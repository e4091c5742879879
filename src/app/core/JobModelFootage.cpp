// Whether the footage in the editor can be used: a package's footage as opening it found it,
// looked at again once the user may have put it back, and the file a failed cut is tried again
// on.
#include "app/core/FootageFile.hpp"
#include "app/core/JobModel.hpp"
#include "kestrane/pipeline/PackageContents.hpp"

namespace kestrane::app {

void JobModel::setFootageProblem(std::optional<QString> problem) {
  sourceMissing_ = problem.has_value();
  sourceProblem_ = problem.value_or(QString());
}

void JobModel::takePackageFootage(const Pipeline::OpenedPackage& opened) {
  if (opened.footageChanged) return setFootageProblem(QString::fromStdString(*opened.footageChanged));
  if (opened.footageMissing) {
    return setFootageProblem(
        QStringLiteral("The source footage isn\u2019t at its stored location \u2014 reconnect "
                       "the drive (or move the file back) to play or re-cut."));
  }
  setFootageProblem(std::nullopt);
}

void JobModel::recheckPackageFootage() {
  if (!sourceMissing_ || lastSessionPath_.isEmpty()) return;
  try {
    takePackageFootage(Pipeline::openPackage(toPath(lastSessionPath_)));
  } catch (const std::exception&) {
    // The package can't be opened now; its footage stays as it was found.
  }
}

void JobModel::previewFootageAtItsPath() {
  // The editor's one video only: a batch's videos keep what its queue found of them.
  if (batch_.size() >= 2) return;
  if (const auto why = FootageFile::notRegular(footagePath_)) {
    stopAudition();
    return setFootageProblem(FootageFile::cantOpen(footagePath_, *why) +
                             QStringLiteral(" \u2014 put the footage back at that path to play or cut it."));
  }
}

}  // namespace kestrane::app
