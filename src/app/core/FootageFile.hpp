#pragma once
// Whether what is at a footage path may be opened at all. Only a regular file is: opening a
// named pipe waits for a writer that may never come, holding the thread that opens it (and with
// it quitting), and a device never ends. Telling them apart takes a stat, which opens nothing.
#include <QString>

#include <optional>

namespace kestrane::app::FootageFile {

// Why what is at `path` is never opened as footage, in the engine's words ("it is not a regular
// file", "it is a folder"). None for a regular file, and none where nothing is at the path: each
// use of the footage says that in its own way.
std::optional<QString> notRegular(const QString& path);

// "<shown> can’t be opened as footage: <why>", the clause the sentences about it are made of.
QString cantOpen(const QString& shown, const QString& why);

}  // namespace kestrane::app::FootageFile
