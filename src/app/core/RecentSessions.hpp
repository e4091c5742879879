#pragma once
// The remembered session files, kept in the application's settings.
#include <QSettings>
#include <QString>
#include <QStringList>

namespace kestrane::app::RecentSessions {

inline constexpr const char* singleCutsKey = "recentSessions";
inline constexpr const char* lastBatchKey = "recentBatch";
inline constexpr int maxSingleCuts = 5;

// The stored list; anything else stored under the key reads as an empty list.
QStringList read(const QSettings& settings, const char* key);

// `path` moved (or added) to the front, without duplicates, at most `maxSingleCuts` long.
QStringList remembered(QStringList paths, const QString& path);

void write(QSettings& settings, const char* key, const QStringList& paths);

}  // namespace kestrane::app::RecentSessions
