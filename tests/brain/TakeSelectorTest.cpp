#include "kestrane/brain/TakeSelector.hpp"

#include <memory>

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"
#include "kestrane/brain/DecisionState.hpp"

namespace kestrane {
namespace {

using namespace TakeSelector;
using testing::word;

const std::string kShip = "we ship the demo on friday morning.";
const std::string kLaunch = "the launch went well for everyone involved.";
const std::string kLaunchAgain = "the launch went really well for all of us.";  // alike, not confidently
const std::string kThanks = "thanks for watching everybody.";
// Lines unlike each other and unlike the ones above.
const std::vector<std::string> kOthers{
    "welcome back to our workshop today.",
    "birdhouses need sturdy cedar planks.",
    "measure twice before cutting anything.",
    "sand every edge until smooth.",
    "paint roofs bright cheerful colours.",
    "hang them somewhere quiet.",
    "sparrows prefer small round openings.",
    "clean nests each autumn.",
    "drill drainage holes underneath.",
    "galvanised screws resist rust.",
    "wrens arrive early spring.",
    "predators climb poles easily.",
    "baffles stop hungry squirrels.",
    "photograph visiting families quietly.",
    "share pictures with neighbours.",
    "volunteers maintain community gardens.",
};

// A recording built line by line; the stages run on its working state.
struct Recording {
  std::vector<Utterance> utts;
  Transcript transcript;
  std::vector<SilenceSpan> silences;
  std::optional<LevelData> levels;
  PipelineSettings settings;
  std::unique_ptr<DecisionState> state;

