#include "app/core/FootageWatch.hpp"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace kestrane::app {

namespace {

// A burst of writes (a copy, an editor saving) is told of once it has paused this long.
constexpr int kQuietMs = 300;
// Writes that never pause are told of this often.
constexpr int kLongestMs = 2000;

}  // namespace

FootageWatch::FootageWatch(QObject* parent) : QObject(parent) {
  quiet_.setSingleShot(true);
  quiet_.setInterval(kQuietMs);
  longest_.setSingleShot(true);
  longest_.setInterval(kLongestMs);
  connect(&quiet_, &QTimer::timeout, this, &FootageWatch::settle);
  connect(&longest_, &QTimer::timeout, this, &FootageWatch::settle);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { noticed(); });
  // Anything in the folder changes it; only a change of the file at the path counts.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (seenAt(path_) != seen_) noticed();
  });
}

FootageWatch::Seen FootageWatch::seenAt(const QString& path) {
  struct stat st {};
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

void FootageWatch::watch(const QString& path) {
  if (path == path_) return;
  quiet_.stop();
  longest_.stop();
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  path_ = path;
  seen_ = seenAt(path_);
  if (path_.isEmpty()) return;
  watcher_.addPath(QFileInfo(path_).absolutePath());
  watchFile();
}

void FootageWatch::watchFile() {
  // A file renamed over or removed is no longer watched by its name: the one there now is.
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (QFileInfo::exists(path_)) watcher_.addPath(path_);
}

void FootageWatch::noticed() {
  quiet_.start();
  if (!longest_.isActive()) longest_.start();
}

void FootageWatch::settle() {
  quiet_.stop();
  longest_.stop();
  watchFile();
  const Seen now = seenAt(path_);
  if (now == seen_) return;
  seen_ = now;
  emit changed();
}

}  // namespace kestrane::app
