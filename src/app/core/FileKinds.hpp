#pragma once
// What a file given to the application is: footage, a script, a stored cut, or nothing usable.
#include <QString>
#include <QStringList>

#include <set>
#include <string>

namespace kestrane::app::FileKinds {

// Lower-case extensions without the dot.
const std::set<std::string>& footageExtensions();
const std::set<std::string>& scriptExtensions();

// A session file ("….kestrane.json"), a package folder ("… Kestrane") or a ".kestrane" folder.
// The name tests are case-sensitive; the extension test is not.
bool isStoredCut(const QString& path);
bool isFootage(const QString& path);
bool isScript(const QString& path);

// Shown when nothing dropped or chosen could be used.
QString unsupportedFileMessage();

// The last component of a path, a trailing slash ignored.
QString lastComponent(QString path);

// The file's name without its last extension: "take 04.mov" gives "take 04".
QString baseName(const QString& path);

}  // namespace kestrane::app::FileKinds