  int say(const std::string& text, double start, double end) {
    auto u = testing::utterance(static_cast<int>(utts.size()), text, start, end);
    transcript.words.insert(transcript.words.end(), u.words.begin(), u.words.end());
    utts.push_back(std::move(u));
    return utts.back().index;
  }
  DecisionState& begin(std::optional<std::string> script = std::nullopt) {
    state = std::make_unique<DecisionState>(transcript, utts, script ? scriptBeats(*script) : std::vector<TokenList>{},
                                            silences, levels, settings);
    return *state;
  }
  const Decision& result() const { return state->result; }
  std::vector<std::string> reasons() const {
    std::vector<std::string> texts;
    for (const auto& r : state->result.removals) texts.push_back(r.reason.value_or(""));
    return texts;
  }
  std::vector<std::string> notes() const {
    std::vector<std::string> texts;
    for (const auto& a : state->result.advisories) texts.push_back(a.note);
    return texts;
  }
};

using Texts = std::vector<std::string>;

TEST(TakeDecision, VerbalSlates) {
  Recording r;
  r.say("okay take two", 0, 1);
  r.say(kShip, 2, 5);
  r.say("let me try that again", 6, 7);
  r.say("and now we take two more boards and glue them together.", 8, 12);  // too long for a slate
  auto& s = r.begin();
  removeVerbalSlates(s);
  EXPECT_EQ(r.reasons(),
            (Texts{"verbal slate: \u201cokay take two\u201d", "verbal slate: \u201clet me try that again\u201d"}));
  EXPECT_EQ(r.result().removals[0], (Segment{{0, 1}, SegmentKind::flub, r.reasons()[0], std::nullopt}));
  // A slate at the very start has no neighbour; the line before a later one does.
  EXPECT_EQ(s.slateNeighbour, (std::vector<bool>{false, true, false, false}));
  EXPECT_TRUE(s.replacement.empty());
}

TEST(TakeDecision, FalseStartsAndStumbles) {
  {
    Recording r;
    r.say("the plan is", 0, 1);
    r.say("okay take two", 2, 3);
    r.say("the plan is to ship it today.", 4, 7);
    r.say("the plan is", 8, 9);  // the last utterance is never a false start
    auto& s = r.begin();
    removeVerbalSlates(s);
    removeFalseStarts(s);
    EXPECT_EQ(r.reasons(),
              (Texts{"verbal slate: \u201cokay take two\u201d", "false start (restarted in the next take)"}));
    EXPECT_EQ(s.replacement, (std::map<int, int>{{0, 2}}));  // the slate in between is skipped
  }
  auto stumbles = [](const std::string& first, std::vector<std::string> after) {
    Recording r;
    r.say(first, 0, 3);
    for (std::size_t k = 0; k < after.size(); ++k) r.say(after[k], 5.0 * (k + 1), 5.0 * (k + 1) + 3);
    auto& s = r.begin();
    removeStumbles(s);
    return std::make_pair(r.reasons(), s.replacement);
  };
  auto [retried, retriedMap] = stumbles("i was i was going home.", {"i was going home at noon today."});
  EXPECT_EQ(retried, (Texts{"stumbled fragment, re-attempted after"}));
  EXPECT_EQ(retriedMap, (std::map<int, int>{{0, 1}}));
  // Finished, with no longer attempt after it: kept.
  EXPECT_TRUE(stumbles("i was i was going home.", {kThanks}).first.empty());
  // Unfinished, and the longer attempt comes five utterances later.
  auto [dropped, droppedMap] = stumbles("i was i was going home and",
                                        {kOthers[0], kOthers[1], kOthers[2], kOthers[3], "i was going home at noon."});
  EXPECT_EQ(dropped, (Texts{"stumbled fragment, never finished"}));
  EXPECT_TRUE(droppedMap.empty());
}

TEST(TakeDecision, RunsOfLinesShareOneTakeGroup) {
  const Texts lines{"welcome to the quarterly product review.", "today we cover revenue growth and hiring.",
                    "finally we discuss plans for next year."};
  Recording r;
  for (int pass = 0; pass < 2; ++pass)
    for (std::size_t k = 0; k < lines.size(); ++k) r.say(lines[k], 20.0 * pass + 5.0 * k, 20.0 * pass + 5.0 * k + 4);
  auto& s = r.begin();
  removeRepeatedRuns(s);
  ASSERT_EQ(r.result().removals.size(), 3u);
  for (const auto& removal : r.result().removals) {
    EXPECT_EQ(removal.kind, SegmentKind::retakeRejected);
    EXPECT_EQ(removal.takeGroup, 1);
  }
  EXPECT_EQ(r.result().takeGroups, (std::vector<TakeGroupInfo>{{1, {20, 24}, std::nullopt}}));
  EXPECT_EQ(s.replacement, (std::map<int, int>{{0, 3}, {1, 4}, {2, 5}}));
  EXPECT_EQ(s.payoffExempt, (std::vector<bool>{true, true, true, false, false, false}));
}

TEST(TakeDecision, RepeatedTakesAndWinners) {
  {  // Three identical takes: the last wins, the others are removed and offered as alternates.
    Recording r;
    for (double at : {0.0, 5.0, 10.0}) r.say(kShip, at, at + 4);
    auto& s = r.begin();
    chooseRepeatedTakes(s);
    EXPECT_EQ(r.reasons(), (Texts{"take 1 of 3; kept take 3", "take 2 of 3; kept take 3"}));
    EXPECT_EQ(r.result().removals[1].takeGroup, 1);
    EXPECT_EQ(r.result().takeGroups,
              (std::vector<TakeGroupInfo>{{1, {10, 14}, std::vector<TimeRange>{{0, 4}, {5, 9}}}}));
    EXPECT_EQ(s.groupRoot, (std::vector<int>{0, 0, 0}));
  }
  {  // Alike but not confidently: kept with an advisory; the id is used up all the same.
    Recording r;
    r.say(kLaunch, 0, 4);
    r.say(kLaunchAgain, 5, 9);
    r.say(kShip, 200, 204);
    r.say(kShip, 205, 209);
    auto& s = r.begin();
    chooseRepeatedTakes(s);
    EXPECT_EQ(
        r.notes(),
        (Texts{"Possible alternate take of \u201cthe launch went really well for\u2026\u201d \u2014 kept; review"}));
    EXPECT_EQ(r.result().advisories[0].range, (TimeRange{0, 4}));
    EXPECT_EQ(r.reasons(), (Texts{"take 1 of 2; kept take 2"}));
    EXPECT_EQ(r.result().takeGroups, (std::vector<TakeGroupInfo>{{2, {205, 209}, std::vector<TimeRange>{{200, 204}}}}));
  }
  {  // A slate right after the first take makes the same pair confident; no alternate is close enough to list.
    Recording r;
    r.say(kLaunch, 0, 4);
    r.say("okay take two", 5, 6);
    r.say(kLaunchAgain, 7, 11);
    auto& s = r.begin();
    removeVerbalSlates(s);
    chooseRepeatedTakes(s);
    EXPECT_EQ(r.reasons(), (Texts{"verbal slate: \u201cokay take two\u201d", "take 1 of 2; kept take 2"}));
    EXPECT_EQ(r.result().takeGroups, (std::vector<TakeGroupInfo>{{1, {7, 11}, std::vector<TimeRange>{}}}));
    EXPECT_TRUE(r.notes().empty());
  }
}

TEST(TakeDecision, RepeatedTakeLimits) {
  auto removedAfterGrouping = [](const std::vector<std::pair<std::string, double>>& takes) {
    Recording r;
    for (const auto& [text, at] : takes) r.say(text, at, at + 4);
    auto& s = r.begin();
    chooseRepeatedTakes(s);
    std::vector<int> removed;
    for (int k = 0; k < s.count(); ++k)
      if (s.isRemoved(k)) removed.push_back(k);
    return removed;
  };
  // More than 180 s apart: never grouped.
  EXPECT_TRUE(removedAfterGrouping({{kShip, 0}, {kShip, 185}}).empty());
  // Fifteen utterances later is compared, sixteen is not.
  std::vector<std::pair<std::string, double>> takes{{kShip, 0}};
  for (int k = 0; k < 14; ++k) takes.push_back({kOthers[static_cast<std::size_t>(k)], 5.0 * (k + 1)});
  auto fifteenth = takes;
  fifteenth.push_back({kShip, 75});
  EXPECT_EQ(removedAfterGrouping(fifteenth), (std::vector<int>{0}));
  auto sixteenth = takes;
  sixteenth.push_back({kOthers[14], 75});
  sixteenth.push_back({kShip, 80});
  EXPECT_TRUE(removedAfterGrouping(sixteenth).empty());
  // A union spanning more than 90 s is refused: the third take stays on its own.
  EXPECT_EQ(removedAfterGrouping({{kShip, 0}, {kShip, 50}, {kShip, 100}}), (std::vector<int>{0}));
}

TEST(TakeDecision, DuplicateLines) {
  auto run = [](const std::vector<std::pair<std::string, double>>& lines, std::optional<bool> dedup = std::nullopt) {
    auto r = std::make_unique<Recording>();
    for (const auto& [text, at] : lines) r->say(text, at, at + 4);
    r->settings.dedupRepeatedLines = dedup;
    removeDuplicateLines(r->begin());
    return r;
  };
  {
    auto r = run({{kShip, 0}, {kShip, 200}});
    EXPECT_EQ(r->reasons(), (Texts{"duplicate line \u2014 kept the later rendition at 3:20"}));
    EXPECT_EQ(r->result().removals[0].takeGroup, 1);
    EXPECT_EQ(r->result().takeGroups, (std::vector<TakeGroupInfo>{{1, {200, 204}, std::nullopt}}));
    EXPECT_TRUE(r->state->nearDuplicates.empty());
    EXPECT_EQ(run({{kShip, 0}, {kShip, 200}}, true)->reasons().size(), 1u);
    EXPECT_TRUE(run({{kShip, 0}, {kShip, 200}}, false)->reasons().empty());
  }
  {  // Members of one take group are never duplicates of each other.
    Recording r;
    r.say(kShip, 0, 4);
    r.say(kShip, 200, 204);
    auto& s = r.begin();
    s.groupRoot = {0, 0};
    removeDuplicateLines(s);
    EXPECT_TRUE(r.reasons().empty());
  }
  {  // A finished near-duplicate close by is removed and remembered.
    auto r = run({{kLaunch, 0}, {kLaunchAgain, 30}});
    EXPECT_EQ(r->reasons(), (Texts{"near-duplicate line \u2014 kept the later rendition at 0:30"}));
    EXPECT_EQ(r->state->nearDuplicates, (std::vector<std::pair<int, double>>{{1, 0.0}}));
    EXPECT_TRUE(r->state->payoffExempt[0]);
  }
  {  // Far apart it only gets one advisory, however many renditions follow.
    auto r = run({{kLaunch, 0}, {kLaunchAgain, 200}, {kLaunchAgain, 400}});
    EXPECT_EQ(r->notes(), (Texts{"Possible duplicate line \u2014 also said at 3:20; kept both"}));
    EXPECT_EQ(r->reasons(), (Texts{"duplicate line \u2014 kept the later rendition at 6:40"}));
  }
  // Barely alike and finished: kept without a word, near or far.
  EXPECT_TRUE(run({{kShip, 0}, {"on friday morning the team ships it.", 30}})->reasons().empty());
  EXPECT_TRUE(run({{kShip, 0}, {"on friday morning the team ships it.", 300}})->notes().empty());
  {  // An unfinished delivery goes when it is close, and is pointed out when it is not.
    const std::string hanging = "the launch went well for everyone and";
    auto close = run({{hanging, 0}, {kLaunchAgain, 30}});
    EXPECT_EQ(close->reasons(), (Texts{"near-duplicate, unfinished delivery \u2014 kept the later rendition at 0:30"}));
    auto far = run({{hanging, 0}, {kLaunchAgain, 100}});
    EXPECT_TRUE(far->reasons().empty());
    EXPECT_EQ(far->notes(), (Texts{"Possible duplicate line \u2014 also said at 1:40; kept both"}));
  }
}

TEST(TakeDecision, OffMicChatterAndRoomTalk) {
  {  // Talk under the silence floor that matches no script line goes; a script line stays.
    Recording r;
    r.say(kShip, 0, 4);
    r.say("can someone get the door please", 5, 9);
    r.say(kShip, 10, 14);
    r.silences = {{{5.5, 8.0}, -55}, {{10.0, 12.0}, -55}};
    auto& s = r.begin(kShip);
    removeOffMicChatter(s);
    EXPECT_EQ(r.reasons(),
              (Texts{"off-mic chatter \u2014 mostly below the silence floor, matches nothing in the script"}));
    EXPECT_EQ(r.result().removals[0].range, (TimeRange{5, 9}));
    Recording unscripted;
    unscripted.say("can someone get the door please", 5, 9);
    unscripted.silences = r.silences;
    removeOffMicChatter(unscripted.begin());
    EXPECT_TRUE(unscripted.reasons().empty());
  }
  {  // An island of talk between quiet conversation, unless a removal already holds it.
    auto island = [](bool alreadyCut) {
      Recording r;
      r.say("mumbled words here", 10.2, 11.1);
      r.say("hang tight", 13.1, 13.8);
      r.say("more mumbled words", 14.2, 15.1);
      r.say(kShip, 20, 24);
      r.silences = {{{10, 13}, -60}, {{14, 17}, -60}};
      auto& s = r.begin(kShip);
      if (alreadyCut) s.remove(1, SegmentKind::flub, "cut before");
      removeOffMicChatter(s);
      return r.result().removals;
    };
    auto found = island(false);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2], (Segment{{13.1, 13.8},
                                 SegmentKind::flub,
                                 "off-mic chatter \u2014 conversation continues under the silence floor on both sides",
                                 std::nullopt}));
    EXPECT_EQ(island(true).size(), 3u);  // the earlier cut, and the two quiet lines
  }
  // Room talk: a quiet exchange beside a stopped take.
  auto roomTalk = [](std::optional<TimeRange> alreadyCut) {
    auto r = std::make_unique<Recording>();
    std::vector<TranscriptWord> exchange{word("Okay.", 8.0, 8.4), word("Yeah.", 8.9, 9.3), word("Sorry,", 9.8, 10.2),
                                         word("right.", 10.2, 10.6)};
    r->say("this is the plan we ship today and it works.", 0, 5);
    Utterance talk;
    talk.index = 1;
    talk.words = exchange;
    talk.tokens = TextAlign::tokens("Okay. Yeah. Sorry, right.");
    talk.range = {8.0, 10.6};
    r->utts.push_back(talk);
    r->transcript.words.insert(r->transcript.words.end(), exchange.begin(), exchange.end());
    std::vector<float> values(1200, -20.0f);
    for (int hop = 790; hop < 1080; ++hop) values[static_cast<std::size_t>(hop)] = -28.0f;
    r->levels = LevelData::fromLevels(0.01, values);
    auto& s = r->begin();
    s.remove(0, SegmentKind::flub, "stopped");
    if (alreadyCut) s.result.removals.push_back(Segment{*alreadyCut, SegmentKind::flub, "earlier", std::nullopt});
    removeRoomTalk(s);
    return r;
  };
  auto talk = roomTalk(std::nullopt);
  ASSERT_EQ(talk->result().removals.size(), 2u);
  EXPECT_EQ(talk->result().removals[1].range, (TimeRange{8.0, 10.6}));
  EXPECT_EQ(talk->reasons()[1],
            "off-mic chatter \u2014 talking to the room, not the audience (8 dB under the presenting baseline, "
            "beside a stopped take)");
  EXPECT_TRUE(talk->state->isRemoved(1));
  EXPECT_EQ(talk->state->kind[1], SegmentKind::flub);
  EXPECT_FALSE(talk->state->removalPosition.count(1));
  // Half of it already cut: nothing is added and the utterance stays.
  auto halfCut = roomTalk(TimeRange{8.0, 9.4});
  EXPECT_EQ(halfCut->result().removals.size(), 2u);
  EXPECT_FALSE(halfCut->state->isRemoved(1));
}

