#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "kestrane/graphics/TranscriptAnchor.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"

using namespace kestrane;
using TranscriptAnchor::Words;

namespace {

// Words of a sentence, one every 0.5 s from `start`, each 0.4 s long.
void say(Words& words, const std::string& sentence, double start) {
  std::istringstream in(sentence);
  std::string w;
  for (double t = start; in >> w; t += 0.5) words.push_back({w, t, t + 0.4});
}

VisualIdea idea(std::string name, double at, std::string anchor, double leadIn = 0, double leadOut = 0) {
  VisualIdea i;
  i.name = std::move(name);
  i.placementSeconds = i.estimatedPlacementSeconds = at;
  i.anchorText = std::move(anchor);
  i.leadInSeconds = leadIn;
  i.leadOutSeconds = leadOut;
  i.generationPrompt = "draw it";
  return i;
}

Words cutWords() {
  Words w;
  say(w, "Welcome back. Today we fix the timeline.", 0.2);
  say(w, "This is the newest way to edit your videos, and it's blowing my mind.", 10.0);
  say(w, "We fix the audio next.", 30.0);
  return w;
}

}  // namespace

TEST(TranscriptAnchor, LocatesQuotes) {
  const Words words = cutWords();
  const auto m = TranscriptAnchor::locate("this is the newest way to edit your videos", words);
  ASSERT_TRUE(m);
  EXPECT_DOUBLE_EQ(m->start, 10.0);
  EXPECT_DOUBLE_EQ(m->end, 14.4);
  EXPECT_EQ(m->text, "This is the newest way to edit your videos,");
  // Two mis-heard words of ten still match.
  EXPECT_TRUE(TranscriptAnchor::locate("this is the nearest way to edit you videos and", words));

  EXPECT_FALSE(TranscriptAnchor::locate("newest", words));
  EXPECT_EQ(TranscriptAnchor::diagnosis("newest", words),
            "it is too short to identify a moment — the ideas doc should quote 5-15 words");
  EXPECT_FALSE(TranscriptAnchor::locate("we fix", words));
  EXPECT_EQ(TranscriptAnchor::diagnosis("we fix", words),
            "that short a phrase is said 2 times in the cut, so it can't say which one");
  EXPECT_EQ(TranscriptAnchor::locate("blowing my", words)->score, 1.0);
  EXPECT_EQ(TranscriptAnchor::diagnosis("purple cows", words),
            "that short a phrase has to appear verbatim, and it doesn't");
  EXPECT_FALSE(TranscriptAnchor::locate("an entirely different sentence about cooking", words));
}

TEST(TranscriptAnchor, ResolvesTimingAndWarnings) {
  Words words;
  say(words, "one two three four five six seven", 10.0);  // 10.0 to 13.4
  say(words, "short line", 40.0);                         // 40.0 to 40.9
  say(words, "late line here now", 97.5);

  auto r = TranscriptAnchor::resolve(
      {idea("Lift", 12, "one two three four five six seven", 0.3, 0.5), idea("Edge", 0, "short line"),
       idea("Nothing", 80, ""), idea("Tail", 98, "late line here now", 0, 3.0)},
      words, 100.0);
  ASSERT_EQ(r.ideas.size(), 4u);
  EXPECT_DOUBLE_EQ(r.ideas[0].placementSeconds, 9.7);
  EXPECT_DOUBLE_EQ(r.ideas[0].durationSeconds, 4.2);
  EXPECT_DOUBLE_EQ(*r.ideas[0].spokenSeconds, 3.4);
  EXPECT_DOUBLE_EQ(r.ideas[1].durationSeconds, 1.5);  // 0.9 s of speech
  EXPECT_EQ(r.ideas[2].anchorIssue, "the entry carries no anchor line");
  EXPECT_DOUBLE_EQ(r.ideas[2].placementSeconds, 80);
  EXPECT_DOUBLE_EQ(r.ideas[3].durationSeconds, 2.5);  // only the room to the cut's end
  EXPECT_EQ(r.anchored(), 3);
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(r.warnings[0],
            "Motion graphics timing: 1 of 4 visual could not be anchored to the cut — Nothing "
            "(01:20): no anchor line in the ideas doc. They keep the ideas doc's estimated "
            "timecode, and their file names start with `~` so the guess is never mistaken for a "
            "measurement.");
  EXPECT_EQ(r.warnings[1],
            "Motion graphics timing: 3 of 4 visuals were re-timed from the transcript — the ideas "
            "doc's estimates were off by up to 40.0s. File names and assets/README.md carry the "
            "measured times.");

  // A long quote is shortened in the warning; a cut of unknown or non-finite length caps at 30 s.
  const std::string quote(80, 'x');
  r = TranscriptAnchor::resolve({idea("Long", 5, quote + " y z")}, words, std::nan(""));
  EXPECT_NE(r.warnings[0].find("anchor \"" + std::string(57, 'x') + "…\" — the line isn't"), std::string::npos);
  r = TranscriptAnchor::resolve({idea("Wide", 10, "one two three four five six seven", 0, 3)}, {}, 0);
  EXPECT_EQ(r.ideas[0].anchorIssue, "the cut transcript has no words to anchor against");
  EXPECT_EQ(r.warnings.size(), 1u);
}

TEST(TranscriptAnchor, AnnotationIsStableAndOneBulletPerIdea) {
  const std::string doc =
      "# Visual Opportunities — Demo\n\n"
      "## [00:12] Claim\n"
      "- **Type:** diagram\n"
      "- **Anchor:** this is the newest way to edit your videos\n"
      "- **Lead in:** 0.3\n"
      "- **Generation prompt:** a timeline assembles\n\n"
      "## [00:40] Guess\n"
      "- **Anchor:** words nobody said in this cut at all\n"
      "- **Generation prompt:** a counter\n\n"
      "## [00:50] Bare\n\n"
      "Some notes without bullets.\n";
  const Words words = cutWords();
  auto r = TranscriptAnchor::resolve(VisualIdeas::parse(doc), words, 40);
  VisualIdea bare = idea("Bare", 50, "");
  bare.durationSeconds = 5;
  r.ideas.push_back(bare);
  const std::string once = VisualIdeas::annotate(doc, r.ideas);
  EXPECT_EQ(VisualIdeas::annotate(once, r.ideas), once);

  EXPECT_NE(once.find("## [00:09.7] Claim\n- **Timing:** measured from the anchor — in at **00:09.7**, "
                      "runs **4.7s** (line runs 4.4s, +0.3s lead-in). The first draft of this doc "
                      "guessed 00:12 — 2.3s late.\n- **Type:** diagram"),
            std::string::npos);
  EXPECT_NE(once.find("## [~00:40] Guess\n- **Timing:** NOT MEASURED — the anchor line \"words nobody "
                      "said in this cut at all\" wasn't found in the cut transcript, so this keeps "
                      "the estimated 00:40 and 5.0s."),
            std::string::npos);
  EXPECT_NE(once.find("Some notes without bullets.\n\n- **Timing:** NOT MEASURED — no anchor line"), std::string::npos);
  std::size_t bullets = 0;
  for (std::size_t at = once.find("**Timing:**"); at != std::string::npos; at = once.find("**Timing:**", at + 1)) {
    ++bullets;
  }
  EXPECT_EQ(bullets, 3u);

  // A CR LF copy annotates to the same text: no doubled line breaks.
  std::string crlf;
  for (char c : doc) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(VisualIdeas::annotate(crlf, r.ideas), once);
}
