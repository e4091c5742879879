// SIGTERM, SIGHUP and SIGINT end the application as closing its window does: the job stops and takes
// its unfinished package and scratch files with it. The program also sweeps, as it starts, the
// scratch files of runs that ended without that chance.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/core/JobModel.hpp"
#include "app/core/Paths.hpp"
#include "app/core/PipelineEngine.hpp"
#include "app/core/QuitSignals.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

using namespace kestrane;
using namespace kestrane::app;
namespace fs = std::filesystem;

namespace {

// The real engine, which gets a termination signal as it starts writing the package and goes
// on only once the application has asked the job to stop, so the job can't finish first.
class KilledWhileWriting final : public EngineApi {
 public:
  Pipeline::Analysis analyze(const fs::path& input, const Pipeline::ProgressCallback& progress,
                             std::stop_token stop) override {
    return engine_.analyze(input, progress, std::move(stop));
  }
  Pipeline::Output run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                       const Pipeline::ProgressCallback& progress, std::stop_token stop) override {
    return engine_.run(
        request, prepared,
        [this, progress, stop](const Pipeline::Stage& stage) {
          if (progress) progress(stage);
          if (stage != Pipeline::Stage::exporting || signalled.exchange(true)) return;
          ::raise(SIGTERM);
          // However long the application takes to get to it on a busy machine.
          std::mutex waiting;
          std::unique_lock lock(waiting);
          std::condition_variable_any().wait(lock, stop, [] { return false; });
        },
        stop);
  }
  Pipeline::Output recut(const Pipeline::RecutRequest& request, const Pipeline::ProgressCallback& progress,
                         std::stop_token stop) override {
    return engine_.recut(request, progress, std::move(stop));
  }
  void ensureSpeechModel() override {}

  std::atomic<bool> signalled = false;

 private:
  PipelineEngine engine_;
};

// This process's scratch audio left in the temporary folder.
int scratchAudioFiles() {
  const std::string prefix = platform::ScratchFiles::namePrefix("audio");
  int n = 0;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
    n += e.path().filename().string().starts_with(prefix);
  return n;
}

// Whether the kernel lists `signal` among the process's signals of one kind (`field`, "SigCgt:"
// for those it has a handler of its own in place for, "SigIgn:" for those it ignores).
bool listed(pid_t pid, const std::string& field, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return (std::stoull(line.substr(field.size()), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

bool catches(pid_t pid, int signal) { return listed(pid, "SigCgt:", signal); }

// Ends the program it names if it is still running when the test leaves.
struct Reaper {
  pid_t pid;
  ~Reaper() {
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

}  // namespace

class QuitSignalsTest : public QObject {
  Q_OBJECT

 private slots:
  void aTerminationWhileThePackageIsWrittenLeavesNoHalfPackage() {
    QTemporaryDir dir;
    const QString footage = dir.filePath("sample-presenter.mp4");
    QVERIFY(QFile::copy(KESTRANE_SOURCE_DIR "/fixtures/sample-presenter.mp4", footage));
    auto engine = std::make_shared<KilledWhileWriting>();
    auto job = std::make_unique<JobModel>(
        engine, std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat));
    bool quit = false;
    // As the application does: the signal closes the window, and the job goes with it.
    QuitSignals quitSignals([&] {
      quit = true;
      job.reset();
    });
    job->accept({footage});
    QTRY_COMPARE_WITH_TIMEOUT(job->preAnalysisState(), PreAnalysisState::ready, 300000);
    job->start();
    QTRY_VERIFY_WITH_TIMEOUT(quit, 300000);
    QVERIFY(engine->signalled);

    for (const QString& name : QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
      QVERIFY2(name == "sample-presenter.mp4" || name == "settings.ini", qPrintable(name));
    }
    QCOMPARE(scratchAudioFiles(), 0);
  }

  void theProgramSweepsAtStartAndQuitsCleanlyOnTerminationHangUpAndInterrupt() {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
      QTemporaryDir tmp;
      const pid_t gone = ::fork();
      if (gone == 0) ::_exit(0);
      ::waitpid(gone, nullptr, 0);
      const fs::path orphan =
          toPath(tmp.path()) / ("kestrane-audio-" + std::to_string(gone) + "-6F1C0A2B-1D3E-4F5A-8B7C-0123456789AB.wav");
      std::ofstream(orphan) << "left by a run that was killed";

      const pid_t app = ::fork();
      if (app == 0) {
        ::setenv("TMPDIR", tmp.path().toLocal8Bit().constData(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(KESTRANE_APP, KESTRANE_APP, static_cast<char*>(nullptr));
        ::_exit(127);
      }
      // Never left running, however the checks below end.
      const Reaper reaper{app};
      QTRY_VERIFY_WITH_TIMEOUT(!fs::exists(orphan), 60000);
      // A signal before the program's handler is in place would find the default action; one
      // after it waits in the handler's pipe until the event loop runs.
      QTRY_VERIFY_WITH_TIMEOUT(catches(app, signal), 60000);
      ::kill(app, signal);
      int status = 0;
      bool ended = false;
      QTRY_VERIFY_WITH_TIMEOUT(ended = ended || ::waitpid(app, &status, WNOHANG) == app, 60000);
      QVERIFY2(WIFEXITED(status), "ended by the signal instead of quitting");
      QCOMPARE(WEXITSTATUS(status), 0);
    }
  }

  // Started under nohup from a script's background job, the program keeps ignoring the hang-up and
  // Ctrl-C, while it runs and after it has stopped listening, and still quits on a termination.
  void signalsIgnoredAtStartStayIgnored() {
    const pid_t app = ::fork();
    if (app == 0) {
      ::signal(SIGHUP, SIG_IGN);
      ::signal(SIGINT, SIG_IGN);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::execl(KESTRANE_APP, KESTRANE_APP, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const Reaper reaper{app};
    QTRY_VERIFY_WITH_TIMEOUT(catches(app, SIGTERM), 60000);
    for (int signal : {SIGHUP, SIGINT}) {
      QVERIFY2(listed(app, "SigIgn:", signal) && !catches(app, signal), strsignal(signal));
    }
    ::kill(app, SIGTERM);
    int status = 0;
    bool ended = false;
    QTRY_VERIFY_WITH_TIMEOUT(ended = ended || ::waitpid(app, &status, WNOHANG) == app, 60000);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);

    struct sigaction before {};
    ::sigaction(SIGHUP, nullptr, &before);
    ::signal(SIGHUP, SIG_IGN);
    {
      const QuitSignals listening([] {});
    }
    struct sigaction after {};
    ::sigaction(SIGHUP, &before, &after);
    QVERIFY2(after.sa_handler == SIG_IGN, "still ignored once the application stops listening");
  }
};

QTEST_MAIN(QuitSignalsTest)
#include "QuitSignalsTest.moc"
