// Ctrl-C at each stage of `kestrane cut`: acknowledged at once, and what is left afterwards.
#include <gtest/gtest.h>

#include "JobReport.hpp"
#include "TerminalText.hpp"
#include "cli/ProgramRun.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

struct Interrupted {
  test::ProgramRun run;
  fs::path package;  // where the package would be
  bool sent = false;
};

// Cuts the sample into `out`, sending the signals (SIGINT unless told) while the program is held
// at its stage's line. The program starts with the signals `ignored` ignored.
Interrupted interruptAt(const std::string& stage, const fs::path& out, bool mp4,
                        const std::vector<int>& signals = {SIGINT}, const std::vector<int>& ignored = {}) {
  std::vector<std::string> args{"cut", test::sampleFootage().string(), "--out", out.string()};
  if (mp4) args.push_back("--mp4");
  Interrupted result;
  result.package = out / "sample-presenter Kestrane.kestrane";
  result.run = test::runProgram(
      args,
      [&](test::HeldProgram& program, const std::string& line) {
        if (!result.sent && line == stage + "\n") {
          for (int signal : signals) program.signal(signal);
          result.sent = true;
        }
      },
      {}, ignored);
  return result;
}

// Each case holds the program at a line, which only some machines can do.
class Interrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held at a line on this machine";
  }
};

class InterruptAtStage : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held at a line on this machine";
  }
};

}  // namespace

// Stopped before its package is complete, a cut leaves nothing: no package, no scratch audio.
TEST_P(InterruptAtStage, StopsAndLeavesNothing) {
  test::TempDir tmp;
  const auto scratchBefore = test::tempEntries("kestrane-audio-");
  const Interrupted r = interruptAt(GetParam(), tmp.path() / "out", false);
  ASSERT_TRUE(r.sent) << r.run.out;
  EXPECT_EQ(r.run.status, cli::kExitCancelled) << r.run.out << r.run.err;
  EXPECT_EQ(r.run.err, "Stopping…\nkestrane: The cut was cancelled.\n");
  EXPECT_EQ(r.run.out.find("Package:"), std::string::npos);
  EXPECT_FALSE(fs::exists(r.package));
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
}

INSTANTIATE_TEST_SUITE_P(Stages, InterruptAtStage,
                         ::testing::Values("Opening your footage", "Measuring the audio", "Transcribing every word",
                                           "Choosing the best takes"));

// A stop sent while the program is still starting, before any code of its own has run, stops it
// as one sent later does: "Stopping…", status 130, and nothing left behind. The program the user
// runs loads few libraries and then starts the engine, which loads many: a library loaded into
// both says "starting" as each starts, and the stop is sent at the first and at the second.
TEST_F(Interrupt, AStopSentAsTheProgramStartsIsHeard) {
  for (int at : {1, 2}) {
    test::TempDir tmp;
    const auto scratchBefore = test::tempEntries("kestrane-audio-");
    const fs::path out = tmp.path() / "out";
    int starting = 0;
    bool sent = false;
    const test::ProgramRun run =
        test::runProgram({"cut", test::sampleFootage().string(), "--out", out.string()},
                         [&](test::HeldProgram& program, const std::string& line) {
                           if (line == "starting\n" && ++starting == at) {
                             program.signal(SIGINT);
                             sent = true;
                           }
                         },
                         {"/usr/bin/env", std::string("LD_PRELOAD=") + KESTRANE_STARTING_LINE});
    ASSERT_TRUE(sent) << at << run.out << run.err;
    EXPECT_EQ(run.status, cli::kExitCancelled) << at << run.out << run.err;
    EXPECT_EQ(run.err, "Stopping…\nkestrane: The cut was cancelled.\n") << at;
    EXPECT_EQ(run.out, "starting\nstarting\n") << at;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
  }
}

