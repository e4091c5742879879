// What the command line prints about a job: the closing lines, stage lines and escaped text.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <tuple>

#include "Console.hpp"
#include "JobReport.hpp"
#include "RunSummary.hpp"
#include "TerminalText.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;

namespace {

// 754 s of footage of which 495 s are kept, with every kind of removal.
KestraneSession cutSession() {
  KestraneSession s = test::storedSession("/footage/take 04.mov");
  s.source.durationSeconds = 754;
  const auto seg = [](double a, double b, SegmentKind k) { return Segment{{a, b}, k, {}, {}}; };
  s.cutList =
      CutList{{seg(0, 495, SegmentKind::keep), seg(495, 500, SegmentKind::silence), seg(500, 510, SegmentKind::silence),
               seg(510, 600, SegmentKind::retakeRejected), seg(600, 610, SegmentKind::flub),
               seg(610, 611, SegmentKind::filler), seg(611, 754, SegmentKind::silence)}};
  s.advisories =
      std::vector<Advisory>{{{61.7, 63}, "Check (join): a hard cut mid-word"}, {{125, 126}, "Listen: \x1b[2Jcleared?"}};
  s.editorNotes.reset();
  return s;
}

}  // namespace

TEST(RunReport, ClosingLinesOfACut) {
  KestraneSession s = cutSession();
  EXPECT_EQ(cli::figuresLine(s),
            "12:34 of footage → 8:15 (34% removed: 3 silences, 1 flub, 1 alternate take, 1 filler)");
  s.cutList->segments.push_back({{754, 754}, SegmentKind::manual, {}, {}});
  s.cutList->segments.push_back({{754, 754}, SegmentKind::manual, {}, {}});
  EXPECT_NE(cli::figuresLine(s).find(", 1 filler, 2 by your hand)"), std::string::npos);
  s.cutList.reset();
  EXPECT_EQ(cli::figuresLine(s),
            "12:34 of footage → 0:00 (100% removed: 0 silences, 0 flubs, 0 alternate takes, 0 fillers)");

  s = cutSession();
  EXPECT_EQ(cli::worthAListen(s),
            (std::vector<std::string>{"Worth a listen:", "  1:01  Check (join): a hard cut mid-word",
                                      "  2:05  Listen: \x1b[2Jcleared?"}));
  s.advisories.reset();
  EXPECT_TRUE(cli::worthAListen(s).empty());

  EXPECT_FALSE(cli::spokenNotesLine(s));
  s.editorNotes = std::vector<Advisory>{{{600, 601}, "a"}};
  EXPECT_EQ(cli::spokenNotesLine(s),
            "1 spoken note to your editor — cut from the timeline, marked inside the source clip");
  // A note whose line the cut kept is not said to be cut.
  s.editorNotes = std::vector<Advisory>{{{1, 2}, "a"}};
  EXPECT_EQ(cli::spokenNotesLine(s),
            "1 spoken note to your editor — left on the timeline, marked inside the source clip");
  s.editorNotes->push_back({{605, 606}, "b"});
  s.editorNotes->push_back({{700, 701}, "c"});
  EXPECT_EQ(cli::spokenNotesLine(s),
            "3 spoken notes to your editor — 2 cut from the timeline, 1 left "
            "on it; all marked inside the source clip");

  // Under 2 % kept is worth a warning; 2 % is not.
  EXPECT_FALSE(cli::keepsAlmostNothing(s));
  s.cutList = CutList{{{{0, 15.08}, SegmentKind::keep, {}, {}}, {{15.08, 754}, SegmentKind::silence, {}, {}}}};
  EXPECT_FALSE(cli::keepsAlmostNothing(s));
  s.cutList->segments[0].range.end = 15;
  EXPECT_NE(cli::keepsAlmostNothing(s).value_or("").find("keeps only 0:15 of 12:34"), std::string::npos);
}