// Two deliveries of four lines 120 s apart; the cut keeps lines 1, 2 and 4 of
// the first and line 3 of the second (a stray).
struct MixedRun {
  Recording r;
  explicit MixedRun(std::string thirdLine = "first measure each board twice before cutting anything.",
                    SegmentKind counterpartKind = SegmentKind::retakeRejected) {
    const Texts lines{"welcome back to the workshop everyone today.",
                      "our topic is building birdhouses from scrap wood.", thirdLine,
                      "then sand the edges until they feel smooth."};
    for (double at : {0.0, 120.0})
      for (std::size_t k = 0; k < 4; ++k)
        r.say(at == 0.0 ? lines[k] : (k == 2 ? "first measure each board twice before cutting anything." : lines[k]),
              at + 5.0 * k, at + 5.0 * k + 4);
    kind = counterpartKind;
  }
  DecisionState& cut() {
    auto& s = r.begin();
    std::int64_t id = s.nextTakeId();
    s.remove(2, kind, "take 1 of 2; kept take 2", id, 6);
    s.result.takeGroups.push_back({id, s.at(6).range, std::vector<TimeRange>{s.at(2).range}});
    for (int k : {4, 5, 7}) s.remove(k, SegmentKind::retakeRejected, "earlier run", std::nullopt, k - 4);
    return s;
  }
  SegmentKind kind;
};

