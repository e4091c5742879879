#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "JobReport.hpp"
#include "cli/ProgramRun.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

struct Reported {
  int status = 0;
  std::string out;
};

// A re-cut with a rough cut, reported as the command reports it; `atRendered` runs once the
// movie is complete and before anything of it is placed.
Reported recutReported(const fs::path& session, CutTightness tightness, const std::function<void()>& atRendered,
                       std::stop_token stop = {}) {
  Pipeline::RecutRequest request = test::recutOf(session, tightness);
  request.renderMP4 = true;
  std::ostringstream out;
  cli::Console console(out, out);
  const cli::JobOutcome outcome = cli::runReported(
      [&](const Pipeline::ProgressCallback& report) {
        return Pipeline::recut(
            request,
            [&](const Pipeline::Stage& stage) {
              report(stage);
              if (stage == Pipeline::Stage::rendering && stage.fraction == 1.0) atRendered();
            },
            stop);
      },
      console);
  return {outcome.status, out.str()};
}

// Whether the session at `path` holds a cut at `tightness`: a re-cut's session has taken its
// place. Asked of what the session says, not of which file is there, since a file made after the
// earlier session went may be given its inode number again.
bool holdsCutAt(const fs::path& path, CutTightness tightness) {
  return std::abs(KestraneSession::read(path).settings.speechPadding - speechPadding(tightness)) < 1e-9;
}

}  // namespace

// A rough cut that can't be kept fails the job as a failed render does, naming the movie and
// saying how to render it later, and a stop heard as the last write starts ends the job as a
// stop. Either way no new movie is left half placed and the session names the movie there is.
TEST(RecutCommand, TheEndOfARunWithARoughCutSaysWhatReallyHappened) {
  test::MoviePackage p("talk", "Talk");
  const std::string package = p.package.string();
  int status = 0;

  // A folder where the movie goes: no session claims it as a movie, and no sentence does.
  std::string out = test::runShell("recut '" + package + "'", status);
  ASSERT_EQ(status, 0) << out;
  fs::create_directory(p.movie);
  out = test::runShell("recut '" + package + "'", status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_FALSE(KestraneSession::read(p.sessionFile).roughCutCutList);
  out = test::runShell("recut '" + package + "' --mp4", status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out.find("Kept the rough cut"), std::string::npos) << out;
  EXPECT_FALSE(KestraneSession::read(p.sessionFile).roughCutCutList);
  out = test::runShell("recut '" + package + "' --mp4 --tightness tight", status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("kestrane: Export failed: can't write " + p.movie.string() + " — Is a directory\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Rough cut not rendered — run kestrane recut '" + package + "' --mp4"), std::string::npos) << out;
  EXPECT_TRUE(fs::is_directory(p.movie));
  EXPECT_EQ(p.hiddenFiles(), 0);
  fs::remove(p.movie);

  out = test::runShell("recut '" + package + "' --mp4 --tightness tight", status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(fs::exists(p.movie));
  const std::string movie = test::readFile(p.movie);

  // Nor is a link or a FIFO there: a re-cut of the same cut leaves it as it is, and says nothing
  // of a rough cut.
  const fs::path elsewhere = p.root.path() / "elsewhere.mp4";
  fs::rename(p.movie, elsewhere);
  for (const fs::file_type type : {fs::file_type::symlink, fs::file_type::fifo}) {
    if (type == fs::file_type::symlink) {
      fs::create_symlink(elsewhere, p.movie);
    } else {
      ASSERT_EQ(::mkfifo(p.movie.c_str(), 0644), 0);
    }
    out = test::runShell("recut '" + package + "' --tightness tight", status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out.find("rough cut"), std::string::npos) << out;
    EXPECT_EQ(fs::symlink_status(p.movie).type(), type);
    EXPECT_FALSE(KestraneSession::read(p.sessionFile).roughCutCutList);
    fs::remove(p.movie);
  }
  // Put back, it is again the movie of the stored cut, as the run that made it left it.
  fs::rename(elsewhere, p.movie);
  test::vouchForMovie(p.sessionFile, p.movie);

  // A stop asked once the movie is rendered: the earlier movie, of this same cut, stays, and
  // the new one is gone.
  std::stop_source stopper;
  Reported stopped = recutReported(
      p.sessionFile, CutTightness::tight, [&] { stopper.request_stop(); }, stopper.get_token());
  EXPECT_EQ(stopped.status, cli::kExitCancelled) << stopped.out;
  EXPECT_NE(stopped.out.find("\nKept the rough cut of the earlier cut — it shows this same cut\n"), std::string::npos)
      << stopped.out;
  EXPECT_EQ(stopped.out.find("internal error"), std::string::npos) << stopped.out;
  EXPECT_TRUE(test::readFile(p.movie) == movie) << "the earlier movie, untouched";
  EXPECT_TRUE(KestraneSession::read(p.sessionFile).roughCutCutList);
  EXPECT_EQ(p.hiddenFiles(), 0);

  // Nothing more can be written once the movie of another cut is rendered (as on a full disk):
  // the job fails naming the movie, and the earlier movie stays with the session that names it.
  const int ended = test::inChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit full{0, limit.rlim_max};
    const Reported failed =
        recutReported(p.sessionFile, CutTightness::natural, [&] { ::setrlimit(RLIMIT_FSIZE, &full); });
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::ofstream(p.root.path() / "report.txt") << failed.out;
    std::fflush(nullptr);
    ::_exit(failed.status);
  });
  out = test::readFile(p.root.path() / "report.txt");
  ASSERT_TRUE(WIFEXITED(ended));
  EXPECT_EQ(WEXITSTATUS(ended), cli::kExitFailed) << out;
  EXPECT_NE(out.find("kestrane: Export failed: can't write " + p.movie.string() + " — Couldn't write " +
                     p.sessionFile.string() + " — File too large\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nKept the rough cut of the earlier cut — it shows the earlier cut, not this one\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Rough cut not rendered — run kestrane recut"), std::string::npos) << out;
  EXPECT_TRUE(test::readFile(p.movie) == movie) << "the earlier movie, untouched";
  const KestraneSession after = KestraneSession::read(p.sessionFile);
  EXPECT_DOUBLE_EQ(after.settings.speechPadding, speechPadding(CutTightness::natural)) << "the new cut's session";
  EXPECT_TRUE(after.roughCutCutList);
  EXPECT_EQ(p.hiddenFiles(), 0);
}