TEST(RunReport, NextStepForEachEditor) {
  Pipeline::Output output;
  output.session = cutSession();
  output.packageDir = "/out/take 04 Kestrane.kestrane";
  output.fcpxmlURL = output.packageDir / "take 04.fcpxml";
  output.session.settings.exportTarget.reset();
  EXPECT_EQ(cli::nextStep(output), "Open in Final Cut Pro: /out/take 04 Kestrane.kestrane/take 04.fcpxml");
  output.session.settings.exportTarget = ExportTarget::premiere;
  EXPECT_EQ(cli::nextStep(output),
            "Drag “take 04 (Premiere).xml” from the package into Premiere’s Project panel (or File → "
            "Import). The cut arrives with your full raw nested inside — double-click any piece to "
            "fall into it.");
}

TEST(RunReport, ControlCharactersAreEscaped) {
  EXPECT_EQ(cli::escaped("caf\xC3\xA9 — “ok” \\ back"), "caf\xC3\xA9 — “ok” \\ back");
  EXPECT_EQ(cli::escaped("a\nb\tc\rd\x1b[31me\x07\x7F"), "a\\nb\\tc\\rd\\e[31me\\x07\\x7F");
  EXPECT_EQ(cli::escaped("\xC2\x9B"
                         "31m"),
            "\\u009B31m")
      << "C1 control sequence introducer";
  EXPECT_EQ(cli::escaped("bad \xFF\xC3 end\xE2\x82"), "bad \\xFF\\xC3 end\\xE2\\x82");
  EXPECT_EQ(cli::escaped(cli::escaped("x\x1b")), "x\\e") << "escaping twice changes nothing";
  // A right-to-left override shows "talk\u202Evom.mp4" as "talkmp4.mov"; isolates, marks and
  // separators reorder or break the line the same way. Other letters pass.
  EXPECT_EQ(cli::escaped("talk\u202Evom.mp4"), "talk\\u202Evom.mp4");
  EXPECT_EQ(cli::escaped("a\u2066b\u2069c\u200Fd\u061Ce\u202Af\u2028g\u2029"),
            "a\\u2066b\\u2069c\\u200Fd\\u061Ce\\u202Af\\u2028g\\u2029");
  EXPECT_EQ(cli::escaped("\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627"),
            "\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627");

  EXPECT_EQ(cli::shellQuoted("/out/pkg.kestrane"), "/out/pkg.kestrane");
  EXPECT_EQ(cli::shellQuoted("/out/Demo Kestrane.kestrane"), "'/out/Demo Kestrane.kestrane'");
  EXPECT_EQ(cli::shellQuoted("it's"), "'it'\\''s'");
}

TEST(RunReport, StageLines) {
  EXPECT_EQ(cli::Console::stageLine("Choosing the best takes", 3.9, std::nullopt), "Choosing the best takes…  0:03");
  EXPECT_EQ(cli::Console::stageLine("Transcribing every word", 30, 0.25),
            "Transcribing every word   25%  0:30 elapsed · about 1:30 left");
  EXPECT_EQ(cli::Console::stageLine("Transcribing every word", 90, 1.5), "Transcribing every word  100%  1:30 elapsed");

  // Away from a terminal each stage is one plain line, and nothing is ever redrawn.
  std::ostringstream out, err;
  {
    cli::Console console(out, err);
    console.stage("Measuring the audio");
    console.progress(0.5);
    console.stage("Transcribing every word");
    console.progress(0.7);
    console.line("Package: p");
    console.stopping();
    console.stage("Building your package");
  }
  EXPECT_EQ(out.str(),
            "Measuring the audio\nMeasuring the audio — done in 0:00\nTranscribing every word\n"
            "Transcribing every word — done in 0:00\nPackage: p\n");
  EXPECT_EQ(err.str(), "Stopping…\n");

  // A long stage in a log: a line at each further tenth, never two in one tenth, none at the
  // end (its closing line says it).
  std::ostringstream log, logErr;
  {
    cli::Console console(log, logErr, false, std::chrono::milliseconds(0));
    console.stage("Transcribing every word");
    for (double f : {0.05, 0.15, 0.17, 0.19, 0.35, 0.36, 1.0}) console.progress(f);
    console.stage("Choosing the best takes");
  }
  EXPECT_EQ(log.str(),
            "Transcribing every word\n"
            "Transcribing every word   15%  0:00 elapsed\n"
            "Transcribing every word   35%  0:00 elapsed\n"
            "Transcribing every word — done in 0:00\n"
            "Choosing the best takes\n"
            "Choosing the best takes — done in 0:00\n");
}

