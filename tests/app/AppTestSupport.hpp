#pragma once
// Shared pieces of the application tests: a model over a scripted engine with private settings,
// and packages of earlier cuts written into a temporary folder.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "FakeEngine.hpp"
#include "app/core/JobModel.hpp"
#include "app/core/Workspace.hpp"
#include "app/views/MainWindow.hpp"

namespace kestrane::app::test {

// Runs the event loop until `done` holds; false after `timeoutMs`.
template <class F>
bool waitUntil(F done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A model over a fake engine whose recent sessions live in the temporary folder.
struct Harness {
  QTemporaryDir dir;
  std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
  std::unique_ptr<JobModel> job;

  Harness();
  ~Harness();
  QString path(const QString& name) const { return dir.filePath(name); }
  std::unique_ptr<QSettings> settings() const;
  // A new model over the same engine and settings.
  void remake();
  // Makes an empty file (and its folders).
  QString touch(const QString& name) const;
  // Runs the event loop until the screen is `screen`; false after `timeoutMs`.
  bool waitFor(Screen screen, int timeoutMs = 5000);
  // Runs the event loop until no look at the footage is under way (hearing a real file can take
  // a while on a busy machine); false after `timeoutMs`.
  bool footageLookedAt(int timeoutMs = 60000);
};

// A desktop that opens nothing and whose dialogs are always cancelled.
struct NoDesktop final : Workspace, FileDialogs {
  void open(const QString&) override {}
  void reveal(const QString&) override {}
  QStringList chooseFootage() override { return {}; }
  QString choosePreviousCut() override { return {}; }
  QString chooseScript() override { return {}; }
};

// The main window over a harness and `Desktop`, shown and active; widgets are found by name.
template <class Desktop>
struct ShownWindow {
  Harness h;
  Desktop desktop;
  MainWindow window{{h.job.get(), &desktop, &desktop}};
  ShownWindow() {
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
  }
  template <class T = QWidget>
  T* find(const char* name) const {
    return window.findChild<T*>(QString::fromLatin1(name));
  }
  QString text(const char* name) const { return find<QLabel>(name)->text(); }
  void click(const char* name) const { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
  // Screens that were left are gone, so names find the screen shown.
  static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

// What a stored package holds, for writing fixtures.
struct StoredCut {
  QString folder = QStringLiteral("take 04 Kestrane");
  QString footage = QStringLiteral("take 04.mov");
  bool withCutList = true;
  bool withTimeline = true;
  bool withMP4 = false;
  PipelineSettings settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  std::optional<std::string> projectName;
  std::optional<std::string> projectNotes;
  bool withLevels = true;  // every session a cut writes stores them
  // The footage's length, and the levels of its sound, hop by hop at 0.01 s (none: a second of
  // speech between two quiet ones).
  double seconds = 754.4;
  std::vector<float> levels;
  std::optional<std::string> script;
  // The cut the movie shows, as the session records it; none: not recorded.
  std::optional<CutList> roughCutCutList;
  // With a recorded cut, the session names the movie file as the run that made it does; off,
  // as an earlier build wrote it, without.
  bool movieIdentity = true;
};

// Writes the package under `root` (and the footage beside it); returns the package folder.
QString writeStoredCut(const QString& root, const StoredCut& cut);

// How the sound of an earlier build's package's footage lies on the file's clock: starting 0.18 s
// after the picture, or losing five sound packets (0.107 s) at 0:02.
enum class EarlierSound { startsLate, dropsOut };
inline constexpr double kLateSoundSeconds = 0.18;
inline constexpr double kDropoutAt = 2.0, kDropoutSeconds = 5 * 1024 / 48000.0;

// Writes under `root` a package as an earlier build cut it: 6 s of speech-like footage whose
// sound lies as `sound` says, its times and levels counted by samples from the first and no
// clock named, one hand edit cutting 3.0–3.5 s. Returns the package folder.
QString writeEarlierBuildsCut(const QString& root, EarlierSound sound);

// Another recording saved at `path`, in place of whatever was there: 12 s of a 640×360 test card
// at 25 fps with a tone.
bool recordOtherFootage(const QString& path);

}  // namespace kestrane::app::test
