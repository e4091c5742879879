#include "kestrane/brain/RunSelector.hpp"

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using RunSelector::Choice;
using TakeSelector::Utterance;
using testing::utterance;

const std::string kLine1 = "welcome to the quarterly product review.";
const std::string kLine2 = "today we cover revenue growth and hiring.";
const std::string kLine3 = "finally we discuss plans for next year.";

// Two readings of the same three lines: the first from `firstAt`, the
// second from `secondAt`, each line 4 s long with 1 s between lines.
std::vector<Utterance> twoReadings(std::vector<std::string> first, std::vector<std::string> second, double firstAt = 0,
                                   double secondAt = 20) {
  std::vector<Utterance> utts;
  for (std::size_t k = 0; k < first.size(); ++k)
    utts.push_back(utterance(static_cast<int>(utts.size()), first[k], firstAt + 5.0 * k, firstAt + 5.0 * k + 4));
  for (std::size_t k = 0; k < second.size(); ++k)
    utts.push_back(utterance(static_cast<int>(utts.size()), second[k], secondAt + 5.0 * k, secondAt + 5.0 * k + 4));
  return utts;
}

std::set<int> all(const std::vector<Utterance>& utts) {
  std::set<int> indices;
  for (const auto& u : utts) indices.insert(u.index);
  return indices;
}

std::vector<Choice> choose(const std::vector<Utterance>& utts) { return RunSelector::choose(utts, all(utts), {}, {}); }

TEST(RunSelector, Stamp) {
  EXPECT_EQ(RunSelector::stamp(75.9), "1:15");
  EXPECT_EQ(RunSelector::stamp(0), "0:00");
  EXPECT_EQ(RunSelector::stamp(3600), "60:00");
}

TEST(RunSelector, LaterCompleteRunWinsAndMapsEveryLine) {
  auto utts = twoReadings({kLine1, kLine2, kLine3}, {kLine1, kLine2, kLine3});
  auto groups = RunSelector::detect(utts, all(utts));
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].runs.size(), 2u);
  EXPECT_EQ(groups[0].runs[0].members, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(groups[0].runs[1].start, 20);
  EXPECT_EQ(groups[0].runs[1].end, 34);

  const std::string reason = "repeated run of lines \u2014 kept the last complete run-through of these 3 lines at 0:20";
  EXPECT_EQ(choose(utts), (std::vector<Choice>{{0, 3, reason, 1}, {1, 4, reason, 1}, {2, 5, reason, 1}}));

  // Utterances no longer available take no part.
  EXPECT_TRUE(RunSelector::choose(utts, {0, 1, 2}, {}, {}).empty());
}

TEST(RunSelector, NoGroupWithoutRepeatedPassages) {
  EXPECT_TRUE(choose({}).empty());
  // One reading only.
  EXPECT_TRUE(choose(twoReadings({kLine1, kLine2, kLine3}, {})).empty());
  // The same passage read again too late: first start to last end over 300 s.
  EXPECT_TRUE(choose(twoReadings({kLine1, kLine2, kLine3}, {kLine1, kLine2, kLine3}, 0, 290)).empty());
  // Takes of one line in a row never chain as two lines.
  auto same = twoReadings({kLine1, kLine1}, {kLine1, kLine1});
  EXPECT_TRUE(RunSelector::chains(RunSelector::anchors(same, all(same)), same).empty());
  EXPECT_TRUE(choose(same).empty());
}

TEST(RunSelector, CleanerEarlierRunAndIncompleteRuns) {
  // The later reading stumbles on every line: the earlier one is clearly cleaner.
  auto utts = twoReadings({kLine1, kLine2, kLine3}, {"um welcome to the um quarterly product review.",
                                                     "today we uh cover revenue growth um and hiring.",
                                                     "finally we um discuss plans uh for next year."});
  auto choices = choose(utts);
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[0].loser, 3);
  EXPECT_EQ(choices[0].winner, 0);
  EXPECT_EQ(choices[0].reason, "repeated run of lines \u2014 kept the cleanest run-through of these 3 lines at 0:00");

  // No run ends its lines: the last run stands.
  auto open = twoReadings({"welcome to the quarterly product review", "today we cover revenue growth and hiring",
                           "finally we discuss plans for next year"},
                          {"welcome to the quarterly product review", "today we cover revenue growth and hiring",
                           "finally we discuss plans for next year"});
  choices = choose(open);
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[0].winner, 3);
  EXPECT_EQ(choices[0].reason, "repeated run of lines \u2014 kept the last run-through of these 3 lines at 0:20");
}

TEST(RunSelector, UnfinishedKeptLineIsSwappedForACompleteOne) {
  auto utts = twoReadings({kLine1, kLine2, kLine3}, {kLine1, "today we cover revenue growth and", kLine3});
  auto choices = choose(utts);
  const std::string reason = "repeated run of lines \u2014 kept the last complete run-through of these 3 lines at 0:20";
  EXPECT_EQ(choices, (std::vector<Choice>{{0, 3, reason, 1},
                                          {2, 5, reason, 1},
                                          {4, 1,
                                           "unfinished line inside the kept run \u2014 swapped for the complete "
                                           "rendition at 0:05",
                                           1}}));

  // A line that only looks finished but is the start of another run's
  // line is unfinished too, and swapped when the other is clearly better.
  auto cut = twoReadings({kLine1, kLine2, kLine3}, {kLine1, "today we cover revenue.", kLine3});
  choices = choose(cut);
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[2].loser, 4);
  EXPECT_EQ(choices[2].winner, 1);

  // Not swapped when the other rendition is not clearly better.
  auto close = twoReadings({kLine1, "today we cover um revenue growth and hiring.", kLine3},
                           {kLine1, "today we cover revenue.", kLine3});
  choices = choose(close);
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[1].loser, 1);
  EXPECT_EQ(choices[1].winner, 4);
  for (const auto& c : choices) EXPECT_TRUE(c.reason.starts_with("repeated run of lines")) << c.reason;
}

}  // namespace
}  // namespace kestrane
