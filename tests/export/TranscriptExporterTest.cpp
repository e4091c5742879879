#include "kestrane/export/TranscriptExporter.hpp"

#include <gtest/gtest.h>

#include "export/ExportFixtures.hpp"

using namespace kestrane;
using test::seg;
namespace TE = kestrane::TranscriptExporter;

namespace {

Transcript words(std::initializer_list<std::tuple<const char*, double, double>> list) {
  Transcript t;
  for (const auto& [text, start, end] : list) t.words.push_back({text, {start, end}});
  return t;
}

CutList keepAll(double end) { return CutList{{seg(0, end)}}; }

}  // namespace

TEST(TranscriptExporter, RetimesWordsOntoTheCut) {
  // Midpoint on a kept start is taken, on a kept end it is not; words are clipped to the cut.
  const auto t = words(
      {{"clipped", 0.9, 1.3}, {"onStart", 4.9, 5.1}, {"late", 5.2, 5.6}, {"onEnd", 5.8, 6.2}, {"gone", 3.0, 3.5}});
  const CutList list{{seg(0, 1), seg(1, 2), seg(2, 5, SegmentKind::silence), seg(5, 6), seg(6, 9, SegmentKind::flub)}};
  const auto cut = TE::wordsOnCutTimeline(t, CutList{{seg(1, 2)}});
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].text, "clipped");
  EXPECT_DOUBLE_EQ(cut[0].start, 0.0);
  EXPECT_NEAR(cut[0].end, 0.3, 1e-12);

  const auto all = TE::wordsOnCutTimeline(t, list);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].text, "onStart");  // midpoint exactly on the 5-6 segment's start
  EXPECT_EQ(all[2].text, "late");
  EXPECT_NEAR(all[2].start, 2.2, 1e-12);
  EXPECT_NEAR(all[2].end, 2.6, 1e-12);

  // Kept segments out of time order are laid out in array order.
  const auto swapped =
      TE::wordsOnCutTimeline(words({{"a", 0.2, 0.4}, {"b", 5.2, 5.4}}), CutList{{seg(5, 6), seg(0, 1)}});
  ASSERT_EQ(swapped.size(), 2u);
  EXPECT_EQ(swapped[0].text, "b");
  EXPECT_NEAR(swapped[1].start, 1.2, 1e-12);

  // Nothing kept, or nothing said, gives nothing anywhere.
  for (const auto& [tr, cl] :
       {std::pair{t, CutList{{seg(0, 9, SegmentKind::silence)}}}, std::pair{Transcript{}, keepAll(9)}}) {
    EXPECT_TRUE(TE::wordsOnCutTimeline(tr, cl).empty());
    EXPECT_TRUE(TE::cues(tr, cl, 2.0, 5).empty());
    EXPECT_EQ(TE::srt(tr, cl, 4.0, 12), "");
    EXPECT_TRUE(TE::anchorLines(tr, cl, 6.0, 16).empty());
    EXPECT_EQ(TE::anchorMarkdown(tr, cl, 6.0, 16), "");
    EXPECT_EQ(TE::beatCount(tr, cl), 0);
  }
}

