#include "app/core/BatchImport.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include "app/core/FileKinds.hpp"
#include "app/core/Paths.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/TimelineDocument.hpp"

namespace kestrane::app::BatchImport {

namespace {

const QString namePrefix = QStringLiteral("Kestrane Batch Import ");
const QString nameSuffix = QStringLiteral(".fcpxml");

// A descriptor that is closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void refuse(const QString& dir, const char* why) {
  throw ImportError("Couldn't use the folder " + dir.toStdString() + ": " + why);
}

// A timeline of ours, or what an atomic write leaves beside one when the program ends halfway.
bool writtenHere(const char* name) {
  const QString decoded = QFile::decodeName(name);
  return (decoded.startsWith(namePrefix) && decoded.endsWith(nameSuffix)) || AtomicFile::isAsideName(name);
}

[[noreturn]] void notCreated(const QString& dir, int error) {
  throw ImportError("Couldn't create the folder " + dir.toStdString() + ": " + std::strerror(error));
}

// The folder lies in a temporary folder every user can write to, so someone else could have put
// a link or a folder of their own there first: only a real folder of this user's is used, and it
// is kept private.
Descriptor openOwnFolder(const QString& dir) {
  const QByteArray path = QFile::encodeName(dir);
  if (!QDir().mkpath(QFileInfo(dir).absolutePath())) notCreated(dir, errno);
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) notCreated(dir, errno);
  Descriptor folder(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) {
    const int error = errno;
    struct stat entry {};
    if (::lstat(path.constData(), &entry) == 0 && S_ISLNK(entry.st_mode)) refuse(dir, "it is a link");
    notCreated(dir, error);
  }
  struct stat facts {};
  if (::fstat(folder.get(), &facts) != 0) refuse(dir, std::strerror(errno));
  if (facts.st_uid != ::geteuid()) refuse(dir, "it belongs to another user");
  // Made by an earlier version with the usual permissions.
  if ((facts.st_mode & 077) != 0 && ::fchmod(folder.get(), 0700) != 0) refuse(dir, std::strerror(errno));
  return folder;
}

// Removes the files this program wrote into `folder` that were last modified before `cutoff`;
// anything else there (links, folders, other names) is left, as is what cannot be removed.
void prune(const Descriptor& folder, const QDateTime& cutoff) {
  const int listed = ::dup(folder.get());
  if (listed < 0) return;
  DIR* entries = ::fdopendir(listed);
  if (!entries) {
    ::close(listed);
    return;
  }
  while (const dirent* entry = ::readdir(entries)) {
    if (!writtenHere(entry->d_name)) continue;
    struct stat facts {};
    if (::fstatat(folder.get(), entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(facts.st_mode)) continue;
    const qint64 modified = qint64(facts.st_mtim.tv_sec) * 1000 + facts.st_mtim.tv_nsec / 1000000;
    if (modified < cutoff.toMSecsSinceEpoch()) ::unlinkat(folder.get(), entry->d_name, 0);
  }
  ::closedir(entries);
}

}  // namespace

QString folder() { return QDir(QDir::tempPath()).filePath(QStringLiteral("Kestrane Imports")); }

QString fileName(const QDateTime& now) {
  QString stamp = now.toUTC().toString(Qt::ISODate);
  stamp.replace(QLatin1Char(':'), QLatin1Char('-'));
  return namePrefix + stamp + nameSuffix;
}

FCPXMLWriter::BatchProject project(const KestraneSession& session) {
  std::string name = session.projectName.value_or("");
  if (name.empty()) name = FileKinds::baseName(fromPath(session.source.path)).toStdString();
  return Pipeline::timelineProject(session, session.cutList.value_or(CutList{}),
                                   session.editorNotes.value_or(std::vector<Advisory>{}), name);
}

QString write(const std::vector<Pipeline::Output>& outputs, const QString& dir, const QDateTime& now) {
  if (outputs.empty()) throw ImportError("No finished cuts to import.");
  std::vector<FCPXMLWriter::BatchProject> projects;
  projects.reserve(outputs.size());
  for (const Pipeline::Output& output : outputs) projects.push_back(project(output.session));
  const std::string text = FCPXMLWriter::batchFcpxml(projects, "Kestrane Batch");

  const Descriptor own = openOwnFolder(dir);
  prune(own, now.addSecs(-keepSeconds));
  const QString path = QDir(dir).filePath(fileName(now));
  AtomicFile::write(toPath(path), text);
  return path;
}

}  // namespace kestrane::app::BatchImport