TEST(RunReport, UserErrorsAsTheyAreFaultsAsInternalAndAStopAsCancelled) {
  const auto report = [](auto thrown) {
    std::ostringstream out, err;
    cli::Console console(out, err);
    const cli::JobOutcome outcome =
        cli::runReported([&](const Pipeline::ProgressCallback&) -> Pipeline::Output { throw thrown; }, console);
    return std::make_pair(outcome.status, err.str());
  };
  EXPECT_EQ(report(UserFacingError("No audio track in talk.mov\nat all")),
            std::make_pair(cli::kExitFailed, std::string("kestrane: No audio track in talk.mov at all\n")));
  EXPECT_EQ(report(std::out_of_range("vector::at")),
            std::make_pair(cli::kExitFailed, std::string("kestrane: internal error: vector::at\n")));
  EXPECT_EQ(report(Cancelled()),
            std::make_pair(cli::kExitCancelled, std::string("kestrane: The cut was cancelled.\n")));
}

// A job some part of which went on to its end though it was asked to stop ends as stopped, with
// its whole package reported.
TEST(RunReport, AJobThatDidNotHearTheStopStillEndsAsStopped) {
  Pipeline::Output output;
  output.session = cutSession();
  output.packageDir = "/out/take 04 Kestrane.kestrane";
  output.fcpxmlURL = output.packageDir / "take 04.fcpxml";
  std::stop_source stop;
  std::ostringstream out, err;
  cli::Console console(out, err);
  const cli::JobOutcome outcome = cli::runReported(
      [&](const Pipeline::ProgressCallback&) {
        stop.request_stop();  // heard by nothing from here on
        return output;
      },
      console, stop.get_token());
  EXPECT_EQ(outcome.status, cli::kExitCancelled);
  EXPECT_NE(out.str().find("Package: /out/take 04 Kestrane.kestrane\n"), std::string::npos) << out.str();
  EXPECT_EQ(err.str(), "kestrane: The stop was heard only once the cut was complete.\n");
}

// A job that leaves its package behind, stopped in the rough cut or failing to render it, says
// where the package is and how to make the movie later; a stop says what went on the way out.
TEST(RunReport, AKeptPackageIsNamedWithTheCommandThatRendersItLater) {
  const auto report = [](auto thrown) {
    std::ostringstream out, err;
    cli::Console console(out, err);
    const cli::JobOutcome outcome =
        cli::runReported([&](const Pipeline::ProgressCallback&) -> Pipeline::Output { throw thrown; }, console);
    return std::make_tuple(outcome.status, out.str(), err.str());
  };
  const std::filesystem::path package = "/out/Talk Kestrane.kestrane";
  const std::string later = "Rough cut not rendered — run kestrane recut '/out/Talk Kestrane.kestrane' --mp4\n";

  EXPECT_EQ(report(Pipeline::RoughCutFailed("Export failed: No space left on device", package)),
            std::make_tuple(cli::kExitFailed, "Package: " + package.string() + "\n",
                            "kestrane: Export failed: No space left on device\n" + later));
  const std::string wrote = "Wrote this cut's timelines, transcript, captions and session file into the package";
  const std::string removed = "Removed the rough cut of the earlier cut — it no longer matches this one";
  EXPECT_EQ(report(Cancelled(package, {wrote, "Kept the rough cut of the earlier cut — it shows this same cut"})),
            std::make_tuple(cli::kExitCancelled,
                            wrote + "\nKept the rough cut of the earlier cut — it shows this same cut\nPackage: " +
                                package.string() + "\n",
                            later));
  // Stopped without a rough cut to make: the stop is said, with the warnings the job had by then.
  EXPECT_EQ(report(Cancelled(package, {wrote}, {removed}, false)),
            std::make_tuple(cli::kExitCancelled,
                            "Warning: " + removed + "\n" + wrote + "\nPackage: " + package.string() + "\n",
                            std::string("kestrane: The cut was cancelled.\n")));
}

