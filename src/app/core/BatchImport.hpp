#pragma once
// One timeline file holding every finished cut of a batch, so the editor imports them at once.
// Files are written to a private folder of their own in the temporary folder; an hour later they go.
#include <QDateTime>
#include <QString>

#include <vector>

#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app::BatchImport {

// Thrown when the batch has no finished cut, or the file cannot be written.
class ImportError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
};

inline constexpr int keepSeconds = 3600;

// The folder the files go to: "Kestrane Imports" in the temporary folder.
QString folder();

// "Kestrane Batch Import <UTC time, ISO 8601, ':' as '-'>.fcpxml"
QString fileName(const QDateTime& now);

// The project one finished cut brings into the combined timeline, with its captions when the
// session kept them on.
FCPXMLWriter::BatchProject project(const KestraneSession& session);

// Writes the combined timeline of `outputs` into `dir` and returns the file's path. `dir` is
// made private when missing and refused when it is a link or another user's; the files written
// there earlier, last modified more than keepSeconds before `now`, go first.
QString write(const std::vector<Pipeline::Output>& outputs, const QString& dir, const QDateTime& now);

}  // namespace kestrane::app::BatchImport
