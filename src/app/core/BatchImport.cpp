#include "app/core/BatchImport.hpp"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "app/core/FileKinds.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/pipeline/TimelineDocument.hpp"
#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::app::BatchImport {

QString folder() { return QDir(QDir::tempPath()).filePath(QStringLiteral("Kestrane Imports")); }

QString fileName(const QDateTime& now) {
  QString stamp = now.toUTC().toString(Qt::ISODate);
  stamp.replace(QLatin1Char(':'), QLatin1Char('-'));
  return QStringLiteral("Kestrane Batch Import ") + stamp + QStringLiteral(".fcpxml");
}

FCPXMLWriter::BatchProject project(const KestraneSession& session) {
  std::string name = session.projectName.value_or("");
  if (name.empty()) name = FileKinds::baseName(fromPath(session.source.path)).toStdString();
  return Pipeline::timelineProject(session, session.cutList.value_or(CutList{}),
                                   session.editorNotes.value_or(std::vector<Advisory>{}), name);
}

void prune(const QString& dir, const QDateTime& now) {
  const QDateTime cutoff = now.addSecs(-keepSeconds);
  const QFileInfoList entries =
      QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  for (const QFileInfo& entry : entries) {
    const QDateTime modified = entry.lastModified();
    // A date that cannot be read counts as long ago.
    if (modified.isValid() && modified >= cutoff) continue;
    if (entry.isDir() && !entry.isSymLink()) {
      QDir(entry.filePath()).removeRecursively();
    } else {
      QFile::remove(entry.filePath());
    }
  }
}

QString write(const std::vector<Pipeline::Output>& outputs, const QString& dir, const QDateTime& now) {
  if (outputs.empty()) throw ImportError("No finished cuts to import.");
  std::vector<FCPXMLWriter::BatchProject> projects;
  projects.reserve(outputs.size());
  for (const Pipeline::Output& output : outputs) projects.push_back(project(output.session));
  const std::string text = FCPXMLWriter::batchFcpxml(projects, "Kestrane Batch");

  if (!QDir().mkpath(dir)) throw ImportError("Couldn't create the folder " + dir.toStdString());
  prune(dir, now);
  const QString path = QDir(dir).filePath(fileName(now));
  AtomicFile::write(toPath(path), text);
  return path;
}

}  // namespace kestrane::app::BatchImport
