#include "kestrane/brain/ReviewLoop.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane;
using ReviewLoop::Step;
using ReviewLoop::Stop;

TEST(ReviewLoop, StepRulesApplyInOrder) {
  // No self-review for the two light levels, whatever else is passed.
  for (auto t : {Thoroughness::silencesOnly, Thoroughness::fast}) {
    EXPECT_EQ(ReviewLoop::step(0, t, 0, false, true), Step::stopped(Stop::disabled));
    EXPECT_EQ(ReviewLoop::step(3, t, 5000, true, false), Step::stopped(Stop::disabled));
  }
  EXPECT_EQ(ReviewLoop::step(0, Thoroughness::balanced, 0, false, true), Step::run(0));
  // The round limit is looked at before cleanliness and change.
  EXPECT_EQ(ReviewLoop::step(1, Thoroughness::balanced, 0, true, false), Step::stopped(Stop::roundLimit));
  EXPECT_EQ(ReviewLoop::step(4, Thoroughness::meticulous, 0, true, false), Step::stopped(Stop::roundLimit));
  EXPECT_EQ(ReviewLoop::step(2, Thoroughness::meticulous, 0, true, false), Step::stopped(Stop::clean));
  EXPECT_EQ(ReviewLoop::step(2, Thoroughness::meticulous, 0, false, false), Step::stopped(Stop::unchanged));
  EXPECT_EQ(ReviewLoop::step(2, Thoroughness::meticulous, 0, false, true), Step::run(2));
  // A round runs while elapsed + 90 s still fits in the budget.
  EXPECT_EQ(ReviewLoop::step(1, Thoroughness::meticulous, 810, false, true), Step::run(1));
  EXPECT_EQ(ReviewLoop::step(1, Thoroughness::meticulous, 810.5, false, true), Step::stopped(Stop::timeBudget));
  EXPECT_EQ(ReviewLoop::step(0, Thoroughness::balanced, 510, false, true), Step::run(0));
  EXPECT_EQ(ReviewLoop::step(0, Thoroughness::balanced, 511, false, true), Step::stopped(Stop::timeBudget));
  EXPECT_EQ(ReviewLoop::step(0, Thoroughness::balanced, std::nan(""), false, true), Step::stopped(Stop::timeBudget));
}

TEST(ReviewLoop, WarningsNameTheRoundsRun) {
  EXPECT_FALSE(ReviewLoop::warning(Stop::disabled, 0));
  EXPECT_FALSE(ReviewLoop::warning(Stop::clean, 2));
  EXPECT_FALSE(ReviewLoop::warning(Stop::unchanged, 3));
  EXPECT_FALSE(ReviewLoop::warning(Stop::roundLimit, 1));
  EXPECT_EQ(ReviewLoop::warning(Stop::roundLimit, 4),
            "Self-review stopped after 4 rounds (the limit) — remaining notes are in the session file");
  EXPECT_EQ(ReviewLoop::warning(Stop::timeBudget, 1),
            "Self-review stopped on its time budget after 1 round — remaining notes are in the session file");
  EXPECT_EQ(ReviewLoop::warning(Stop::timeBudget, 0),
            "Self-review stopped on its time budget after 0 rounds — remaining notes are in the session file");
  EXPECT_EQ(ReviewLoop::warning(Stop::timeBudget, 2),
            "Self-review stopped on its time budget after 2 rounds — remaining notes are in the session file");
}
