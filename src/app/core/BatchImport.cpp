#include "app/core/BatchImport.hpp"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "app/core/FileKinds.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/model/AtomicFile.hpp"

namespace kestrane::app::BatchImport {

QString folder() { return QDir(QDir::tempPath()).filePath(QStringLiteral("Kestrane Imports")); }

QString fileName(const QDateTime& now) {
  QString stamp = now.toUTC().toString(Qt::ISODate);
  stamp.replace(QLatin1Char(':'), QLatin1Char('-'));
  return QStringLiteral("Kestrane Batch Import ") + stamp + QStringLiteral(".fcpxml");
}

FCPXMLWriter::BatchProject project(const KestraneSession& session) {
  FCPXMLWriter::BatchProject p;
  p.source = session.source;
  p.cutList = session.cutList.value_or(CutList{});
  if (session.settings.resolvedEmbedCaptions() && session.transcript) {
    const auto length = session.settings.resolvedSubtitleLength();
    p.captions = TranscriptExporter::cues(*session.transcript, p.cutList,
                                          TranscriptExporter::maxLineDuration(length),
                                          TranscriptExporter::maxWordsPerCue(length));
  }
  std::string name = session.projectName.value_or("");
  if (name.empty()) name = FileKinds::baseName(fromPath(session.source.path)).toStdString();
  p.projectName = name + " \u2014 Kestrane";
  p.editorNotes = session.editorNotes.value_or(std::vector<Advisory>{});
  return p;
}

void prune(const QString& dir, const QDateTime& now) {
  const QDateTime cutoff = now.addSecs(-keepSeconds);
  const QFileInfoList entries = QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot);
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

QString write(const std::vector<Pipeline::Output>& outputs, const QString& dir,
              const QDateTime& now) {
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