// A user's own file at the movie's name (the rough cut trimmed and saved under its name) is never
// deleted: a plain re-cut that changes the cut, and one that renders a new movie, set it aside in
// the package under a free name that says it is not this cut's movie, and say where it went.
TEST(RecutCommand, AUsersOwnFileAtTheMoviesNameIsSetAsideNeverDeleted) {
  test::MoviePackage p("talk", "Talk");
  const std::string package = p.package.string();
  int status = 0;
  std::string out = test::runShell("recut '" + package + "' --mp4 --tightness tight", status);
  ASSERT_EQ(status, 0) << out;
  const fs::path trimmed = p.root.path() / "trimmed.mp4";
  ASSERT_EQ(
      std::system(("ffmpeg -v error -y -i '" + p.movie.string() + "' -t 5 -c copy '" + trimmed.string() + "'").c_str()),
      0);
  const std::string own = test::readFile(trimmed);
  const auto saveOverTheMovie = [&] { fs::copy_file(trimmed, p.movie, fs::copy_options::overwrite_existing); };
  const auto setAside = [&](const std::string& as) {
    return "Warning: Set aside the file at talk rough cut.mp4 as " + as +
           " — nothing records which cut it shows, so it was kept rather than removed or replaced\n";
  };

  saveOverTheMovie();
  out = test::runShell("recut '" + package + "' --tightness natural", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(setAside("talk rough cut (not this cut).mp4")), std::string::npos) << out;
  EXPECT_EQ(out.find("Removed the rough cut"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(p.movie));
  EXPECT_TRUE(test::readFile(p.package / "talk rough cut (not this cut).mp4") == own) << "the user's file, kept";

  saveOverTheMovie();
  out = test::runShell("recut '" + package + "' --tightness tight --mp4", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(setAside("talk rough cut (not this cut 2).mp4")), std::string::npos) << out;
  EXPECT_TRUE(test::readFile(p.package / "talk rough cut (not this cut 2).mp4") == own) << "the user's file, kept";
  EXPECT_TRUE(test::readFile(p.package / "talk rough cut (not this cut).mp4") == own);
  EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(KestraneSession::read(p.sessionFile), p.movie)) << "this cut's movie";
  EXPECT_EQ(p.hiddenFiles(), 0);
}

// Sound recorded apart and muxed two seconds after its picture runs on past the picture: the
// first cut measures where the picture ends, and it and a re-cut render the movie, the last
// picture held under the sound that runs on.
TEST(RecutCommand, FootageWhoseSoundRunsPastItsPictureRenders) {
  test::TempDir root;
  const fs::path late = root.path() / "late.mp4";
  const std::string sample = test::sampleFootage().string();
  ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + sample + "' -itsoffset 2 -i '" + sample +
                         "' -map 0:v -map 1:a -c copy '" + late.string() + "'")
                            .c_str()),
            0);
  const fs::path package = root.path() / "late Kestrane.kestrane";
  const fs::path movie = package / "late rough cut.mp4";
  int status = 0;
  std::string out = test::runShell(
      "cut '" + late.string() + "' --tightness relaxed --mp4 --out '" + root.path().string() + "'", status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Rough cut: " + movie.string() + "\n"), std::string::npos) << out;
  const KestraneSession first = KestraneSession::read(package / "late.kestrane.json");
  ASSERT_TRUE(first.source.pictureEndSeconds);
  EXPECT_LT(*first.source.pictureEndSeconds, first.source.durationSeconds - 1.5);
  EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(first, movie));

  out = test::runShell("recut '" + package.string() + "' --mp4 --tightness natural", status);
  EXPECT_EQ(status, 0) << out;
  const KestraneSession recut = KestraneSession::read(package / "late.kestrane.json");
  EXPECT_DOUBLE_EQ(recut.settings.speechPadding, speechPadding(CutTightness::natural));
  EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(recut, movie));
}

