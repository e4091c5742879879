#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "RecutCommand.hpp"
#include "RecutOptions.hpp"
#include "ai/AiTestSupport.hpp"
#include "kestrane/pipeline/StagedFiles.hpp"
#include "cli/ProgramRun.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/StoredSession.hpp"
#include "support/NoisyFootage.hpp"

using namespace kestrane;
using kestrane::cli::UsageError;
namespace fs = std::filesystem;

namespace {}  // namespace

TEST(RecutOptions, OnlyNamedSettingsChange) {
  const KestraneSession stored = test::storedSession("/x/talk.mov");
  const auto o = cli::parseRecutOptions({"pkg", "--silences-only", "--target=premiere", "--name", "Keynote",
                                         "--drop-script", "--mp4", "--sensitivity", "more"});
  EXPECT_EQ(o.sessionOrPackage, "pkg");
  PipelineSettings s = Pipeline::recutSettings(o.choices, stored);
  EXPECT_EQ(s.thoroughness, Thoroughness::silencesOnly);
  EXPECT_EQ(s.exportTarget, ExportTarget::premiere);
  // The sensitivity is measured against the stored levels.
  EXPECT_EQ(s.silenceThresholdDBFS, thresholdDBFS(SilenceSensitivity::more, stored.levels->levelsDBFS()));
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.15);
  EXPECT_EQ(s.subtitleLength, TranscriptExporter::SubtitleLength::short_);
  EXPECT_EQ(s.manualRemoveRanges->size(), 1u);
  EXPECT_EQ(s.aiAdjudication, std::optional<bool>(false));

  KestraneSession silencesOnly = stored;
  silencesOnly.settings.thoroughness = Thoroughness::silencesOnly;
  s = Pipeline::recutSettings(cli::parseRecutOptions({"pkg", "--full-cut"}).choices, silencesOnly);
  EXPECT_EQ(s.thoroughness, Thoroughness::fast);

  const auto ai = cli::parseRecutOptions({"pkg", "--ai", "--thoroughness=balanced", "--notes", "Shorter."});
  EXPECT_EQ(ai.notes, std::optional<std::string>("Shorter."));
  s = Pipeline::recutSettings(ai.choices, stored);
  EXPECT_EQ(s.aiAdjudication, std::optional<bool>(true));
  EXPECT_EQ(s.thoroughness, Thoroughness::balanced);

  EXPECT_THROW(cli::parseRecutOptions({}), UsageError);
  EXPECT_THROW(cli::parseRecutOptions({"a", "b"}), UsageError);
  EXPECT_THROW(cli::parseRecutOptions({"a", "--script", "s.txt"}), UsageError);
  EXPECT_THROW(cli::parseRetryOptions({"a", "--name", "x"}), UsageError);
  KestraneSession noLevels = stored;
  noLevels.levels.reset();
  EXPECT_THROW(Pipeline::recutSettings(cli::parseRecutOptions({"a", "--sensitivity", "less"}).choices, noLevels),
               Pipeline::PipelineError);
}

