// `kestrane cut` on a terminal: each long stage is one line that redraws itself as it moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "cli/ProgramRun.hpp"
#include "pipeline/TestSupport.hpp"

using namespace kestrane;

TEST(Terminal, LongStagesShowAMovingPercentage) {
  test::TempDir tmp;
  const test::ProgramRun run =
      test::runOnTerminal({"cut", test::sampleFootage().string(), "--out", (tmp.path() / "out").string(), "--mp4"});
  ASSERT_EQ(run.status, 0) << run.out;

  // Every redraw returns to the line's start and clears what an older, longer text left.
  std::map<std::string, std::vector<int>> percentages;
  const std::regex redraw("\r([A-Z][a-z ]+?) +([0-9]+)%  [0-9]+:[0-9]{2} elapsed[^\r]*\x1b\\[K");
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), redraw), end; it != end; ++it) {
    percentages[(*it)[1]].push_back(std::stoi((*it)[2]));
  }
  for (const char* stage : {"Transcribing every word", "Rendering rough cut"}) {
    const std::vector<int>& seen = percentages[stage];
    ASSERT_FALSE(seen.empty()) << stage << "\n" << run.out;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << stage << " never goes back";
    EXPECT_LE(seen.back(), 100);
  }
  const std::vector<int>& render = percentages["Rendering rough cut"];
  EXPECT_GT(std::set<int>(render.begin(), render.end()).size(), 1u) << run.out;

  // A finished stage keeps its label and time; the closing lines follow as plain lines.
  EXPECT_TRUE(std::regex_search(run.out, std::regex("\rTranscribing every word  [0-9]+:[0-9]{2}\x1b\\[K\r\n")))
      << run.out;
  EXPECT_NE(run.out.find("\r\nDone in "), std::string::npos);
}

// Ctrl-C on a terminal: the stage line ends, "Stopping…" stands on a line of its own, and the
// program exits as stopped (a thread that let the signal through would end it at once instead).
TEST(Terminal, InterruptIsAcknowledgedOnItsOwnLine) {
  if (!test::kCanHoldPrograms) GTEST_SKIP() << "the program can't be held at a line on this machine";
  test::TempDir tmp;
  const test::ProgramRun run = test::runOnTerminal(
      {"cut", test::sampleFootage().string(), "--out", (tmp.path() / "out").string()}, "\rTranscribing every word");
  EXPECT_EQ(run.status, 130) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("\x1b\\[K\r\nStopping…\r\nkestrane: The cut was cancelled.\r\n$")))
      << run.out;
}
