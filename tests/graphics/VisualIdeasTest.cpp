#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "kestrane/graphics/VisualIdeas.hpp"

using namespace kestrane;

namespace {

const std::string kDocument =
    "# Visual Opportunities — Launch\n"
    "\n"
    "## How to use this document\n"
    "\n"
    "- **the timecode** — where it lands\n"
    "\n"
    "## [01:23.5] Timeline snaps tight\n"
    "- **Type:** lower third callout\n"
    "- **Device:** timeline assembles, dead clips collapse out\n"
    "- **Anchor:** \"this is the newest way to edit your videos\"\n"
    "- **Lead in:** about 0.3 s\n"
    "- **Lead out:** 7\n"
    "- **On screen:** a timeline\n"
    "- **Why here:** shows the claim\n"
    "- **Generation prompt:** A timeline of clips sits on a dark stage.\n"
    "  The playhead sweeps; hold 2.5 seconds, then 8 seconds\n"
    "  of dead segments collapse.\n"
    "- **Timing:** measured earlier\n"
    "\n"
    "## [~00:12.4] Counter climbs\n"
    "- **Anchor:**\n"
    "- **Anchor line:** “the count went from one hundred to forty thousand”\n"
    "- **Generation prompt:** A counter climbs in a 45 seconds build.\n"
    "---\n"
    "## [12:34 - 12:40] Range heading\n"
    "- **Generation prompt:** never read\n"
    "## [00:05]\n"
    "- **Generation prompt:** no name\n"
    "## [00:06] Empty prompt\n"
    "- **Generation prompt:**\n"
    "\n"
    "text after an empty line\n";

}  // namespace

TEST(VisualIdeas, ParsesEntriesOfAGoldenDocument) {
  const auto ideas = VisualIdeas::parse(kDocument);
  ASSERT_EQ(ideas.size(), 2u);

  const VisualIdea& a = ideas[0];
  EXPECT_EQ(a.name, "Timeline snaps tight");
  EXPECT_DOUBLE_EQ(a.placementSeconds, 83.5);
  EXPECT_EQ(a.type, "lower third callout");
  EXPECT_EQ(a.device, "timeline assembles, dead clips collapse out");
  EXPECT_EQ(a.anchorText, "this is the newest way to edit your videos");
  EXPECT_DOUBLE_EQ(a.leadInSeconds, 0.3);
  EXPECT_DOUBLE_EQ(a.leadOutSeconds, 3.0);
  EXPECT_EQ(a.generationPrompt,
            "A timeline of clips sits on a dark stage. The playhead sweeps; hold 2.5 seconds, then "
            "8 seconds of dead segments collapse.");
  EXPECT_DOUBLE_EQ(a.durationSeconds, 2.5);
  EXPECT_EQ(a.kind, GraphicKind::alphaOverlay);  // from the type
  EXPECT_EQ(a.placementSource, PlacementSource::estimated);
  EXPECT_EQ(a.fileName(), "@~01-23.5 timeline-snaps-tight (ALPHA overlay).mov");
  VisualIdea measured = a;
  measured.placementSource = PlacementSource::anchored;
  EXPECT_EQ(measured.fileName(), "@01-23.5 timeline-snaps-tight (ALPHA overlay).mov");

  const VisualIdea& b = ideas[1];
  EXPECT_DOUBLE_EQ(b.placementSeconds, 12.4);
  EXPECT_EQ(b.anchorText, "the count went from one hundred to forty thousand");
  EXPECT_DOUBLE_EQ(b.durationSeconds, 30);
  EXPECT_EQ(b.kind, GraphicKind::fullFrame);
  EXPECT_DOUBLE_EQ(b.leadInSeconds, 0);
  EXPECT_EQ(b.fileName(), "@~00-12.4 counter-climbs (full-frame).mp4");

  EXPECT_EQ(VisualIdeas::constrain(ideas, GraphicsFormat::overlays)[1].kind, GraphicKind::alphaOverlay);
  EXPECT_EQ(VisualIdeas::constrain(ideas, GraphicsFormat::mix), ideas);
}

TEST(VisualIdeas, CrLfDocumentGivesTheSameIdeas) {
  std::string crlf;
  for (char c : kDocument) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(VisualIdeas::parse(crlf), VisualIdeas::parse(kDocument));
  EXPECT_EQ(VisualIdeas::parse(crlf).size(), 2u);
}

