#include "kestrane/brain/ChatterDetector.hpp"

#include <gtest/gtest.h>

#include "brain/TestUtterances.hpp"

namespace kestrane {
namespace {

using ChatterDetector::Cluster;
using TakeSelector::Utterance;
using testing::word;

Utterance fromWords(int index, std::vector<TranscriptWord> words) {
  Utterance u;
  u.index = index;
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : " ") + w.text;
  u.tokens = TextAlign::tokens(text);
  u.range = {words.front().range.start, words.back().range.end};
  u.words = std::move(words);
  return u;
}

// A presenting line at -20 dBFS, then an exchange with the room 8 dB quieter:
// "Okay." "Yeah." "Sorry, right." half a second apart.
struct Room {
  std::vector<TranscriptWord> exchange{word("Okay.", 8.0, 8.4), word("Yeah.", 8.9, 9.3), word("Sorry,", 9.8, 10.2),
                                       word("right.", 10.2, 10.6)};
  std::vector<Utterance> utts() const {
    std::vector<TranscriptWord> line;
    const char* texts[] = {"This", "is", "the", "plan", "we", "ship", "today", "and", "it", "works."};
    for (int k = 0; k < 10; ++k) line.push_back(word(texts[k], 0.5 * k, 0.5 * k + 0.5));
    return {fromWords(0, line), fromWords(1, exchange)};
  }
  static LevelData levels() {
    std::vector<float> values(1200, -20.0f);
    for (int hop = 790; hop < 1080; ++hop) values[static_cast<std::size_t>(hop)] = -28.0f;
    return LevelData::fromLevels(0.01, values);
  }
};

const std::vector<TimeRange> kFlub{{0, 5}};

TEST(ChatterDetector, QuietExchangeBesideAStoppedTake) {
  Room room;
  auto found = ChatterDetector::clusters(room.utts(), {}, Room::levels(), {}, kFlub);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].range, (TimeRange{8.0, 10.6}));
  EXPECT_EQ(found[0].text, "Okay. Yeah. Sorry, right.");
  EXPECT_EQ(found[0].signals,
            (std::vector<std::string>{"8 dB under the presenting baseline", "beside a stopped take"}));
  EXPECT_EQ(found[0].reason(),
            "off-mic chatter \u2014 talking to the room, not the audience (8 dB under the presenting baseline, "
            "beside a stopped take)");

  // One measurement is not enough: no levels leaves only the stopped take...
  EXPECT_TRUE(ChatterDetector::clusters(room.utts(), {}, std::nullopt, {}, kFlub).empty());
  // ...unless the exchange also lies under the silence floor.
  std::vector<SilenceSpan> floor{{{7.9, 10.7}, -50}};
  found = ChatterDetector::clusters(room.utts(), floor, std::nullopt, {}, kFlub);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].signals, (std::vector<std::string>{"mostly under the silence floor", "beside a stopped take"}));

  // A stoppage more than 12 s away does not count, but a long silence right before the exchange does.
  const std::vector<TimeRange> farFlub{{30, 35}};
  EXPECT_TRUE(ChatterDetector::clusters(room.utts(), {}, Room::levels(), {}, farFlub).empty());
  std::vector<SilenceSpan> pause{{{5.5, 7.5}, -60}};
  EXPECT_EQ(ChatterDetector::clusters(room.utts(), pause, Room::levels(), {}, farFlub).size(), 1u);
}

TEST(ChatterDetector, WordsMustSoundLikeConversation) {
  auto withExchange = [](std::vector<TranscriptWord> exchange) {
    Room room;
    room.exchange = std::move(exchange);
    return ChatterDetector::clusters(room.utts(), {}, Room::levels(), {}, kFlub);
  };
  // Addressed to the audience, however it is spelled.
  EXPECT_TRUE(
      withExchange({word("Okay.", 8.0, 8.4), word("Yeah", 8.9, 9.1), word("you.", 9.1, 9.3), word("Sorry.", 9.8, 10.2)})
          .empty());
  EXPECT_TRUE(withExchange({word("Okay.", 8.0, 8.4), word("You\u2019re", 8.9, 9.1), word("right.", 9.1, 9.3),
                            word("Sorry.", 9.8, 10.2)})
                  .empty());
  // Two sentences are too few; one repeated acknowledgment is too little.
  EXPECT_TRUE(withExchange({word("Okay.", 8.0, 8.4), word("Yeah.", 8.9, 9.3)}).empty());
  EXPECT_TRUE(withExchange({word("Okay.", 8.0, 8.4), word("Okay.", 8.9, 9.3), word("Okay.", 9.8, 10.2)}).empty());
  // Hyphenated acknowledgments count as they are written.
  EXPECT_EQ(withExchange({word("Mm-hmm.", 8.0, 8.4), word("Uh-huh.", 8.9, 9.3), word("Okay.", 9.8, 10.2)}).size(), 1u);
  // A run stretched past 10 s is not an exchange.
  EXPECT_TRUE(withExchange({word("Okay.", 8.0, 8.4), word("Yeah.", 9.5, 9.9), word("Sure.", 11.0, 11.4),
                            word("Right.", 12.5, 12.9), word("Cool.", 14.0, 14.4), word("Nice.", 15.5, 15.9),
                            word("Great.", 17.0, 18.5)})
                  .empty());

  EXPECT_TRUE(ChatterDetector::isConversational(testing::toks("yeah okay")));
  EXPECT_FALSE(ChatterDetector::isConversational(testing::toks("okay so now we can finally go on home")));
  EXPECT_FALSE(ChatterDetector::isConversational({}));
  EXPECT_EQ(ChatterDetector::foldedWord("you\u2019re"), "youre");
  EXPECT_EQ(ChatterDetector::foldedWord("mm-hmm"), "mmhmm");
}

