#pragma once
// Tells when the file at the footage's path changes on disk while the window shows it: written,
// grown, cut short, replaced by a rename over it, removed or put back. The window then looks at
// it again at once, not only when it next comes to the front. A file written on and on (a
// recorder still taking) is told of once its writes pause, and at least every few seconds.
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace kestrane::app {

class FootageWatch : public QObject {
  Q_OBJECT

 public:
  explicit FootageWatch(QObject* parent = nullptr);

  // Watches `path` from now on; empty: nothing. The same path again changes nothing.
  void watch(const QString& path);

 signals:
  void changed();

 private:
  // Which file is at the path, in which state; all zero when none is.
  struct Seen {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const Seen&) const = default;
  };
  static Seen seenAt(const QString& path);
  void noticed();
  void settle();
  // The file itself is watched while it is there; its folder always, for a file put there.
  void watchFile();

  QFileSystemWatcher watcher_;
  QString path_;
  Seen seen_;
  QTimer quiet_;
  QTimer longest_;
};

}  // namespace kestrane::app
