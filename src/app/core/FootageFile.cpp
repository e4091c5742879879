#include "app/core/FootageFile.hpp"

#include <QFile>
#include <sys/stat.h>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::app::FootageFile {

std::optional<QString> notRegular(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat status {};
  if (::stat(name.constData(), &status) != 0 || S_ISREG(status.st_mode)) return std::nullopt;
  const std::optional<std::string> why = platform::MediaFile::problemAt(name.toStdString());
  return QString::fromStdString(why.value_or("it is not a regular file"));
}

QString cantOpen(const QString& shown, const QString& why) {
  return QStringLiteral("%1 can\u2019t be opened as footage: %2").arg(shown, why);
}

}  // namespace kestrane::app::FootageFile
