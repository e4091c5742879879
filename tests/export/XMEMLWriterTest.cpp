#include "kestrane/export/XMEMLWriter.hpp"

#include <gtest/gtest.h>

#include "export/ExportFixtures.hpp"
#include "export/XmlReadBack.hpp"
#include "kestrane/export/CutListCheck.hpp"

using namespace kestrane;
using readback::File;
using test::seg;

namespace {

SourceMedia source(RationalTime fd = {1001, 30000}) { return test::videoSource("/Users/x/take 1.mov", 10.0, fd); }

const CutList twoPieces{
    {seg(0.0, 2.5), seg(2.5, 4.0, SegmentKind::silence), seg(4.0, 6.2), seg(6.2, 10.0, SegmentKind::flub)}};

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(XMEMLWriter, WritesRatesAndPiecesOnTheFrameGrid) {
  const std::pair<RationalTime, std::string> rates[] = {{{1001, 30000}, "<timebase>30</timebase><ntsc>TRUE</ntsc>"},
                                                        {{1, 25}, "<timebase>25</timebase><ntsc>FALSE</ntsc>"},
                                                        {{1001, 24000}, "<timebase>24</timebase><ntsc>TRUE</ntsc>"},
                                                        {{1001, 60000}, "<timebase>60</timebase><ntsc>TRUE</ntsc>"}};
  for (const auto& [fd, rate] : rates) {
    EXPECT_NE(XMEMLWriter::xmeml(source(fd), twoPieces, "P", true).find(rate), std::string::npos);
    EXPECT_EQ(CutListCheck::framesFault(twoPieces, source(fd)), std::nullopt);
  }

  const std::string text = XMEMLWriter::xmeml(source(), twoPieces, "P", true);
  const File doc(text);
  ASSERT_EQ(doc.wellFormedProblems(), "");
  // 2.5 s is 74.925 frames; 4.0 to 6.2 s is frames 119.88 to 185.81.
  EXPECT_EQ(doc.texts("//clipitem[starts-with(@id,'clipitem-')]/in/text()"),
            (std::vector<std::string>{"0", "119", "0", "119", "0", "119"}));
  EXPECT_EQ(doc.texts("//clipitem[starts-with(@id,'clipitem-')]/out/text()"),
            (std::vector<std::string>{"75", "186", "75", "186", "75", "186"}));
  // 299.7 frames of source.
  EXPECT_EQ(doc.texts("//file/duration/text()"), std::vector<std::string>{"300"});
  EXPECT_EQ(doc.texts("//file/pathurl/text()"), std::vector<std::string>{"file://localhost/Users/x/take%201.mov"});
  EXPECT_EQ(doc.texts("//file/name/text()"), std::vector<std::string>{"take 1.mov"});
  EXPECT_TRUE(text.ends_with("\n</xmeml>"));
}

TEST(XMEMLWriter, NestsTheSourceOnceAndLinksEveryPiece) {
  const std::string text = XMEMLWriter::xmeml(source(), twoPieces, "P", true);
  const File doc(text);
  EXPECT_EQ(doc.number("count(//sequence[@id='nested-1'][*])"), 1);
  EXPECT_EQ(doc.number("count(//sequence[@id='nested-1'][not(*)])"), 5);
  EXPECT_EQ(doc.number("count(//file[@id='file-1'][*])"), 1);
  // The full nested sequence sits in the first clip item written: the first video item.
  EXPECT_EQ(doc.number("count(//clipitem[@id='clipitem-v1']/sequence/media)"), 1);
  EXPECT_EQ(doc.texts("//clipitem[@id='clipitem-a2-1']/name/text()"), std::vector<std::string>{"P \u2014 Source"});
  EXPECT_EQ(doc.texts("//clipitem[@id='clipitem-a2-2']/link/linkclipref/text()"),
            (std::vector<std::string>{"clipitem-v2", "clipitem-a1-2", "clipitem-a2-2"}));
  EXPECT_EQ(doc.texts("//clipitem[@id='src-a2']/sourcetrack/trackindex/text()"), std::vector<std::string>{"2"});

  // Without nesting the items point at the file directly, written in full once.
  const File flat(XMEMLWriter::xmeml(source(), twoPieces, "P", false));
  EXPECT_EQ(flat.number("count(//sequence[@id='nested-1'])"), 0);
  EXPECT_EQ(flat.number("count(//clipitem[@id='clipitem-v1']/file[*])"), 1);
  EXPECT_EQ(flat.number("count(//file[not(*)])"), 5);
  EXPECT_EQ(flat.texts("//clipitem[@id='clipitem-v1']/name/text()"), std::vector<std::string>{"take 1.mov"});

  // Nothing kept: empty tracks, and neither the file nor the nested sequence anywhere.
  const std::string none = XMEMLWriter::xmeml(source(), CutList{{seg(0, 10, SegmentKind::silence)}}, "P", true);
  EXPECT_EQ(occurrences(none, "<file"), 0u);
  EXPECT_EQ(occurrences(none, "nested-1"), 0u);
  EXPECT_NE(none.find("<duration>0</duration>"), std::string::npos);
}

TEST(XMEMLWriter, FollowsTheSourcesAudioVideoAndTimecode) {
  SourceMedia s = source();
  s.hasVideo = false;
  s.audioChannelCount = 1;
  const File audioOnly(XMEMLWriter::xmeml(s, twoPieces, "P", true));
  EXPECT_EQ(audioOnly.number("count(//video)"), 0);
  EXPECT_EQ(audioOnly.number("count(//mediatype[text()='video'])"), 0);
  EXPECT_EQ(audioOnly.number("count(/xmeml/sequence/media/audio/track)"), 1);
  EXPECT_EQ(audioOnly.number("count(//clipitem[@id='clipitem-a1-1']/sequence[*])"), 1);

  s = source();
  s.audioChannelCount.reset();
  EXPECT_EQ(File(XMEMLWriter::xmeml(s, twoPieces, "P", true)).number("count(/xmeml/sequence/media/audio/track)"), 2);
  s.audioChannelCount = 6;
  EXPECT_EQ(File(XMEMLWriter::xmeml(s, twoPieces, "P", true)).number("count(/xmeml/sequence/media/audio/track)"), 2);

  s.timecodeIsDropFrame = true;
  const std::string df = XMEMLWriter::xmeml(s, twoPieces, "P", true);
  EXPECT_NE(df.find("<string>00:00:00;00</string>"), std::string::npos);
  EXPECT_NE(df.find("<displayformat>DF</displayformat>"), std::string::npos);
  s.timecodeIsDropFrame.reset();
  const std::string ndf = XMEMLWriter::xmeml(s, twoPieces, "P", true);
  EXPECT_NE(ndf.find("<string>00:00:00:00</string>"), std::string::npos);
  EXPECT_NE(ndf.find("<displayformat>NDF</displayformat>"), std::string::npos);

  const std::string named = XMEMLWriter::xmeml(source(), twoPieces, "Tom & Jerry's <cut>\x01", true);
  EXPECT_NE(named.find("<name>Tom &amp; Jerry's &lt;cut&gt;</name>"), std::string::npos);
  EXPECT_EQ(File(named).wellFormedProblems(), "");
}