TEST(ChatterDetector, ScrapsAndTrailingFillersJoinTheExchange) {
  auto startWith = [](std::vector<TranscriptWord> before) {
    Room room;
    auto utts = room.utts();
    utts.push_back(fromWords(2, std::move(before)));
    auto found = ChatterDetector::clusters(utts, {}, Room::levels(), {}, kFlub);
    return found.size() == 1 ? found[0].range.start : -1.0;
  };
  EXPECT_DOUBLE_EQ(startWith({word("So", 6.6, 6.8), word("um.", 6.8, 7.0)}), 6.6);
  EXPECT_DOUBLE_EQ(startWith({word("So", 6.4, 6.6), word("then", 6.6, 6.8), word("um.", 6.8, 7.0)}), 6.8);
  // Too far before the exchange to belong to it.
  EXPECT_DOUBLE_EQ(startWith({word("So", 5.6, 5.8), word("um.", 5.8, 6.0)}), 8.0);

  // A short scrap right after is pulled in too.
  Room room;
  auto utts = room.utts();
  utts.push_back(fromWords(2, {word("Anyway.", 11.0, 11.5)}));
  auto found = ChatterDetector::clusters(utts, {}, Room::levels(), {}, kFlub);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].range, (TimeRange{8.0, 11.5}));
  EXPECT_EQ(found[0].text, "Okay. Yeah. Sorry, right.");
}

TEST(ChatterDetector, ScriptLinesAreNotChatter) {
  Room room;
  std::vector<TakeSelector::TokenList> script{testing::toks("okay yeah sorry right then we begin")};
  EXPECT_TRUE(ChatterDetector::clusters(room.utts(), {}, Room::levels(), script, kFlub).empty());
  std::vector<TakeSelector::TokenList> other{testing::toks("the plan is ready for the launch")};
  EXPECT_EQ(ChatterDetector::clusters(room.utts(), {}, Room::levels(), other, kFlub).size(), 1u);
  // A prepared script decides the same way.
  EXPECT_TRUE(
      ChatterDetector::clusters(room.utts(), {}, Room::levels(), TakeSelector::PreparedScript(script), kFlub).empty());
  EXPECT_EQ(ChatterDetector::clusters(room.utts(), {}, Room::levels(), TakeSelector::PreparedScript(other), kFlub),
            ChatterDetector::clusters(room.utts(), {}, Room::levels(), other, kFlub));
  EXPECT_EQ(ChatterDetector::clusters(room.utts(), {}, Room::levels(), TakeSelector::PreparedScript({}), kFlub).size(),
            1u);
}

TEST(ChatterDetector, LevelsQuantilesAndSentences) {
  auto levels = LevelData::fromLevels(0.5, {-30, -10, -20, -40});
  auto perWord = ChatterDetector::wordLevels(
      std::vector<TranscriptWord>{word("a", 0.0, 0.6), word("b", 1.0, 1.2), word("c", 5.0, 6.0)}, levels);
  ASSERT_TRUE(perWord);
  // Hops 0..1, 2..2, and none left at 10 s.
  EXPECT_EQ(*perWord, (std::vector<float>{-10, -20, -100}));
  EXPECT_FALSE(ChatterDetector::wordLevels({}, LevelData{0.01, "not base64!"}));
  EXPECT_FALSE(ChatterDetector::wordLevels({}, LevelData{0, levels.base64}));
  EXPECT_FALSE(ChatterDetector::wordLevels({}, std::nullopt));

  EXPECT_DOUBLE_EQ(ChatterDetector::quantile({}, 0.5), 0);
  EXPECT_DOUBLE_EQ(ChatterDetector::quantile({4, 1, 3, 2}, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(ChatterDetector::quantile({10, 20}, 0.6), 16);
  EXPECT_DOUBLE_EQ(ChatterDetector::quantile({7}, 1.0), 7);

  auto split = ChatterDetector::sentences(
      std::vector<TranscriptWord>{word("Well\u2026", 0, 1), word("so", 1, 2), word("yes?", 2, 3), word("and", 3, 4)});
  ASSERT_EQ(split.size(), 3u);
  EXPECT_EQ(split[1].size(), 2u);
  EXPECT_EQ(split[2][0].text, "and");
}

}  // namespace
}  // namespace kestrane
