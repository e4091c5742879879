#include "kestrane/brain/PreparedScript.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "brain/TestUtterances.hpp"
#include "kestrane/brain/RunSelector.hpp"
#include "kestrane/brain/TakeScoring.hpp"

namespace kestrane {
namespace {

using namespace TakeSelector;

// Words that meet in every way the alignment tells apart: equal, canonically
// equal (composed and decomposed accents), sharing their first four
// characters, one or two edits apart, too short to be near, and unrelated.
const std::vector<std::string>& lexicon() {
  static const std::vector<std::string> words{
      "the", "a", "to", "we", "it", "cat", "cats", "cut", "record", "recording", "records", "recorder", "talked",
      "walked", "balked", "stalked", "ship", "shop", "shipping", "demo", "demos", "memo", "today", "tonight",
      "caf\u00e9", "cafe\u0301", "cafes", "caffe", "na\u00efve", "naive", "naif", "\u00f1and\u00fa",
      "\U0001F1EB\U0001F1F7flag", "\U0001F1EB\U0001F1F7flog", "launch", "launches", "lunch", "planet", "plant", "plan",
      "planning", "interstellar", "interstallar", "intrastellar", "x", "zebra",
      // Around the length past which words are compared by length instead of by variants,
      // two edits apart with different openings, and one far past it.
      "qwertyuiopasdfghjklzxcvbnmqwert", "qwertyuiopasdfghjklzxcvbnmqwerty", "xwertyuiopasdfghjklzxcvbnmqwertyu",
      "xwertyuiopasdfghjklzxcvbnmqwert", "ywertyuiopasdfghjklzxcvbnmqwertyuio", std::string(400, 'k') + "end",
      "m" + std::string(399, 'k') + "end"};
  return words;
}

// Many more words, each near several others: a script where hundreds of
// words are frequent.
const std::vector<std::string>& wideLexicon() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> all = lexicon();
    const char* syllables[] = {"ka", "lo", "mi", "ren", "sto", "va", "pri", "del"};
    for (const char* a : syllables)
      for (const char* b : syllables)
        for (const char* c : {"", "n", "sa"}) all.push_back(std::string(a) + b + c);
    return all;
  }();
  return words;
}

TokenList randomLine(std::mt19937& random, std::size_t length, const std::vector<std::string>& words = lexicon()) {
  TokenList line(length);
  for (auto& w : line) w = words[random() % words.size()];
  return line;
}