TEST(TakeDecision, RunCoherenceRepairs) {
  {
    MixedRun mixed;
    auto& s = mixed.cut();
    repairMixedRuns(s);
    EXPECT_FALSE(s.isRemoved(2));
    EXPECT_TRUE(s.isRemoved(6));
    EXPECT_EQ(mixed.r.reasons(),
              (Texts{"earlier run", "earlier run", "earlier run",
                     "broke up a run of lines \u2014 kept the rendition at 0:10, delivered with the lines around it"}));
    EXPECT_EQ(s.result.removals.back().takeGroup, 2);
    EXPECT_EQ(s.replacement.at(6), 2);
    EXPECT_EQ(s.removalPosition.at(6), 3u);
    EXPECT_EQ(s.removalPosition.at(4), 0u);  // rebuilt after the deletion
    // The group that had kept the stray now names the restored rendition.
    EXPECT_EQ(s.result.takeGroups, (std::vector<TakeGroupInfo>{{1, {10, 14}, std::vector<TimeRange>{{10, 14}}},
                                                               {2, {10, 14}, std::nullopt}}));
    EXPECT_EQ(mixed.r.notes(),
              (Texts{"Kept this rendition to hold the run together \u2014 the take at 2:10 was removed; review"}));
    EXPECT_TRUE(s.payoffExempt[6]);
  }
  {  // The run's own rendition was cut for another reason: only a note.
    MixedRun mixed("first measure each board twice before cutting anything.", SegmentKind::flub);
    auto& s = mixed.cut();
    repairMixedRuns(s);
    EXPECT_TRUE(s.isRemoved(2));
    EXPECT_EQ(mixed.r.notes(), (Texts{"Mixed run \u2014 this line was delivered again at 0:10 with the lines around "
                                      "it, but that rendition was cut for another reason; review"}));
  }
  {  // Another rendition of the line is already in the cut.
    MixedRun mixed;
    mixed.r.say("first measure each board twice before cutting anything.", 400, 404);
    auto& s = mixed.cut();
    repairMixedRuns(s);
    EXPECT_TRUE(s.isRemoved(2));
    EXPECT_EQ(mixed.r.notes(), (Texts{"Mixed run \u2014 the rendition at 0:10 belongs with the lines around it, but "
                                      "another rendition of that line is already in the cut; review"}));
  }
  {  // Room talk still cuts into the run's own rendition: it is not brought back, and the note says why.
    MixedRun mixed;
    auto& s = mixed.cut();
    s.result.removals.push_back(Segment{{12, 20}, SegmentKind::flub, "room talk", std::nullopt});
    const auto removals = s.result.removals;
    repairMixedRuns(s);
    EXPECT_TRUE(s.isRemoved(2));
    EXPECT_FALSE(s.isRemoved(6));
    EXPECT_EQ(s.result.removals, removals);
    EXPECT_EQ(mixed.r.notes(), (Texts{"Mixed run \u2014 this line was delivered again at 0:10 with the lines around "
                                      "it, but that rendition was cut for another reason; review"}));
  }
  {  // The run's own rendition broke off: explained, not repaired.
    MixedRun mixed("first measure each board");
    auto& s = mixed.cut();
    repairMixedRuns(s);
    EXPECT_TRUE(s.isRemoved(2));
    EXPECT_EQ(mixed.r.notes(), (Texts{"Mixed run \u2014 this line was delivered again at 0:10 with the lines around "
                                      "it, but the run's own rendition breaks off early; review"}));
  }
}

