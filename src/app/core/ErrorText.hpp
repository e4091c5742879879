#pragma once
// The message a failure shows the user: an error written for the user as it is, any other as
// the program's own fault.
#include <QString>
#include <QStringList>

#include <exception>

#include "app/core/Paths.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::app {

inline QString errorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const UserFacingError& e) {
    return QString::fromStdString(e.what());
  } catch (const std::exception& e) {
    return QStringLiteral("Internal error: ") + QString::fromStdString(e.what());
  } catch (...) {
    return QStringLiteral("Internal error");
  }
}

// What a failure left to tell besides its message, as the command line prints it: a rough cut
// that failed after its package was written gives the job's warnings, what became of the
// package and of the movie already in it, and where the package is. Nothing for any other.
inline QStringList failureNotes(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Pipeline::RoughCutFailed& e) {
    QStringList notes;
    for (const std::string& warning : e.warnings()) notes << QString::fromStdString(warning);
    for (const std::string& note : e.notes()) notes << QString::fromStdString(note);
    notes << QStringLiteral("Package: ") + fromPath(e.package());
    return notes;
  } catch (...) {
    return {};
  }
}

}  // namespace kestrane::app
