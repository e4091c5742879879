#pragma once
// File paths cross between Qt text and the engine's paths byte for byte, so names that are not
// valid UTF-8 survive the round trip.
#include <QFile>
#include <QString>

#include <filesystem>

namespace kestrane::app {

inline std::filesystem::path toPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

inline QString fromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

}  // namespace kestrane::app