TEST(RecutCommand, RecutsAPackageFolderAndARetryWithoutTheAiChangesNothing) {
  test::StoredPackage stored;
  const fs::path& package = stored.package;
  const fs::path& footage = stored.footage;

  int status = 0;
  std::string out = test::runShell("recut '" + package.string() + "' --tightness tight", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Choosing the best takes\n"), std::string::npos);
  EXPECT_NE(out.find("Package: " + package.string()), std::string::npos);
  EXPECT_DOUBLE_EQ(KestraneSession::read(package / "talk.kestrane.json").settings.speechPadding, 0.1);

  // The AI pass is all retry-ai is for: without it the command fails and the package is
  // exactly as it was.
  const auto before = test::snapshot(package);
  out = test::runShell("retry-ai '" + package.string() + "'", status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("kestrane: The AI second opinion couldn't be had, so the package was left exactly as it was — "
                     "no claude CLI or ANTHROPIC_API_KEY found.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(test::snapshot(package), before);

  // A package renamed by hand is cut again where it is, not into a new package inside it.
  const fs::path renamed = package.parent_path() / "Friday talk";
  fs::rename(package, renamed);
  out = test::runShell("recut '" + renamed.string() + "' --tightness natural", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Package: " + renamed.string() + "\n"), std::string::npos) << out;
  for (const auto& e : fs::directory_iterator(renamed)) EXPECT_FALSE(e.is_directory()) << e.path();
  fs::rename(renamed, package);

  std::ofstream(package / "copy.kestrane.json") << "{}";
  out = test::runShell("recut '" + package.string() + "'", status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("several session files"), std::string::npos) << out;
  fs::remove(footage);
  out = test::runShell("recut '" + (package / "talk.kestrane.json").string() + "'", status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Can't re-cut from this session: source media missing at"), std::string::npos);
  EXPECT_EQ(test::runShell("recut", status).find("No session given"), 10u);
  EXPECT_EQ(status, 2);
}

// Other footage saved at the footage's path: every command that cuts the package again fails,
// naming the file and how it differs, and the package stays as it was.
TEST(RecutCommand, OtherFootageAtTheFootagesPathIsRefusedAndChangesNothing) {
  test::MoviePackage p("talk", "Talk");
  const std::string package = "'" + p.package.string() + "'";
  int status = 0;
  std::string out = test::runShell("recut " + package + " --mp4", status);
  ASSERT_EQ(status, 0) << out;
  const auto before = test::snapshot(p.package);
  ASSERT_TRUE(test::recordOtherFootage(p.footage));
  for (const std::string& command : {"recut " + package, "recut " + package + " --mp4", "retry-ai " + package}) {
    out = test::runShell(command, status);
    EXPECT_EQ(status, 1) << command << "\n" << out;
    EXPECT_NE(out.find("kestrane: Can't re-cut from this session: " + p.footage.string() +
                       " is 0:12 at 640×360, the package was cut from 0:33 at 320×180 — put the footage the package "
                       "was cut from back at that path, then run the re-cut again.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(test::snapshot(p.package), before) << command;
  }
}

// A re-cut whose rough cut fails ends as a first cut does: exit 1 with the renderer's sentence,
// the job's other warnings, and what the package now holds.
TEST(RecutCommand, ARecutWhoseRoughCutFailsFails) {
  if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held at a line on this machine";
  // Its footage is cut short as the rough cut starts to render, and its script has a line nobody
  // spoke.
  test::StoredPackage stored(
      [](KestraneSession& s) { s.script = "Welcome to the show today.\n\nPurple elephants dance."; });
  const auto run =
      test::runProgram({"recut", stored.package.string(), "--mp4"}, [&](test::HeldProgram&, const std::string& line) {
        if (line == "Rendering rough cut\n") fs::resize_file(stored.footage, fs::file_size(stored.footage) / 4);
      });
  const std::string out = run.out + run.err;
  EXPECT_EQ(run.status, 1) << out;
  EXPECT_NE(out.find("kestrane: Export failed: the footage " + stored.footage.string() + " stops at 0:0"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Warning: 1 script beat appears to be missing from the footage — see script-coverage.md\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Wrote this cut's timelines, transcript, captions and session file into the package\n"
                     "Package: " +
                     stored.package.string() + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Rough cut not rendered — run kestrane recut"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(stored.package / "talk rough cut.mp4"));
}

// Footage whose sound went silent where the footage check doesn't listen (the end of the last
// line, 12.6–14 s, past the stretch of it the check hears) passes the check, and the rough cut
// hears it: the
// re-cut exits 1 naming the footage and the time, and the earlier movie and the session's
// record of it stay.
TEST(RecutCommand, ARoughCutHearsAHoleTheFootageCheckMissed) {
  test::StoredPackage stored;
  const std::string package = "'" + stored.package.string() + "'";
  int status = 0;
  std::string out = test::runShell("recut " + package + " --mp4", status);
  ASSERT_EQ(status, 0) << out;
  const fs::path movie = stored.package / "talk rough cut.mp4";
  const std::string earlier = test::readFile(movie);
  const std::optional<MovieIdentity> recorded = KestraneSession::read(stored.sessionFile).roughCutMovie;
  ASSERT_TRUE(recorded);

  const fs::path whole = stored.root.path() / "whole.mov";
  fs::rename(stored.footage, whole);
  ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(whole) +
                           " -c:v copy -af \"volume=enable='between(t,12.6,14.5)':volume=0\" -c:a aac -b:a 64k "
                           "-movflags +faststart " +
                           test::quoted(stored.footage)));
  out = test::runShell("recut " + package + " --mp4", status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("kestrane: Export failed: the footage " + stored.footage.string() +
                     " at 0:12 doesn't sound like the footage the package was cut from — no rough cut was made of "
                     "footage that isn't all there\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(test::readFile(movie), earlier);
  EXPECT_EQ(KestraneSession::read(stored.sessionFile).roughCutMovie, recorded);
}

// Every package a first cut makes is re-cut and rendered from its own footage and from copies saved
// over it: footage recorded under steady noise 4 dB below the voice, and a reading with chatter
// between takes whose copy went through a hard compressor at 24 kb/s. Another voice spliced into
// the reading's kept speech, between stretches the footage check hears, fails the render, naming
// where.
TEST(RecutCommand, APackageIsReCutAndRenderedFromItsOwnFootageAndItsCopies) {
  test::TempDir tmp;
  const fs::path noisy = tmp.path() / "noisy.mp4", reading = tmp.path() / "reading.mp4";
  ASSERT_TRUE(test::underNoise(test::sampleFootage(), "white", 4, 7, noisy));
  const auto read = [&](const std::string& voice, const fs::path& to) {
    return std::system((KESTRANE_SOURCE_DIR "/fixtures/make-reading.sh " + voice + " 1 " + test::quoted(to) +
                        " >/dev/null 2>&1")
                           .c_str()) == 0;
  };
  ASSERT_TRUE(read("awb", reading));
  int status = 0;
  for (const auto& [footage, copy] :
       {std::pair{noisy, std::string("-c:v copy -c:a aac -b:a 24k")},
        std::pair{reading, std::string("-c:v copy -af acompressor=threshold=-50dB:ratio=20:makeup=20 -c:a aac "
                                       "-b:a 24k")}}) {
    SCOPED_TRACE(footage.stem().string());
    std::string out = test::runShell("cut " + test::quoted(footage) + " --out " + test::quoted(tmp.path()), status);
    ASSERT_EQ(status, 0) << out;
    const std::string package = test::quoted(tmp.path() / (footage.stem().string() + " Kestrane.kestrane"));
    out = test::runShell("recut " + package, status);
    EXPECT_EQ(status, 0) << out;
    out = test::runShell("recut " + package + " --mp4", status);
    EXPECT_EQ(status, 0) << out;
    const fs::path original = tmp.path() / ("original " + footage.filename().string());
    fs::copy_file(footage, original);
    ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(original) + " " + copy + " -y " + test::quoted(footage)));
    out = test::runShell("recut " + package + " --mp4 --tightness tight", status);
    EXPECT_EQ(status, 0) << out;
  }

  const fs::path other = tmp.path() / "other.mp4";
  ASSERT_TRUE(read("slt", other));
  ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(tmp.path() / "original reading.mp4") + " -i " + test::quoted(other) +
                           " -filter_complex '[0:a]atrim=0:19,asetpts=PTS-STARTPTS[a];[1:a]atrim=19:22,asetpts=PTS-"
                           "STARTPTS[b];[0:a]atrim=start=22,asetpts=PTS-STARTPTS[c];[a][b][c]concat=n=3:v=0:a=1[s]' "
                           "-map 0:v -map '[s]' -c:v copy -c:a aac -y " +
                           test::quoted(reading)));
  const std::string out =
      test::runShell("recut " + test::quoted(tmp.path() / "reading Kestrane.kestrane") + " --mp4", status);
  EXPECT_EQ(status, 1) << out;
  std::smatch at;
  ASSERT_TRUE(std::regex_search(out, at,
                                std::regex("kestrane: Export failed: the footage .* at 0:(\\d\\d) doesn't sound like "
                                           "the footage the package was cut from")))
      << out;
  EXPECT_GE(std::stoi(at[1]), 19) << out;
  EXPECT_LE(std::stoi(at[1]), 22) << out;
}

// retry-ai through a claude tool that gives the second opinion and then fails the self-review:
// the package holds the AI's cut, and the command says so instead of claiming it does not.
TEST(RecutCommand, RetryAiSaysTheSecondOpinionWasAppliedWhenOnlyTheSelfReviewFailed) {
  test::StoredPackage stored([](KestraneSession& session) {
    test::fourLines(session);
    session.settings.thoroughness = Thoroughness::balanced;
  });
  const fs::path bin = stored.root.path() / "bin";
  fs::create_directories(bin);
  fs::create_symlink(test::fakeClaudePath(), bin / "claude");
  test::FakeClaude fake("pipeline-review-fails");
  fake.reply("Error: OAuth token has expired");
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
  int status = 0;
  const std::string out = test::runShell("retry-ai '" + stored.package.string() + "'", status);
  ::setenv("PATH", path.c_str(), 1);

  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(fake.calls(), 2) << out;
  EXPECT_EQ(out.find("couldn't be had"), std::string::npos) << out;
  EXPECT_NE(out.find("\nThe AI second opinion was applied; the self-review was skipped — your Claude sign-in has "
                     "expired — open a terminal, run “claude”, log in, then run kestrane retry-ai\n"),
            std::string::npos)
      << out;
  const CutList cut = KestraneSession::read(stored.sessionFile).cutList.value_or(CutList{});
  EXPECT_TRUE(std::any_of(cut.segments.begin(), cut.segments.end(),
                          [](const Segment& s) { return s.reason == "AI: A line to the crew."; }));
}

// `place` ends at a stop like the other commands, before the timeline is touched.
TEST(RecutCommand, PlaceHonoursAStop) {
  test::StoredPackage stored;
  int status = 0;
  test::runShell("recut '" + stored.package.string() + "'", status);
  ASSERT_EQ(status, 0);
  const fs::path fcpxml = stored.package / "talk.fcpxml";
  const auto written = fs::last_write_time(fcpxml);

  std::ostringstream out, err;
  cli::Console console(out, err);
  cli::PlaceOptions options;
  options.sessionOrPackage = stored.package;
  std::stop_source stopper;
  stopper.request_stop();
  EXPECT_EQ(cli::runPlace(options, console, stopper.get_token()), cli::kExitCancelled);
  EXPECT_EQ(fs::last_write_time(fcpxml), written);
  EXPECT_EQ(out.str(), "");

  EXPECT_EQ(cli::runPlace(options, console, {}), cli::kExitOK) << err.str();
  EXPECT_NE(out.str().find("Placed 0 graphics in "), std::string::npos) << out.str();

  // So does any command stopped while it judges the record of a move a killed run left, before
  // the job itself starts: the record stays for the next run.
  if (!test::kCanKillAtRename || !test::kCanHoldPrograms) GTEST_SKIP() << "can't kill or hold a program here";
  const std::string large = test::readFile(stored.sessionFile) + std::string(3 << 20, ' ');
  const int killed = test::inChild([&] {
    Pipeline::detail::StagedFiles staged(stored.package);
    staged.write(stored.sessionFile, large);
    if (test::killAtRename("/.kestrane.move", 2)) staged.commit();
  });
  ASSERT_TRUE(WIFSIGNALED(killed));
  const auto before = test::snapshot(stored.package);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"place", stored.package.string()}, {"recut", stored.package.string(), "--mp4"}}) {
    const test::ProgramRun stopped = test::runProgram(command, {}, {}, {}, [](test::HeldProgram& program, int) {
      if (program.stopSignals() == 0) program.signal(SIGINT);
    });
    EXPECT_EQ(stopped.status, cli::kExitCancelled) << stopped.err;
    EXPECT_EQ(stopped.err, "Stopping…\nkestrane: The cut was cancelled.\n");
    EXPECT_EQ(test::snapshot(stored.package), before) << command.front();
  }
  test::runShell("place '" + stored.package.string() + "'", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::readFile(stored.sessionFile), large);
}

// A killed re-cut's record that can't be proven its own (the transcript saved since) leaves the
// package maybe mixed: `place`, and a `retry-ai` that fails, say so on every run, until a re-cut
// makes it whole.
TEST(RecutCommand, PlaceFailsOverAPackageThatMayBeMixedUntilARecut) {
  if (!test::kCanKillAtRename) GTEST_SKIP() << "can't kill a program at a rename here";
  test::StoredPackage stored;
  const std::string package = stored.package.string();
  int status = 0;
  test::runShell("recut '" + package + "'", status);
  ASSERT_EQ(status, 0);
  const int killed = test::inChild([&] {
    Pipeline::detail::StagedFiles staged(stored.package);
    staged.write(stored.package / "transcript.md", "a tighter transcript");
    staged.write(stored.sessionFile, test::readFile(stored.sessionFile) + " ");
    if (test::killAtRename("/.kestrane.move", 2)) staged.commit();
  });
  ASSERT_TRUE(WIFSIGNALED(killed));
  std::ofstream(stored.package / "transcript.md", std::ios::app) << "an edit";

  const std::string mixed = " — the package may hold parts of two cuts, and running the re-cut again makes it whole.\n";
  std::string said = test::runShell("place '" + package + "'", status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(
      said.starts_with("kestrane: The package held a record of an unfinished move that can't be proven this "
                       "folder's"))
      << said;
  EXPECT_TRUE(said.ends_with(mixed)) << said;
  const std::string marked = "kestrane: A Kestrane run was interrupted while moving the files of " + package +
                             " into place, and its move could not be finished" + mixed;
  for (int run = 0; run < 2; ++run) {
    said = test::runShell("place '" + package + "'", status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, marked);
  }
  // A retry that can't be had leaves the package as it was, and says it may still be mixed.
  for (int run = 0; run < 2; ++run) {
    said = test::runShell("retry-ai '" + package + "'", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(said.find("kestrane: The AI second opinion couldn't be had"), std::string::npos) << said;
    EXPECT_TRUE(said.ends_with(marked)) << said;
  }
  test::runShell("recut '" + package + "'", status);
  EXPECT_EQ(status, 0);
  said = test::runShell("place '" + package + "'", status);
  EXPECT_EQ(status, 0) << said;
}

// Two re-cuts of one package at once would mix their files: the second refuses at once, and
// the package is the first one's. A run killed outright holds the package no longer.
TEST(RecutCommand, ASecondRecutOfAPackageInUseRefusesAtOnce) {
  if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held at a line on this machine";
  test::StoredPackage stored;
  const std::string package = stored.package.string();
  int status = 0;
  test::runShell("recut '" + package + "'", status);
  ASSERT_EQ(status, 0);

  std::string second;
  int secondStatus = -1;
  // The first is held at its line, and stopped there, while the second runs.
  const auto first = test::runProgram(
      {"recut", package, "--tightness", "tight"}, [&](test::HeldProgram& program, const std::string& line) {
        if (secondStatus == -1 && line == "Choosing the best takes\n") {
          program.signal(SIGSTOP);
          second = test::runShell("recut '" + package + "' --tightness natural", secondStatus);
          program.signal(SIGCONT);
        }
      });
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(secondStatus, 1);
  EXPECT_EQ(second, "kestrane: Another Kestrane job is writing the package " + package +
                        " — try again once it has finished.\n");
  EXPECT_DOUBLE_EQ(KestraneSession::read(stored.sessionFile).settings.speechPadding, 0.1) << "the first one's cut";

  const auto killed = test::runProgram({"recut", package}, [&](test::HeldProgram& program, const std::string& line) {
    if (line == "Choosing the best takes\n") program.signal(SIGKILL);
  });
  EXPECT_EQ(killed.status, -1);
  EXPECT_EQ(test::runShell("recut '" + package + "' --tightness natural", status).find("kestrane:"), std::string::npos);
  EXPECT_EQ(status, 0);
  for (const auto& e : fs::directory_iterator(stored.package)) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
}

// A run killed at any rename of its move into place leaves the next run on the package to
// finish the move before it reads the session: a plain re-cut keeps what the killed run chose
// (nothing older comes back), and a first cut killed the same way becomes the package that
// `recut FOLDER` opens, not a half one that nothing ever finishes.
TEST(RecutCommand, ARunKilledWhileMovingItsFilesIsFinishedBeforeTheNextReadsThePackage) {
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  test::StoredPackage stored;
  const std::string package = stored.package.string();
  int status = 0;
  bool whole = false;
  for (int n = 2; !whole && n < 12; ++n) {
    test::runShell("recut '" + package + "' --tightness natural --target finalCut", status);
    ASSERT_EQ(status, 0);
    const int ended = test::inChild([&] {
      Pipeline::RecutRequest request = test::recutOf(stored.sessionFile, CutTightness::tight);
      request.settings.exportTarget = ExportTarget::premiere;
      if (test::killAtRename("/.kestrane.move", n)) Pipeline::recut(request);
    });
    whole = WIFEXITED(ended);
    const std::string out = test::runShell("recut '" + package + "'", status);
    EXPECT_EQ(status, 0) << n << out;
    const KestraneSession session = KestraneSession::read(stored.sessionFile);
    EXPECT_DOUBLE_EQ(session.settings.speechPadding, 0.1) << n;
    EXPECT_EQ(session.settings.exportTarget, std::optional(ExportTarget::premiere)) << n;
  }
  EXPECT_TRUE(whole);

  const KestraneSession analysed = KestraneSession::read(stored.sessionFile);
  Pipeline::Analysis analysis{analysed.source, *analysed.levels, *analysed.transcript, {}};
  Pipeline::Request first;
  first.input = stored.footage;
  first.settings = test::appSettings();
  for (int n = 2; n < 6; ++n) {
    first.outputDir = stored.root.path() / ("first " + std::to_string(n));
    const fs::path folder = *first.outputDir / "talk Kestrane.kestrane";
    const int ended = test::inChild([&] {
      if (test::killAtRename("/.kestrane.move", n)) Pipeline::run(first, analysis);
    });
    ASSERT_TRUE(WIFSIGNALED(ended)) << n;
    ASSERT_TRUE(fs::exists(folder / ".kestrane.move")) << n;
    const std::string out = test::runShell("recut '" + folder.string() + "'", status);
    EXPECT_EQ(status, 0) << n << out;
    EXPECT_TRUE(fs::exists(folder / "talk.kestrane.json")) << n;
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
}