TEST(TakeDecision, RestoringLostLines) {
  {  // Every rendition gone: the group's winner alone comes back.
    Recording r;
    r.say(kShip, 0, 4);
    r.say(kShip, 5, 9);
    r.say(kThanks, 10, 13);
    auto& s = r.begin();
    s.remove(0, SegmentKind::retakeRejected, "take 1", 1, 1);
    s.remove(1, SegmentKind::retakeRejected, "take 2", 1, 2);
    s.remove(2, SegmentKind::flub, "cut");
    restoreLostLines(s);
    EXPECT_TRUE(s.isRemoved(0));
    EXPECT_FALSE(s.isRemoved(1));
    EXPECT_EQ(r.reasons(), (Texts{"take 1", "cut"}));
    EXPECT_EQ(r.notes(), (Texts{"Restored \u2014 no other take of \u201cwe ship the demo on friday\u2026\u201d "
                                "survived the edit; review"}));
    EXPECT_TRUE(s.removalPosition.empty());
  }
  auto lostPayoff = [](const std::string& keptLine, bool exempt, bool coveredElsewhere) {
    auto r = std::make_unique<Recording>();
    r->say(kShip, 0, 4);
    r->say(keptLine, 5, 9);
    auto& s = r->begin();
    s.remove(0, SegmentKind::retakeRejected, "replaced", 1, 1);
    s.payoffExempt[0] = exempt;
    if (coveredElsewhere) s.result.removals.push_back(Segment{{-1, 4.5}, SegmentKind::flub, "room talk", std::nullopt});
    restoreLostLines(*r->state);
    return r;
  };
  // The replacement lost the payoff word: the line comes back.
  EXPECT_FALSE(lostPayoff("the demo goes out soon.", false, false)->state->isRemoved(0));
  // The replacement still says "morning", or the loser was exempt: it stays cut.
  EXPECT_TRUE(lostPayoff("the team ships it friday morning.", false, false)->state->isRemoved(0));
  EXPECT_TRUE(lostPayoff("the demo goes out soon.", true, false)->state->isRemoved(0));
  // Another removal still covers it: restoring would be a claim the cut does not keep.
  auto covered = lostPayoff("the demo goes out soon.", false, true);
  EXPECT_TRUE(covered->state->isRemoved(0));
  EXPECT_TRUE(covered->notes().empty());
  EXPECT_EQ(covered->result().removals.size(), 2u);

  {  // Near-duplicates removed earlier are pointed out beside the kept rendition.
    Recording r;
    r.say(kLaunch, 0, 4);
    r.say(kLaunchAgain, 65, 69);
    auto& s = r.begin();
    s.nearDuplicates = {{1, 65.0}, {0, 70.0}};
    s.remove(0, SegmentKind::retakeRejected, "removed");
    restoreLostLines(s);
    EXPECT_EQ(r.notes(), (Texts{"Kept this rendition \u2014 near-duplicate at 1:05 was removed; review"}));
    EXPECT_EQ(r.result().advisories[0].range, (TimeRange{65, 69}));
  }
}

