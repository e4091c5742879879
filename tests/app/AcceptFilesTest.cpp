// Files reaching the job model: what each kind of drop does, reopening stored packages, and what
// happens to the previous video's state.
#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AppTestSupport.hpp"
#include "app/core/FileKinds.hpp"
#include "app/core/PipelineEngine.hpp"
#include "kestrane/analysis/MediaProbe.hpp"

using namespace kestrane;
using namespace kestrane::app;
using namespace kestrane::app::test;

Q_DECLARE_METATYPE(kestrane::app::Screen)

namespace {

// A named pipe, watched for anything opening it to read. Such an opening waits for a writer: the
// watch is one, so the reader is let go (to the pipe's end at once) and counted, and a test that
// would hang fails.
class WatchedPipe {
 public:
  explicit WatchedPipe(const QString& path) : name_(QFile::encodeName(path)) {
    QVERIFY(::mkfifo(name_.constData(), 0600) == 0);
    watch_ = std::jthread([this](std::stop_token stop) {
      for (; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        if (const int fd = ::open(name_.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
          ++readers_;
          ::close(fd);
        }
      }
    });
  }
  int readers() const { return readers_; }

 private:
  QByteArray name_;
  std::atomic<int> readers_ = 0;
  std::jthread watch_;
};

}  // namespace

class AcceptFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void drops_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QString>("footage");
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("rejected");
    QTest::addColumn<Screen>("screen");
    QTest::newRow("video and script") << QStringList{"a.mov", "notes.pdf"} << "a.mov"
                                      << "notes.pdf" << false << Screen::configuring;
    QTest::newRow("upper-case extension") << QStringList{"a.MOV"} << "a.MOV"
                                          << "" << false << Screen::configuring;
    QTest::newRow("audio only") << QStringList{"voice.m4a"} << "voice.m4a"
                                << "" << false << Screen::configuring;
    QTest::newRow("script alone waits") << QStringList{"lines.fountain"} << ""
                                        << "lines.fountain" << false << Screen::idle;
    QTest::newRow("nothing usable") << QStringList{"photo.png"} << ""
                                    << "" << true << Screen::idle;
    QTest::newRow("usable before unusable") << QStringList{"a.mov", "photo.png"} << "a.mov"
                                            << "" << false << Screen::configuring;
    QTest::newRow("unusable before usable") << QStringList{"photo.png", "a.mov"} << "a.mov"
                                            << "" << false << Screen::configuring;
    QTest::newRow("session suffix in other case") << QStringList{"x.KESTRANE.json"} << ""
                                                  << "" << true << Screen::idle;
    QTest::newRow("empty drop") << QStringList{} << ""
                                << "" << false << Screen::idle;
  }

  void drops() {
    QFETCH(QStringList, dropped);
    QFETCH(QString, footage);
    QFETCH(QString, script);
    QFETCH(bool, rejected);
    QFETCH(Screen, screen);
    Harness h;
    QStringList paths;
    for (const QString& name : dropped) paths << h.path(name);
    h.job->accept(paths);
    QCOMPARE(h.job->footagePath(), footage.isEmpty() ? QString() : h.path(footage));
    QCOMPARE(h.job->scriptPath(), script.isEmpty() ? QString() : h.path(script));
    QCOMPARE(h.job->dropMessage().has_value(), rejected);
    QCOMPARE(h.job->state().screen, screen);
    if (!footage.isEmpty()) QCOMPARE(h.job->projectName(), QFileInfo(footage).completeBaseName());
  }

  void aCutOfUnusableInputsFailsAtOnceWithTheCommandLinesSentence() {
    Harness h;
    h.engine->checksInputs = true;
    const std::string missing = h.path("gone.mov").toStdString();
    h.job->accept({h.path("gone.mov")});
    h.job->start();
    QCOMPARE(h.job->state().screen, Screen::failed);
    QVERIFY2(h.job->state().message.startsWith(QString::fromStdString("Can't read media at " + missing + " \u2014 ")),
             qPrintable(h.job->state().message));

    // Readable footage with a script the engine can't read: the script's sentence.
    QFile footage(h.path("a.mov"));
    QVERIFY(footage.open(QIODevice::WriteOnly));
    footage.write("not empty");
    footage.close();
    h.job->reset();
    h.job->accept({h.path("a.mov"), h.path("lines.txt")});
    h.job->start();
    QCOMPARE(h.job->state().screen, Screen::failed);
    QCOMPARE(h.job->state().message,
             QString::fromStdString("No script at " + h.path("lines.txt").toStdString() + " \u2014 no such file."));
    QVERIFY(h.engine->runCalls().empty());
  }

  void theRejectionNamesWhatIsTaken() {
    QCOMPARE(FileKinds::unsupportedFileMessage(),
             QStringLiteral("That doesn\u2019t look like footage \u2014 Kestrane takes .aif, .aiff, .avi, .caf, "
                            ".m2ts, .m4a, .m4v, .mkv, .mov, .mp3, .mp4, .mts, .mxf, .wav (and a script as "
                            ".txt, .md, .rtf or .pdf)."));
    Harness h;
    h.job->accept({h.path("photo.png")});
    h.job->accept({});  // the next drop clears the complaint
    QVERIFY(!h.job->dropMessage());
  }

  void storedCutsAreReopened() {
    Harness h;
    const QString withMP4 = writeStoredCut(h.dir.path(), {.withMP4 = true});
    // Listed first, a package wins over the footage dropped with it.
    h.job->accept({withMP4, h.touch("other.mov")});
    QCOMPARE(h.job->state().screen, Screen::done);
    const Pipeline::Output& out = *h.job->state().output;
    QCOMPARE(out.fcpxmlURL.filename().string(), std::string("take 04.fcpxml"));
    QVERIFY(out.mp4URL && out.mp4URL->filename() == "take 04 rough cut.mp4");
    QVERIFY(!out.visualIdeasURL);
    QCOMPARE(h.job->footagePath(), h.path("take 04.mov"));
    QCOMPARE(h.job->projectName(), QStringLiteral("take 04"));
    QVERIFY(!h.job->isRecut());
    QCOMPARE(h.job->recentSessionPaths().front(), QDir(withMP4).filePath("take 04.kestrane.json"));

    // The session file itself, with its timeline gone: back to the options for a re-cut.
    const QString noTimeline = writeStoredCut(
        h.dir.path(), {.folder = "b Kestrane", .footage = "b.mov", .withTimeline = false, .projectName = "Bee"});
    h.job->reset();
    h.job->accept({QDir(noTimeline).filePath("b.kestrane.json")});
    QCOMPARE(h.job->state().screen, Screen::configuring);
    QVERIFY(h.job->isRecut());
    QCOMPARE(h.job->projectName(), QStringLiteral("Bee"));

    // A ".kestrane" folder counts as a package too; this one holds no session.
    QDir().mkpath(h.path("empty.kestrane"));
    h.job->accept({h.path("empty.kestrane")});
    QCOMPARE(h.job->state().message, QStringLiteral("No Kestrane session found in empty.kestrane"));

    QFile broken(h.path("c Kestrane/c.kestrane.json"));
    QDir().mkpath(h.path("c Kestrane"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{ not json");
    broken.close();
    h.job->openSession(h.path("c Kestrane"));
    QVERIFY(h.job->state().message.startsWith(QStringLiteral("Couldn't open session: ")));
  }

  void reopeningRestoresTheStoredChoices() {
    Harness h;
    StoredCut cut{.settings = PipelineSettings::make(-37, 0.5, 0.12, false),
                  .projectNotes = "Tighten the intro",
                  .withLevels = true};
    cut.settings.thoroughness = Thoroughness::meticulous;
    cut.settings.exportTarget = ExportTarget::premiere;
    cut.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
    h.job->openSession(writeStoredCut(h.dir.path(), cut));
    const JobModel& job = *h.job;
    QCOMPARE(job.silenceThreshold(), -37.0);  // kept even though the nearest preset differs
    QCOMPARE(job.tightness(), CutTightness::tight);
    QCOMPARE(job.thoroughness(), Thoroughness::balanced);
    QVERIFY(!job.removeFillers());
    QCOMPARE(job.exportTarget(), ExportTarget::premiere);
    QCOMPARE(job.manualRemovals(), (std::vector<TimeRange>{{1, 2}}));
    QCOMPARE(job.projectNotes(), QStringLiteral("Tighten the intro"));
    QCOMPARE(job.levelsDBFS().size(), size_t(75440));  // the whole 12:34 stored
    QVERIFY(h.footageLookedAt());
    QVERIFY(!job.sourceMissing());

    cut.settings = PipelineSettings::make(-40, 0.8, 0.2, true);
    cut.settings.thoroughness = Thoroughness::silencesOnly;
    cut.folder = "d Kestrane";
    cut.footage = "gone/d.mov";
    const QString folder = writeStoredCut(h.dir.path(), cut);
    QFile::remove(h.path("gone/d.mov"));
    h.job->openSession(folder);
    QCOMPARE(job.tightness(), CutTightness::natural);
    QCOMPARE(job.thoroughness(), Thoroughness::silencesOnly);
    QVERIFY(h.footageLookedAt());
    QVERIFY(job.sourceMissing());

    // A session file renamed by hand names none of the package's files: they keep the footage's
    // name, and the user's own files named after the session are none of the package's.
    const QString edited = writeStoredCut(h.dir.path(), {.folder = "e Kestrane", .footage = "e.mov"});
    QVERIFY(QFile::rename(edited + "/e.kestrane.json", edited + "/My edit.kestrane.json"));
    for (const char* mine : {"/My edit.fcpxml", "/My edit rough cut.mp4"}) {
      QFile file(edited + mine);
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    h.job->openSession(edited);
    QCOMPARE(job.state().screen, Screen::done);
    QCOMPARE(job.state().output->fcpxmlURL, toPath(edited + "/e.fcpxml"));
    QVERIFY(!job.state().output->mp4URL);
  }

  void anotherVideoStartsClean() {
    Harness h;
    StoredCut cut{
        .settings = PipelineSettings::make(-31, 0.8, 0.15, true), .projectNotes = "notes", .withLevels = true};
    cut.settings.manualKeepRanges = std::vector<TimeRange>{{3, 4}};
    cut.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
    const QString package = writeStoredCut(h.dir.path(), cut);

    auto expectClean = [&h] {
      QVERIFY(h.job->manualKeeps().empty() && h.job->manualRemovals().empty());
      QVERIFY(h.job->projectNotes().isEmpty());
      QVERIFY(!h.job->analysisTranscript());
      QCOMPARE(h.job->silenceThreshold(), -40.0);
      QVERIFY(!h.job->isRecut());
    };
    h.job->openSession(package);
    h.job->reset();
    expectClean();
    QVERIFY(h.job->levelsDBFS().empty());

    h.job->openSession(package);
    h.job->adjustAndRecut();
    h.engine->analysis.gate.close();
    h.job->accept({h.touch("next.mov")});  // straight from the options, without starting over
    expectClean();
    QVERIFY(h.job->levelsDBFS().empty());
    h.engine->analysis.gate.open();
  }

  void filesFromOutsideNeverDisturbARunningJob() {
    Harness h;
    h.engine->cut.gate.close();
    const QString footage = h.touch("a.mov");
    h.job->accept({footage});
    h.job->start();
    QCOMPARE(h.job->state().screen, Screen::running);
    const QString package = writeStoredCut(h.dir.path(), {});
    h.job->accept({h.touch("b.mov")});
    h.job->accept({package});
    h.job->openSession(package);
    QCOMPARE(h.job->state().screen, Screen::running);
    QCOMPARE(h.job->footagePath(), footage);
    h.engine->cut.gate.open();
    QVERIFY(h.waitFor(Screen::done));
    QCOMPARE(h.engine->runCalls().at(0).first.input.filename().string(), std::string("a.mov"));
  }

  void reopeningDropsAnAnalysisOfOtherFootage() {
    Harness h;
    h.engine->analysis.gate.close();
    h.job->accept({h.touch("a.mov")});
    QCOMPARE(h.job->preAnalysisState(), PreAnalysisState::working);
    // A session without levels of its own, so any levels shown would be the stale analysis's.
    h.job->openSession(writeStoredCut(h.dir.path(), {.withLevels = false}));
    QCOMPARE(h.job->preAnalysisState(), PreAnalysisState::none);
    h.engine->analysis.gate.open();
    QTest::qWait(100);
    QVERIFY(h.job->levelsDBFS().empty());
    QCOMPARE(h.job->preAnalysisState(), PreAnalysisState::none);
  }

  // Only a regular file is ever opened as footage: a named pipe dropped, at a reopened package's
  // footage path or put there while the window was behind others, is said to be no footage and
  // never opened (the opening would wait for a writer for good, and quitting with it), by the job
  // or by the audition's reader.
  void aPipeAtAFootagePathIsNeverOpened() {
    Harness h;
    std::optional<WatchedPipe> dropped, stored, retried;  // made before the job, so they outlive it
    auto job = std::make_unique<JobModel>(std::make_shared<PipelineEngine>(), h.settings());
    dropped.emplace(h.path("take.mov"));
    job->accept({h.path("take.mov")});
    QCOMPARE(job->dropMessage().value_or(""), "take.mov can\u2019t be opened as footage: it is not a regular file.");

    const QString package = writeStoredCut(h.dir.path(), {.withLevels = true});
    const QString footage = h.path("take 04.mov");
    QVERIFY(QFile::remove(footage));
    stored.emplace(footage);
    job->openSession(package);
    const auto lookedAt = [&job] { return waitUntil([&job] { return !job->lookingAtFootage(); }, 60000); };
    QVERIFY(lookedAt());
    QVERIFY(job->sourceMissing());
    QVERIFY2(job->sourceProblem().contains("it is not a regular file"), qPrintable(job->sourceProblem()));
    QVERIFY_THROWS_EXCEPTION(MediaProbe::ProbeError, decodeAuditionPcm(footage));

    job->openSession(writeStoredCut(h.dir.path(), {.folder = "b Kestrane", .footage = "b.mov"}));
    QVERIFY(lookedAt());
    QVERIFY(!job->sourceMissing());
    const QString take = h.path("b.mov");
    QVERIFY(QFile::remove(take));
    retried.emplace(take);
    job->lookAgainAtFootage();  // as the window does when it comes back to the front
    QVERIFY(lookedAt());
    QVERIFY2(
        job->sourceProblem().startsWith(take + " can\u2019t be opened as footage: it is not a regular file \u2014"),
        qPrintable(job->sourceProblem()));
    job.reset();  // as the window quits
    QCOMPARE(dropped->readers() + stored->readers() + retried->readers(), 0);
  }
};

QTEST_GUILESS_MAIN(AcceptFilesTest)
#include "AcceptFilesTest.moc"