// The terminal closing stops a cut as Ctrl-C does; a second stop signal, before the job could
// clean up (two of one kind at once would arrive as one), ends the program at once and still
// takes its scratch audio away.
TEST_F(Interrupt, HangUpAndASecondCtrlCLeaveNoScratchAudio) {
  test::TempDir tmp;
  const auto scratchBefore = test::tempEntries("kestrane-audio-");
  const Interrupted hangUp = interruptAt("Transcribing every word", tmp.path() / "hup", false, {SIGHUP});
  ASSERT_TRUE(hangUp.sent) << hangUp.run.out;
  EXPECT_EQ(hangUp.run.status, cli::kExitCancelled) << hangUp.run.err;
  EXPECT_FALSE(fs::exists(hangUp.package));
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);

  const auto dictionariesBefore = test::tempEntries("kestrane-dictionary-");
  const Interrupted twice = interruptAt("Transcribing every word", tmp.path() / "twice", false, {SIGINT, SIGTERM});
  ASSERT_TRUE(twice.sent) << twice.run.out;
  EXPECT_EQ(twice.run.status, cli::kExitCancelled) << twice.run.err;
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
  EXPECT_EQ(test::tempEntries("kestrane-dictionary-"), dictionariesBefore)
      << "the recognizer's word list goes with the forced exit too";
}

// A second stop signal while the rough cut renders leaves the package without the movie's
// hidden unfinished file.
TEST_F(Interrupt, ASecondSignalWhileRenderingLeavesNoHiddenMovie) {
  test::TempDir tmp;
  const Interrupted r = interruptAt("Rendering rough cut", tmp.path() / "out", true, {SIGINT, SIGTERM});
  ASSERT_TRUE(r.sent) << r.run.out;
  EXPECT_EQ(r.run.status, cli::kExitCancelled) << r.run.err;
  ASSERT_TRUE(fs::exists(r.package / "sample-presenter.kestrane.json"));
  for (const auto& e : fs::directory_iterator(r.package)) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
  EXPECT_FALSE(fs::exists(r.package / "sample-presenter rough cut.mp4"));
}