TEST(VisualIdeas, UnreadableTimecodesDropTheirSection) {
  EXPECT_TRUE(VisualIdeas::parse("## [00:1e400] X\n- **Generation prompt:** go\n").empty());
  EXPECT_TRUE(VisualIdeas::parse("## [00:nan] X\n- **Generation prompt:** go\n").empty());
  EXPECT_TRUE(VisualIdeas::parse("## [00:inf] X\n- **Generation prompt:** go\n").empty());
  EXPECT_TRUE(VisualIdeas::parse("## [99999999999999999999:00] X\n- **Generation prompt:** go\n").empty());
  EXPECT_TRUE(VisualIdeas::parse("## [25:00:00] X\n- **Generation prompt:** go\n").empty());
  EXPECT_EQ(VisualIdeas::seconds("01:02:03"), 3723);
  EXPECT_EQ(VisualIdeas::seconds("75:00"), 4500);
  EXPECT_EQ(VisualIdeas::seconds(" ~ 00:12.4 "), 12.4);
  EXPECT_FALSE(VisualIdeas::seconds("-01:00"));
  EXPECT_FALSE(VisualIdeas::seconds("01:-5"));
  EXPECT_FALSE(VisualIdeas::seconds("12"));
  // Timecode texts stay bounded whatever they are given.
  EXPECT_EQ(VisualIdeas::timecode(std::numeric_limits<double>::quiet_NaN()), "00:00");
  EXPECT_EQ(VisualIdeas::preciseTimecode(1e300), "1440:00");
  EXPECT_EQ(VisualIdeas::preciseTimecode(59.96), "01:00");
  EXPECT_EQ(VisualIdeas::preciseTimecode(3725.3), "62:05.3");
}

TEST(VisualIdeas, HeadingsBulletsAndQuotes) {
  // An indented heading and one without its blank are body text of the entry before.
  const auto ideas = VisualIdeas::parse(
      "## [00:01] First\n- **Generation prompt:** one\n  ## [00:02] Indented\n##[00:03] Tight\n"
      "- **anchor:** lower-case key is not read\n- **Anchor:** \"\n");
  ASSERT_EQ(ideas.size(), 1u);
  EXPECT_EQ(ideas[0].generationPrompt, "one");
  EXPECT_EQ(ideas[0].anchorText, "\"");
  // Control characters from the model never reach names.
  const auto noisy = VisualIdeas::parse("## [00:01] Bell\x07 name\n- **Generation prompt:** go\x1b[2J\n");
  ASSERT_EQ(noisy.size(), 1u);
  EXPECT_EQ(noisy[0].name, "Bell name");
  EXPECT_EQ(noisy[0].generationPrompt, "go[2J");
}

TEST(VisualIdeas, FieldReaders) {
  EXPECT_DOUBLE_EQ(VisualIdeas::lead("Lead in", "- **Lead in:** n/a"), 0);
  EXPECT_DOUBLE_EQ(VisualIdeas::lead("Lead in", "- **Lead in:** 1.2.3"), 0);
  EXPECT_DOUBLE_EQ(VisualIdeas::lead("Lead in", "- **Lead in:** -"), 0);
  EXPECT_DOUBLE_EQ(VisualIdeas::lead("Lead in", "- **Lead in:** about 1.5 seconds"), 1.5);
  EXPECT_DOUBLE_EQ(VisualIdeas::duration("a 4-second build"), 4.0);
  EXPECT_DOUBLE_EQ(VisualIdeas::duration("lasts 0.2 seconds"), 0.5);
  EXPECT_DOUBLE_EQ(VisualIdeas::duration("runs 3  seconds"), 5.0);
  EXPECT_DOUBLE_EQ(VisualIdeas::duration("runs 3seconds"), 5.0);
  EXPECT_DOUBLE_EQ(VisualIdeas::duration("seconds 3 seconds"), 3.0);
  EXPECT_EQ(VisualIdeas::kind("", "A panel with a transparent background", ""), GraphicKind::alphaOverlay);
  EXPECT_EQ(VisualIdeas::kind("b-roll", "a city", "a street"), GraphicKind::fullFrame);
}

TEST(VisualIdeas, Slugs) {
  EXPECT_EQ(VisualIdeas::slug("!!! ???"), "graphic");
  EXPECT_EQ(VisualIdeas::slug("Café au lait, s'il vous plaît"), "café-au-lait-s-il-vous-plaît");
  const std::string words = "one two three four five six seven eight nine ten eleven twelve";
  EXPECT_EQ(VisualIdeas::slug(words), "one-two-three-four-five-six-seven-eight");
  EXPECT_EQ(VisualIdeas::slug(std::string(50, 'a')), std::string(42, 'a'));
}