// A rendition of a line: slices, drops, swaps for another word, insertions.
TokenList renditionOf(std::mt19937& random, const TokenList& line) {
  if (line.empty()) return randomLine(random, 1 + random() % 6);
  std::size_t from = random() % 3 == 0 ? random() % line.size() : 0;
  TokenList take(line.begin() + static_cast<std::ptrdiff_t>(from), line.end());
  for (std::size_t k = 0; k < take.size(); ++k) {
    auto roll = random() % 10;
    if (roll == 0) take[k] = lexicon()[random() % lexicon().size()];
    if (roll == 1) take.insert(take.begin() + static_cast<std::ptrdiff_t>(k), lexicon()[random() % lexicon().size()]);
    if (roll == 2 && take.size() > 1) take.erase(take.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return take;
}

TEST(PreparedScript, GivesExactlyThePlainScanResults) {
  std::mt19937 random(11);
  for (int round = 0; round < 64; ++round) {
    // Small scripts, where few words are frequent, and large ones.
    const bool large = round % 8 == 7;
    const auto& words = round % 16 == 15 ? wideLexicon() : lexicon();
    std::vector<TokenList> beats;
    const std::size_t beatCount = large ? 800 : 1 + random() % 40;
    for (std::size_t b = 0; b < beatCount; ++b) {
      // Mostly script-sized lines, now and then an empty or a very long one.
      std::size_t length = random() % 20 == 0 ? 0 : (random() % 25 == 0 ? 150 : 1 + random() % 14);
      beats.push_back(random() % 4 == 0 && !beats.empty() ? renditionOf(random, beats[random() % beats.size()])
                                                          : randomLine(random, length, words));
    }
    const PreparedScript script(beats);
    for (int q = 0; q < 40; ++q) {
      TokenList tokens = random() % 3 == 0 ? randomLine(random, random() % 12, words)
                                           : renditionOf(random, beats[random() % beats.size()]);
      SCOPED_TRACE(::testing::Message() << "round " << round << " query " << q);
      EXPECT_EQ(scriptMatchCoverage(tokens, script), scriptMatchCoverage(tokens, beats));
      EXPECT_EQ(scriptRenditionScore(tokens, script), scriptRenditionScore(tokens, beats));
    }
  }

  // No script at all, and an empty utterance.
  const PreparedScript none(std::vector<TokenList>{});
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(scriptMatchCoverage(testing::toks("we ship the demo"), none), 0.0);
  EXPECT_EQ(scriptRenditionScore(testing::toks("we ship the demo"), none), 0.0);
  const PreparedScript one({testing::toks("we ship the demo today")});
  EXPECT_EQ(scriptMatchCoverage(TokenList{}, one), 0.0);
  EXPECT_DOUBLE_EQ(scriptMatchCoverage(testing::toks("so we ship the demo"), one), 0.8);
  EXPECT_DOUBLE_EQ(scriptRenditionScore(testing::toks("so we ship the demo"), one), 0.8 * 0.8);
}

TEST(PreparedScript, CallersDecideAsWithThePlainBeats) {
  std::mt19937 random(5);
  std::vector<TokenList> beats;
  for (int b = 0; b < 12; ++b) beats.push_back(randomLine(random, 4 + random() % 6));
  const PreparedScript script(beats);

  // Lines read and re-read, as text with sentence ends, one after another.
  std::vector<Utterance> utts;
  std::vector<SilenceSpan> silences;
  double t = 0;
  for (int k = 0; k < 60; ++k) {
    auto line = renditionOf(random, beats[static_cast<std::size_t>(k / 3) % beats.size()]);
    std::string text;
    for (const auto& w : line) text += w + " ";
    if (random() % 3 != 0) text += "done.";
    utts.push_back(testing::utterance(k, text, t, t + 2.0));
    silences.push_back({{t + 2.0, t + 3.0}, -60});
    t += 3.0;
  }
  std::set<int> available;
  for (const auto& u : utts) available.insert(u.index);
  EXPECT_EQ(RunSelector::choose(utts, available, script, silences),
            RunSelector::choose(utts, available, beats, silences));

  for (std::size_t k = 0; k + 3 <= utts.size(); k += 3) {
    std::span<const Utterance> group(utts.data() + k, 3);
    ScoreMap fast, plain;
    EXPECT_EQ(pickWinner(group, script, silences, &fast).index, pickWinner(group, beats, silences, &plain).index);
    EXPECT_EQ(fast, plain);
    EXPECT_EQ(RunSelector::quality(utts[k], script, silences, 9), RunSelector::quality(utts[k], beats, silences, 9));
  }

  // Islands of talk between quiet words: one reads a script line, one does not.
  std::vector<TranscriptWord> words;
  std::vector<SilenceSpan> quiet{{{0, 3}, -60}, {{5.5, 8}, -60}, {{10.5, 13}, -60}};
  for (double s : {0.2, 1.0, 2.0}) words.push_back(testing::word("mm", s, s + 0.3));
  double s = 3.2;
  for (const auto& w : beats[0]) words.push_back(testing::word(w, s, s + 0.2)), s += 0.25;
  for (double q : {6.0, 7.0, 7.5}) words.push_back(testing::word("mm", q, q + 0.3));
  s = 8.2;
  for (const char* w : {"what", "time", "is", "it"}) words.push_back(testing::word(w, s, s + 0.2)), s += 0.25;
  for (double q : {11.0, 12.0, 12.5}) words.push_back(testing::word("mm", q, q + 0.3));
  auto plainIslands = chatterIslands(words, quiet, beats);
  EXPECT_EQ(chatterIslands(words, quiet, script), plainIslands);
  EXPECT_EQ(plainIslands.size(), 1u);
}

TEST(PreparedScript, ThreadsShareOnePreparedScript) {
  std::mt19937 random(3);
  std::vector<TokenList> beats;
  for (int b = 0; b < 200; ++b) beats.push_back(randomLine(random, 3 + random() % 10));
  std::vector<TokenList> queries;
  for (int q = 0; q < 400; ++q) queries.push_back(renditionOf(random, beats[random() % beats.size()]));
  const PreparedScript script(beats);
  std::vector<double> expected;
  for (const auto& q : queries) expected.push_back(scriptRenditionScore(q, beats) + scriptMatchCoverage(q, beats));

  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (std::size_t q = 0; q < queries.size(); ++q)
        if (script.renditionScore(queries[q]) + script.matchCoverage(queries[q]) != expected[q])
          ++mismatches[static_cast<std::size_t>(k)];
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kestrane