TEST(TranscriptExporter, BreaksCuesAtPunctuationCountAndLength) {
  const auto text = [](const std::vector<TE::Cue>& cues) {
    std::vector<std::string> out;
    for (const auto& c : cues) out.push_back(c.text());
    return out;
  };
  // A comma closes only once the cue holds two words; a full stop closes even a single word;
  // a closing quote after the stop hides the sentence end.
  const auto t = words({{"One,", 0.0, 0.1},
                        {"two,", 0.2, 0.3},
                        {"three", 0.4, 0.5},
                        {"Stop.", 0.6, 0.7},
                        {"\"Quoted.\"", 0.8, 0.9},
                        {"on", 1.0, 1.1}});
  EXPECT_EQ(text(TE::cues(t, keepAll(10), 2.0, 5)),
            (std::vector<std::string>{"One, two,", "three Stop.", "\"Quoted.\" on"}));
  // Never more words than allowed.
  EXPECT_EQ(text(TE::cues(t, keepAll(10), 10.0, 2)),
            (std::vector<std::string>{"One, two,", "three Stop.", "\"Quoted.\" on"}));
  const auto plain = words({{"a", 0, 0.1}, {"b", 0.2, 0.3}, {"c", 0.4, 0.5}, {"d", 0.6, 0.7}});
  EXPECT_EQ(text(TE::cues(plain, keepAll(10), 10.0, 3)), (std::vector<std::string>{"a b c", "d"}));
  EXPECT_EQ(text(TE::cues(words({{"Yes.", 0, 0.1}, {"and", 0.2, 0.3}}), keepAll(10), 2.0, 5)),
            (std::vector<std::string>{"Yes.", "and"}));

  // A word ending 2.01 s after the cue began starts a new cue; one ending at exactly 2.0 joins.
  const auto timed = words({{"a", 0.0, 0.5}, {"b", 1.0, 2.0}, {"c", 2.0, 2.01}});
  const auto cues = TE::cues(timed, keepAll(10), 2.0, 5);
  ASSERT_EQ(cues.size(), 2u);
  EXPECT_EQ(cues[0].text(), "a b");
  EXPECT_DOUBLE_EQ(cues[0].end, 2.0);
  EXPECT_DOUBLE_EQ(cues[1].start, 2.0);
  // One word longer than the limit is a cue by itself.
  EXPECT_EQ(TE::cues(words({{"long", 0, 3}, {"x", 3, 3.1}}), keepAll(9), 2.0, 5).size(), 2u);

  // Anchor lines ignore commas.
  const auto lines = TE::anchorLines(t, keepAll(10), 6.0, 16);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "One, two, three Stop.");
}

TEST(TranscriptExporter, WritesSrtAndAnchorTexts) {
  const auto t = words({{"Hello", 0.0, 0.5}, {"there.", 0.6, 1.25}, {"General", 1.5, 2.0}, {"Kenobi.", 2.1, 2.75}});
  EXPECT_EQ(TE::srt(t, keepAll(10), 4.0, 12),
            "1\n00:00:00,000 --> 00:00:01,250\nHello there.\n"
            "\n"
            "2\n00:00:01,500 --> 00:00:02,750\nGeneral Kenobi.\n");

  // Milliseconds are truncated, hours are not capped.
  const auto stamps = [](double start, double end) {
    return TE::srt(words({{"w", start, end}}), keepAll(500000), 10.0, 5);
  };
  EXPECT_EQ(stamps(1.2, 3725.4567), "1\n00:00:01,199 --> 01:02:05,456\nw\n");
  EXPECT_EQ(stamps(59.9999, 60.0), "1\n00:00:59,999 --> 00:01:00,000\nw\n");
  EXPECT_EQ(stamps(360000.0, 360001.0), "1\n100:00:00,000 --> 100:00:01,000\nw\n");

  EXPECT_EQ(TE::anchorMarkdown(words({{"a.", 62.9, 63.0}, {"b", 4500.2, 4500.4}}), keepAll(5000), 6.0, 16),
            "[01:02] a.\n[75:00] b");
  EXPECT_EQ(TE::beatCount(t, keepAll(10)), 2);
}

