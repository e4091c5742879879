#include "app/views/DesktopWorkspace.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "app/core/FileKinds.hpp"

namespace kestrane::app {

namespace {

// Name filters are case-sensitive here, so each extension is offered in both cases.
QString patternsOf(const std::set<std::string>& extensions) {
  QStringList patterns;
  for (const std::string& e : extensions) {
    const QString ext = QString::fromStdString(e);
    patterns << QStringLiteral("*.") + ext << QStringLiteral("*.") + ext.toUpper();
  }
  return patterns.join(u' ');
}

}  // namespace

void DesktopWorkspace::open(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void DesktopWorkspace::reveal(const QString& path) {
  const QString parent = QFileInfo(path).absolutePath();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(parent));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  // Asynchronous, so a file manager that is slow to start never holds up the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [parent](QDBusPendingCallWatcher* w) {
    if (w->isError()) QDesktopServices::openUrl(QUrl::fromLocalFile(parent));
    w->deleteLater();
  });
}

QStringList QtFileDialogs::chooseFootage() {
  return QFileDialog::getOpenFileNames(parent_, QStringLiteral("Pick one video, or several to cut them as a batch"),
                                       QString(),
                                       QStringLiteral("Footage (%1)").arg(patternsOf(FileKinds::footageExtensions())),
                                       nullptr, QFileDialog::DontUseNativeDialog);
}

QString QtFileDialogs::chooseScript() {
  return QFileDialog::getOpenFileName(parent_, QString(), QString(),
                                      QStringLiteral("Scripts (%1)").arg(patternsOf(FileKinds::scriptExtensions())),
                                      nullptr, QFileDialog::DontUseNativeDialog);
}

QString QtFileDialogs::choosePreviousCut() {
  return QFileDialog::getOpenFileName(
      parent_, QStringLiteral("Pick a \u201c\u2026 Kestrane\u201d package or its .kestrane.json"), QString(),
      QStringLiteral("Kestrane sessions (*.kestrane.json)"), nullptr, QFileDialog::DontUseNativeDialog);
}

}  // namespace kestrane::app
