// Whether the footage in the editor can be used: a package's footage as opening it found it,
// looked at again once the user may have put it back, and the file a failed cut is tried again
// on, which may be another recording by now.
#include "app/core/FootageFile.hpp"
#include "app/core/JobModel.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
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
  if (sourceMissing_) return;
  if (footageReplaced()) {
    // Another recording: nothing of the one analysed applies to it, and no package is of it yet.
    forgetFootage();
    cancelPreAnalysis();
    isRecut_ = sessionHasScript_ = dropStoredScript_ = false;
    lastSessionPath_.clear();
    storedProjectName_.clear();
  } else if (draftInput_ || preAnalysisState_ == PreAnalysisState::working) {
    return;
  } else {
    // Nothing of it is shown (its analysis failed, or the package stored none): read it again.
    cancelPreAnalysis();
  }
  startPreAnalysis(footagePath_);
}

bool JobModel::footageReplaced() const {
  if (!draftInput_) return false;
  // The analysis shown, held against the file at the path as a package's session is.
  KestraneSession analysed;
  analysed.source = draftInput_->source;
  analysed.source.path = toPath(footagePath_).string();
  analysed.levels = draftInput_->levels;
  try {
    return Pipeline::footageChange(analysed).has_value();
  } catch (const std::exception&) {
    return false;  // the cut says what it finds
  }
}

}  // namespace kestrane::app