// Stopped while the rough cut renders, the finished package stays and the user is told how to
// make the movie later.
TEST_F(Interrupt, DuringTheRoughCutKeepsThePackage) {
  test::TempDir tmp;
  const Interrupted r = interruptAt("Rendering rough cut", tmp.path() / "out", true);
  ASSERT_TRUE(r.sent) << r.run.out;
  EXPECT_EQ(r.run.status, cli::kExitCancelled) << r.run.err;
  EXPECT_EQ(r.run.err, "Stopping…\nRough cut not rendered — run kestrane recut " +
                           cli::shellQuoted(r.package.string()) + " --mp4\n");
  EXPECT_NE(r.run.out.find("Package: " + r.package.string() + "\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(r.package / "sample-presenter.fcpxml"));
  EXPECT_TRUE(fs::exists(r.package / "sample-presenter.kestrane.json"));
  EXPECT_FALSE(fs::exists(r.package / "sample-presenter rough cut.mp4"));
}

// A re-cut that renders a new rough cut and is ended at once (a second signal) does what a
// stopped one does: the earlier cut's movie stays, as only a newer movie replaces it, and the
// session in the package still says which cut it shows.
TEST_F(Interrupt, ASecondSignalWhileARecutRendersLeavesTheEarlierMovieAsTheSessionDescribesIt) {
  test::TempDir tmp;
  const Interrupted cut = interruptAt("no such stage", tmp.path() / "out", true);
  ASSERT_EQ(cut.run.status, cli::kExitOK) << cut.run.err;
  const fs::path movie = cut.package / "sample-presenter rough cut.mp4";
  const fs::path sessionFile = cut.package / "sample-presenter.kestrane.json";
  ASSERT_TRUE(fs::exists(movie));
  const std::string timeline = test::readFile(cut.package / "sample-presenter.fcpxml");
  const std::string earlierMovie = test::readFile(movie);
  const CutList earlierCut = *KestraneSession::read(sessionFile).cutList;

  bool sent = false;
  const test::ProgramRun recut = test::runProgram({"recut", cut.package.string(), "--silences-only", "--mp4"},
                                                  [&](test::HeldProgram& program, const std::string& line) {
                                                    if (!sent && line == "Rendering rough cut\n") {
                                                      program.signal(SIGINT);
                                                      program.signal(SIGTERM);
                                                      sent = true;
                                                    }
                                                  });
  ASSERT_TRUE(sent) << recut.out;
  EXPECT_EQ(recut.status, cli::kExitCancelled) << recut.err;
  EXPECT_NE(test::readFile(cut.package / "sample-presenter.fcpxml"), timeline) << "the new cut is in place";
  EXPECT_TRUE(test::readFile(movie) == earlierMovie) << "the earlier movie, untouched";
  const KestraneSession after = KestraneSession::read(sessionFile);
  ASSERT_TRUE(after.roughCutCutList);
  EXPECT_EQ(after.roughCutCutList->segments, earlierCut.segments);
  EXPECT_NE(after.cutList->segments, earlierCut.segments) << "the session is the new cut's";
}

// A signal the program started with ignored stays ignored: under nohup the terminal closing
// leaves the cut and its movie to finish, and Ctrl-C ignored in a job a script started in the
// background stops nothing. A second signal of an ignored kind doesn't end the program at once
// either, while two the program heeds still do.
TEST_F(Interrupt, ASignalIgnoredFromTheStartStaysIgnored) {
  test::TempDir tmp;
  const Interrupted hangUp = interruptAt("Rendering rough cut", tmp.path() / "hup", true, {SIGHUP}, {SIGHUP});
  ASSERT_TRUE(hangUp.sent) << hangUp.run.out;
  EXPECT_EQ(hangUp.run.status, cli::kExitOK) << hangUp.run.err;
  EXPECT_EQ(hangUp.run.err.find("Stopping"), std::string::npos) << hangUp.run.err;
  EXPECT_TRUE(fs::exists(hangUp.package / "sample-presenter rough cut.mp4"));

  const Interrupted background =
      interruptAt("Transcribing every word", tmp.path() / "background", false, {SIGINT}, {SIGINT});
  ASSERT_TRUE(background.sent) << background.run.out;
  EXPECT_EQ(background.run.status, cli::kExitOK) << background.run.err;
  EXPECT_TRUE(fs::exists(background.package / "sample-presenter.fcpxml"));

  const Interrupted stopped =
      interruptAt("Rendering rough cut", tmp.path() / "stopped", true, {SIGINT, SIGHUP}, {SIGHUP});
  ASSERT_TRUE(stopped.sent) << stopped.run.out;
  EXPECT_EQ(stopped.run.status, cli::kExitCancelled) << stopped.run.err;
  EXPECT_EQ(stopped.run.err, "Stopping…\nRough cut not rendered — run kestrane recut " +
                                 cli::shellQuoted(stopped.package.string()) + " --mp4\n")
      << "the job stopped in order, not ended at once";

  const Interrupted ended = interruptAt("Rendering rough cut", tmp.path() / "ended", true, {SIGINT, SIGTERM}, {SIGHUP});
  ASSERT_TRUE(ended.sent) << ended.run.out;
  EXPECT_EQ(ended.run.status, cli::kExitCancelled) << ended.run.err;
  EXPECT_EQ(ended.run.err, "Stopping…\n") << "ended at once";
}

// A cut killed outright leaves its scratch audio in the temporary folder; the next command
// takes it, and nothing there that is not its own.
TEST_F(Interrupt, ScratchAudioOfAKilledCutGoesWithTheNextCommand) {
  test::TempDir tmp;
  const fs::path mine = fs::temp_directory_path() / "kestrane-audio-1-my-interview-notes.wav";
  std::ofstream(mine) << "notes";
  const Interrupted killed = interruptAt("Transcribing every word", tmp.path() / "out", false, {SIGKILL});
  ASSERT_TRUE(killed.sent);
  EXPECT_EQ(killed.run.status, -1);
  ASSERT_EQ(test::tempEntries("kestrane-audio-").size(), 2u) << "the killed cut's scratch audio stays behind";

  const test::ProgramRun next = test::runProgram({"place", (tmp.path() / "no package").string()});
  EXPECT_EQ(next.status, cli::kExitUsage) << next.err;
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), std::set<std::string>{mine.filename().string()});
}
