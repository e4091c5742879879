#include "app/core/FileKinds.hpp"

#include <QFileInfo>

#include "kestrane/analysis/ScriptLoader.hpp"

namespace kestrane::app::FileKinds {

namespace {

std::string lowerSuffix(const QString& path) { return QFileInfo(path).suffix().toLower().toStdString(); }

}  // namespace

QString lastComponent(QString path) {
  while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
  return QFileInfo(path).fileName();
}

const std::set<std::string>& footageExtensions() {
  static const std::set<std::string> extensions{"mov", "mp4", "m4v", "mts", "m2ts", "avi",  "mkv",
                                                "mxf", "wav", "m4a", "mp3", "aif",  "aiff", "caf"};
  return extensions;
}

const std::set<std::string>& scriptExtensions() { return ScriptLoader::scriptExtensions(); }

bool isStoredCut(const QString& path) {
  const QString name = lastComponent(path);
  return name.endsWith(QStringLiteral(".kestrane.json")) || name.endsWith(QStringLiteral("Kestrane")) ||
         QFileInfo(name).suffix().toLower() == QStringLiteral("kestrane");
}

bool isFootage(const QString& path) { return footageExtensions().contains(lowerSuffix(path)); }

bool isScript(const QString& path) { return scriptExtensions().contains(lowerSuffix(path)); }

QString unsupportedFileMessage() {
  QStringList listed;
  for (const std::string& e : footageExtensions()) listed << QStringLiteral(".") + QString::fromStdString(e);
  return QStringLiteral("That doesn\u2019t look like footage \u2014 Kestrane takes ") +
         listed.join(QStringLiteral(", ")) + QStringLiteral(" (and a script as .txt, .md, .rtf or .pdf).");
}

QString baseName(const QString& path) { return QFileInfo(lastComponent(path)).completeBaseName(); }

}  // namespace kestrane::app::FileKinds
