#include "app/core/RecentSessions.hpp"

namespace kestrane::app::RecentSessions {

QStringList read(const QSettings& settings, const char* key) {
  const QVariant value = settings.value(QLatin1String(key));
  switch (value.typeId()) {
    case QMetaType::QStringList: return value.toStringList();
    case QMetaType::QString:
      // The settings file stores a one-element list as a plain text.
      return value.toString().isEmpty() ? QStringList{} : QStringList{value.toString()};
    case QMetaType::QVariantList: {
      QStringList paths;
      for (const QVariant& item : value.toList()) {
        if (item.typeId() != QMetaType::QString) return {};
        paths << item.toString();
      }
      return paths;
    }
    default: return {};
  }
}

QStringList remembered(QStringList paths, const QString& path) {
  paths.removeAll(path);
  paths.prepend(path);
  while (paths.size() > maxSingleCuts) paths.removeLast();
  return paths;
}

void write(QSettings& settings, const char* key, const QStringList& paths) {
  settings.setValue(QLatin1String(key), paths);
}

}  // namespace kestrane::app::RecentSessions