TEST(TakeDecision, UnfinishedLinesAndOrphans) {
  const std::string hanging = "so the plan is to ship the demo and";
  const std::string complete = "so the plan is to ship the demo on friday.";
  {
    Recording r;
    r.say(hanging, 0, 4);
    r.say(complete, 5, 9);
    r.say(kThanks, 12, 15);
    auto& s = r.begin();
    s.remove(1, SegmentKind::retakeRejected, "take 1 of 2; kept take 2", 1, 0);
    s.result.takeGroups.push_back({1, {0, 4}, std::nullopt});
    swapUnfinishedLines(s);
    EXPECT_FALSE(s.isRemoved(1));
    EXPECT_TRUE(s.isRemoved(0));
    EXPECT_EQ(r.reasons(), (Texts{"unfinished delivery \u2014 swapped for the completed take at 0:05"}));
    EXPECT_FALSE(r.result().removals[0].takeGroup);
    EXPECT_EQ(r.result().takeGroups, (std::vector<TakeGroupInfo>{{1, {5, 9}, std::nullopt}}));
    EXPECT_EQ(r.notes(),
              (Texts{"Swapped in this completed rendition \u2014 the take at 0:00 ended unfinished; review"}));
  }
  auto swapped = [&](std::vector<std::pair<std::string, double>> removedTakes, bool nextGoesOn, bool covered) {
    Recording r;
    r.say(hanging, 0, 4);
    if (nextGoesOn) r.say("on friday afternoon.", 5, 6);  // less than 2 s after the line
    else r.say(kThanks, 7, 8);
    for (const auto& [text, at] : removedTakes) r.say(text, at, at + 4);
    auto& s = r.begin();
    for (int k = 2; k < s.count(); ++k) s.remove(k, SegmentKind::retakeRejected, "take", std::nullopt, 0);
    if (covered) s.result.removals.push_back(Segment{{9, 30}, SegmentKind::flub, "room talk", std::nullopt});
    swapUnfinishedLines(s);
    for (int k = 2; k < s.count(); ++k)
      if (!s.isRemoved(k)) return k;
    return -1;
  };
  // The line goes on in the very next utterance: left alone.
  EXPECT_EQ(swapped({{complete, 10}}, true, false), -1);
  EXPECT_EQ(swapped({{complete, 10}}, false, false), 2);
  // Equally good completions: the later one.
  EXPECT_EQ(swapped({{complete, 10}, {complete, 20}}, false, false), 3);
  // A completion that another removal would still cut is never swapped in.
  EXPECT_EQ(swapped({{complete, 10}}, false, true), -1);

  {  // Orphans: short fragments beside a cut take go, one after another.
    Recording r;
    r.say(kShip, 0, 4);
    r.say("um okay", 5, 6);
    r.say("right", 7, 8);
    r.say(kThanks, 9, 12);
    r.say("alright then", 13, 14);  // between two kept lines... and the end
    auto& s = r.begin();
    s.remove(0, SegmentKind::retakeRejected, "take");
    swapUnfinishedLines(s);
    EXPECT_EQ(r.reasons(), (Texts{"take", "orphan fragment beside a cut take", "orphan fragment beside a cut take"}));
    EXPECT_FALSE(s.isRemoved(4));
  }
}