TEST(TranscriptExporter, PackageCaptionsFollowTheFrameSnappedCut) {
  // 150 pieces at 29.97 fps, each edge between frames: each piece grows on the frame grid, so
  // the last caption plays seconds later on the snapped cut than on the plain one.
  const CutList list = test::offGridPieces(150);
  Transcript t;
  for (int i = 0; i < 150; ++i) {
    const double start = i * 3.0 + 0.017;
    t.words.push_back({"word" + std::to_string(i) + ".", {start + 0.2, start + 0.8}});
  }
  SourceMedia source;
  source.durationSeconds = 460;
  source.frameDuration = {1001, 30000};
  const auto plain = TE::cues(t, list, 4.0, 12);
  const auto snapped = TE::snappedCues(plain, source, list);
  ASSERT_EQ(snapped.size(), 150u);
  EXPECT_GT(snapped.back().start - plain.back().start, 3.0);
  for (std::size_t i = 1; i < snapped.size(); ++i) EXPECT_GE(snapped[i].start, snapped[i - 1].end);
  // The first piece starts on source frame 0, so its word plays at its own source time.
  EXPECT_TRUE(TE::srt(source, t, list, 4.0, 12).starts_with("1\n00:00:00,217 --> 00:00:00,817\n"));
}

TEST(TranscriptExporter, WritesTheMarkdownTranscript) {
  SourceMedia source;
  source.path = "/footage/take3.mov";
  source.durationSeconds = 20.0;
  source.frameDuration = {1, 25};
  const CutList list{{seg(0, 4), seg(4, 6, SegmentKind::silence), seg(6, 10), seg(10, 11, SegmentKind::filler),
                      seg(11, 12, SegmentKind::manual), seg(12, 13, SegmentKind::manual),
                      seg(13, 14, SegmentKind::retakeRejected), seg(14, 20, SegmentKind::flub)}};
  // Gap of 0.8 s starts a paragraph; exactly 0.75 s does not; the removed silence does not.
  const auto t =
      words({{"Hi", 0.0, 0.4}, {"all.", 1.2, 1.5}, {"Next", 2.25, 2.5}, {"bit", 3.0, 3.4}, {"after", 6.0, 6.4}});
  const std::vector<Advisory> notes{{{130.0, 131.0}, "Later <b> & *this*"}, {{12.5, 13.0}, "Earlier"}};
  EXPECT_EQ(TE::markdown(source, t, list, notes),
            "# Transcript \u2014 take3.mov (first cut)\n"
            "\n"
            "Source 20.0s \u2192 cut 8.0s (removed 12.0s: 1 silence, 1 flub, 1 alternate take, "
            "1 filler, 2 by hand)\n"
            "\n"
            "**[00:00]** Hi\n"
            "\n"
            "**[00:01]** all. Next bit after\n"
            "\n"
            "## Notes to your editor\n"
            "\n"
            "Spoken on camera, removed from the cut \u2014 each is a marker inside the source "
            "compound clip in Final Cut.\n"
            "\n"
            "- **[00:12]** Earlier\n"
            "- **[02:10]** Later <b> & *this*\n");

  EXPECT_EQ(TE::markdown(source, Transcript{}, CutList{{seg(0, 20)}}, {}),
            "# Transcript \u2014 take3.mov (first cut)\n\n"
            "Source 20.0s \u2192 cut 20.0s (removed 0.0s: 0 silences, 0 flubs, 0 alternate takes, "
            "0 fillers)\n");
}

TEST(TranscriptExporter, MarkdownStampsFollowTheFrameSnappedCut) {
  // Twenty pieces of 0.97 s at 25 fps each grow to 1.04 s on frames: the last paragraph
  // (plain 19.3 s) is read on the timeline at 20.66 s.
  SourceMedia source;
  source.path = "/f/a.mov";
  source.durationSeconds = 60;
  source.frameDuration = {1, 25};
  CutList list;
  Transcript t;
  for (int i = 0; i < 20; ++i) {
    list.segments.push_back(seg(i * 3.0 + 0.035, i * 3.0 + 1.005));
    list.segments.push_back(seg(i * 3.0 + 1.005, i * 3.0 + 3.035, SegmentKind::silence));
    t.words.push_back({"w", {i * 3.0 + 0.9, i * 3.0 + 0.95}});
  }
  const std::string text = TE::markdown(source, t, list, {});
  EXPECT_TRUE(text.ends_with("**[00:20]** w\n")) << text;
}