// The end of a run: figures, at most ten notes in time order and each once, the warnings that
// are not already among them, and last the package and what to do with it.
TEST(RunReport, TheEndOfARunIsShortAndEndsWithThePackage) {
  KestraneSession s = cutSession();
  std::vector<Advisory> notes;
  for (int i = 14; i >= 0; --i)
    notes.push_back({{60.0 * i, 60.0 * i + 1}, "Check (pacing jump): note " + std::to_string(i)});
  notes.push_back({{0, 1}, "Check (pacing jump): note 0"});
  s.advisories = notes;
  const auto lines = cli::worthAListen(s);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[1], "  0:00  Check (pacing jump): note 0");
  EXPECT_EQ(lines[2], "  1:00  Check (pacing jump): note 1");
  EXPECT_EQ(lines[10], "  9:00  Check (pacing jump): note 9");
  EXPECT_EQ(lines[11], "  … and 5 more in the session file");

  s.editorNotes = std::vector<Advisory>{{{1, 2}, "a"}};
  const std::vector<std::string> warnings{
      "Check — pacing jump: note 3",
      "Checks: 7 more notes in the session file",
      *cli::spokenNotesLine(s),
      "AI adjudication skipped — deterministic cut kept: your Claude sign-in has expired — open a "
      "terminal, run “claude”, log in, then use Retry AI Pass or re-cut",
      "Self-review: script beat not found in the cut: “hello”",
      "Self-review: script beat not found in the cut: “hello”",
      "Check — framing jump: not among the notes"};
  EXPECT_EQ(
      cli::closingWarnings(warnings, s),
      (std::vector<std::string>{"AI adjudication skipped — deterministic cut kept: your Claude sign-in has expired — "
                                "open a terminal, run “claude”, log in, then run kestrane retry-ai",
                                "Self-review: script beat not found in the cut: “hello”",
                                "Check — framing jump: not among the notes"}));

  Pipeline::Output output;
  output.session = s;
  output.packageDir = "/out/take 04 Kestrane.kestrane";
  output.fcpxmlURL = output.packageDir / "take 04.fcpxml";
  output.warnings = warnings;
  std::ostringstream out, err;
  {
    cli::Console console(out, err);
    cli::runReported([&](const Pipeline::ProgressCallback&) { return output; }, console);
  }
  const std::string text = out.str();
  const auto at = [&](const std::string& what) { return text.find(what); };
  EXPECT_LT(at("12:34 of footage"), at("Worth a listen:"));
  EXPECT_LT(at("Worth a listen:"), at("Warning: AI adjudication skipped"));
  EXPECT_LT(at("Warning: Check — framing jump"), at("Package: /out/take 04 Kestrane.kestrane\n"));
  EXPECT_TRUE(
      text.ends_with("Package: /out/take 04 Kestrane.kestrane\n"
                     "Open in Final Cut Pro: /out/take 04 Kestrane.kestrane/take 04.fcpxml\n"))
      << text;
  EXPECT_EQ(text.find("Check — pacing jump"), std::string::npos);
  EXPECT_EQ(text.find("Checks: 7 more"), std::string::npos);
}