TEST(TakeDecision, FillersAndOrder) {
  Transcript t;
  t.words = {word("So", 0, 0.3),   word("um,", 0.3, 0.5),    word("we", 0.5, 0.8),   word("ship.", 0.8, 1.1),
             word("uh", 1.1, 1.2), word("Hmm...", 1.2, 1.5), word("done.", 1.5, 1.8)};
  auto settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  auto only = fillersOnly(t, settings);
  // "uh" lasts 0.1 s; trailing punctuation does not hide a filler.
  ASSERT_EQ(only.removals.size(), 2u);
  EXPECT_EQ(only.removals[0], (Segment{{0.3, 0.5}, SegmentKind::filler, "\u201cum,\u201d", std::nullopt}));
  EXPECT_EQ(only.removals[1].reason, "\u201cHmm...\u201d");
  EXPECT_TRUE(only.advisories.empty());
  settings.removeFillers = false;
  EXPECT_EQ(fillersOnly(t, settings), Decision{});

  // Equal starts keep the order they were made in.
  t.words = {word("um", 2, 2.3), word("uh", 2, 2.2), word("erm", 1, 1.2)};
  settings.removeFillers = true;
  only = fillersOnly(t, settings);
  ASSERT_EQ(only.removals.size(), 3u);
  EXPECT_EQ(only.removals[1].reason, "\u201cum\u201d");
  EXPECT_EQ(only.removals[2].reason, "\u201cuh\u201d");

  // A filler heard over the end of one word and the start of the next leaves both words whole;
  // a filler beside it is not a word to protect.
  t.words = {word("from", 0, 0.52), word("um", 0.48, 0.8), word("uh", 0.8, 1.0), word("we", 0.95, 1.3)};
  only = fillersOnly(t, settings);
  ASSERT_EQ(only.removals.size(), 2u);
  EXPECT_EQ(only.removals[0].range, (TimeRange{0.52, 0.8}));
  EXPECT_EQ(only.removals[1].range, (TimeRange{0.8, 0.95}));

  // Inside the decision a filler already covered by a removal stays put.
  Recording r;
  r.say("um okay take two", 0, 2);
  r.say("we um ship the demo.", 3, 6);
  auto& s = r.begin();
  removeVerbalSlates(s);
  removeFillers(s, true);
  EXPECT_EQ(r.reasons(), (Texts{"verbal slate: \u201cum okay take two\u201d", "\u201cum\u201d"}));
}