// A stop heard while the run's last write is under way, with or without a rough cut, ends the
// run as a stop that names the package and says what it holds now, never as a finished run.
TEST(RecutCommand, AStopHeardAsTheLastWriteIsUnderWayIsAStopThatSaysWhatThePackageHolds) {
  if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held in a call on this machine";
  test::MoviePackage p("talk", "Talk");
  const std::string package = p.package.string();
  int status = 0;
  const std::string first = test::runShell("recut '" + package + "' --mp4", status);
  ASSERT_EQ(status, 0) << first;
  ASSERT_TRUE(fs::exists(p.movie));

  // Without a rough cut the last writes follow this cut's files taking their places and the
  // earlier cut's movie going: the program is held in the first of them.
  ASSERT_FALSE(holdsCutAt(p.sessionFile, CutTightness::tight));
  bool sent = false;
  test::ProgramRun run =
      test::runProgram({"recut", package, "--tightness", "tight"}, {}, {}, {}, [&](test::HeldProgram& program, int) {
        if (sent || !holdsCutAt(p.sessionFile, CutTightness::tight)) return;
        program.signal(SIGINT);
        sent = true;
      });
  ASSERT_TRUE(sent) << run.out << run.err;
  EXPECT_EQ(run.status, cli::kExitCancelled) << run.out << run.err;
  EXPECT_EQ(run.err, "Stopping…\nkestrane: The cut was cancelled.\n");
  EXPECT_NE(run.out.find("Warning: Removed the rough cut of the earlier cut — it no longer matches this one\n"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(
      run.out.ends_with("Wrote this cut's timelines, transcript, captions and session file into the "
                        "package\nPackage: " +
                        package + "\n"))
      << run.out;
  EXPECT_FALSE(fs::exists(p.movie));
  KestraneSession after = KestraneSession::read(p.sessionFile);
  EXPECT_DOUBLE_EQ(after.settings.speechPadding, speechPadding(CutTightness::tight));
  EXPECT_FALSE(after.roughCutCutList) << "the session claims no movie";
  EXPECT_EQ(p.hiddenFiles(), 0);

  // With a rough cut the last write moves the movie and the session into place together, under
  // a record of its own once this cut's other files are in place: a stop heard while they move
  // leaves both, and says so.
  sent = false;
  run = test::runProgram(
      {"recut", package, "--tightness", "natural", "--mp4"}, {}, {}, {}, [&](test::HeldProgram& program, int) {
        if (sent || !holdsCutAt(p.sessionFile, CutTightness::natural) || !fs::exists(p.package / ".kestrane.move"))
          return;
        program.signal(SIGINT);
        sent = true;
      });
  ASSERT_TRUE(sent) << run.out << run.err;
  EXPECT_EQ(run.status, cli::kExitCancelled) << run.out << run.err;
  EXPECT_EQ(run.err, "Stopping…\nkestrane: The cut was cancelled.\n");
  EXPECT_TRUE(
      run.out.ends_with("Wrote this cut's timelines, transcript, captions, session file and rough cut into "
                        "the package\nPackage: " +
                        package + "\n"))
      << run.out;
  ASSERT_TRUE(fs::exists(p.movie));
  after = KestraneSession::read(p.sessionFile);
  EXPECT_DOUBLE_EQ(after.settings.speechPadding, speechPadding(CutTightness::natural));
  ASSERT_TRUE(after.roughCutCutList);
  EXPECT_EQ(after.roughCutCutList->segments, after.cutList->segments);
  EXPECT_EQ(p.hiddenFiles(), 0);
}

// A session file the user renamed is the one a re-cut writes, so the package keeps one.
TEST(RecutCommand, ARecutWritesTheSessionFileItWasGiven) {
  test::StoredPackage stored;
  const fs::path renamed = stored.package / "my-edit.kestrane.json";
  fs::rename(stored.sessionFile, renamed);
  int status = 0;
  for (const char* tightness : {"tight", "natural"}) {
    const std::string out = test::runShell("recut '" + stored.package.string() + "' --tightness " + tightness, status);
    EXPECT_EQ(status, 0) << tightness << out;
    EXPECT_FALSE(fs::exists(stored.sessionFile)) << tightness;
  }
  EXPECT_DOUBLE_EQ(KestraneSession::read(renamed).settings.speechPadding, speechPadding(CutTightness::natural));
  EXPECT_TRUE(fs::exists(stored.package / "talk.fcpxml"));
}