TEST(TakeDecision, DecideEndToEnd) {
  auto settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  EXPECT_EQ(decide({}, std::string("A script line here."), {}, std::nullopt, settings), Decision{});

  Recording r;
  // A quarter second per word keeps every time exact.
  r.say("okay take two", 0, 0.75);
  r.say("the plan is", 2, 2.75);
  r.say("the plan is to ship it today.", 4, 5.75);
  for (double at : {8.0, 11.0, 14.0}) r.say(kShip, at, at + 1.75);
  r.say(kThanks, 17, 18);
  r.transcript.words.push_back(word("um.", 19, 19.25));  // a filler on its own, well after
  auto decision = decide(r.transcript, std::nullopt, {}, std::nullopt, settings);
  std::vector<std::string> reasons;
  for (const auto& removal : decision.removals) reasons.push_back(removal.reason.value_or(""));
  EXPECT_EQ(reasons, (Texts{"verbal slate: \u201cokay take two\u201d", "false start (restarted in the next take)",
                            "take 1 of 3; kept take 3", "take 2 of 3; kept take 3", "\u201cum.\u201d"}));
  EXPECT_EQ(decision.takeGroups,
            (std::vector<TakeGroupInfo>{{1, {14, 15.75}, std::vector<TimeRange>{{8, 9.75}, {11, 12.75}}}}));
  EXPECT_TRUE(decision.advisories.empty());
  EXPECT_TRUE(std::is_sorted(decision.removals.begin(), decision.removals.end(),
                             [](const Segment& a, const Segment& b) { return a.range.start < b.range.start; }));
}

}  // namespace
}  // namespace kestrane
