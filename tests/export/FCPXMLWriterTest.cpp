#include "kestrane/export/FCPXMLWriter.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unordered_set>

#include "export/ExportFixtures.hpp"
#include "export/XmlReadBack.hpp"
#include "platform/MediaFixtures.hpp"
#include "kestrane/model/AtomicFile.hpp"

using namespace kestrane;
using readback::File;
using test::seg;
using Cue = TranscriptExporter::Cue;

namespace {

SourceMedia source25() { return test::videoSource("/footage/My Take.mov", 12.34, {1, 25}); }

// Kept 0-2 s and 5-8 s: a 5 s cut whose second piece starts at 2 s on the cut.
CutList twoPieces() {
  return CutList{{seg(0, 2), seg(2, 5, SegmentKind::silence), seg(5, 8), seg(8, 12.34, SegmentKind::silence)}};
}

GraphicMedia graphic(const std::string& path, std::int64_t w, std::int64_t h, RationalTime fd, double seconds) {
  GraphicMedia m;
  m.path = path;
  m.durationSeconds = seconds;
  m.frameDuration = fd;
  m.width = w;
  m.height = h;
  m.hasVideo = true;
  return m;
}

GraphicsPlacement place(const std::string& name, GraphicMedia media, double start, double duration, int lane) {
  return GraphicsPlacement{name, "file.mov", std::move(media), start, duration, GraphicKind::alphaOverlay, false, lane};
}

FCPXMLWriter::Options options(std::vector<Advisory> notes = {}) {
  return FCPXMLWriter::Options{"Kestrane", "My Take \u2014 Kestrane", std::move(notes)};
}

}  // namespace

TEST(FCPXMLWriter, WritesTheWholeDocumentOfACut) {
  const std::vector<GraphicsPlacement> graphics{
      place("Lower third", graphic("/pkg/assets/g1.mov", 1920, 1080, {1, 25}, 2.0), 3.0, 1.0, 1)};
  const std::vector<Cue> captions{{2.5, 3.5, {"Hello", "there"}}};
  const std::string text =
      FCPXMLWriter::fcpxml(source25(), twoPieces(), graphics, captions, options({{{6.0, 7.0}, "Check & fix"}}));
  EXPECT_EQ(text,
            R"x(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE fcpxml>
<fcpxml version="1.13">
  <resources>
    <format id="r1" name="Kestrane 1920x1080" width="1920" height="1080" colorSpace="1-1-1 (Rec. 709)" frameDuration="1/25s"/>
    <asset id="r2" name="My Take" start="0s" duration="309/25s" hasVideo="1" hasAudio="1" format="r1" audioSources="1" audioChannels="2" audioRate="48000">
      <media-rep kind="original-media" src="file:///footage/My%20Take.mov"/>
    </asset>
    <media id="r3" name="My Take — Source">
      <sequence format="r1" duration="309/25s" tcStart="0s" tcFormat="NDF">
        <spine>
          <asset-clip ref="r2" offset="0s" name="My Take" start="0s" duration="309/25s" format="r1" tcFormat="NDF">
            <marker start="6s" duration="1/25s" value="Note to editor: Check &amp; fix"/>
          </asset-clip>
        </spine>
      </sequence>
    </media>
    <format id="r4" name="Kestrane graphic 1920x1080" width="1920" height="1080" frameDuration="1/25s" colorSpace="1-1-1 (Rec. 709)"/>
    <asset id="r5" name="g1" start="0s" duration="2s" hasVideo="1" videoSources="1" hasAudio="0" format="r4">
      <media-rep kind="original-media" src="file:///pkg/assets/g1.mov"/>
    </asset>
    <effect id="subFX" name="Subtitle" uid=".../Titles.localized/Subtitles.localized/Subtitle.localized/Subtitle.moti"/>
  </resources>
  <library>
    <event name="Kestrane">
      <project name="My Take — Kestrane">
        <sequence format="r1" duration="5s" tcStart="0s" tcFormat="NDF">
          <spine>
            <ref-clip ref="r3" offset="0s" name="My Take" start="0s" duration="2s"/>
            <ref-clip ref="r3" offset="2s" name="My Take" start="5s" duration="3s">
              <title ref="subFX" lane="2" offset="137/25s" duration="1s" name="Hello there" role="Subtitles">
                <text><text-style ref="cts1">Hello there</text-style></text>
                <text-style-def id="cts1"><text-style font="Helvetica" fontSize="60" fontColor="1 1 1 1" alignment="center"/></text-style-def>
              </title>
              <asset-clip ref="r5" lane="1" offset="6s" name="Lower third" start="0s" duration="1s" format="r4" videoRole="Graphics"/>
            </ref-clip>
          </spine>
        </sequence>
      </project>
    </event>
  </library>
</fcpxml>
)x");
  EXPECT_EQ(File(text).dtdProblems(), "");
}

TEST(FCPXMLWriter, CarriesTheStartTimecodeAndDropFrameWhereTheyBelong) {
  SourceMedia s = source25();
  s.frameDuration = {1001, 30000};
  s.durationSeconds = 10.0;
  s.startTimecode = RationalTime{107892 * 1001, 30000};  // 01:00:00;00
  s.timecodeIsDropFrame = true;
  const CutList list{{seg(0, 1.234, SegmentKind::silence), seg(1.234, 5.678), seg(5.678, 10, SegmentKind::flub)}};
  const File doc(FCPXMLWriter::fcpxml(s, list, {}, {{0.5, 1.5, {"hi"}}}, options({{{2.0, 2.5}, "note"}})));
  ASSERT_EQ(doc.dtdProblems(), "");
  const auto frames = [](const std::string& t) { return readback::framesIn(t, 1001, 30000); };
  const long long tc = 107892;
  EXPECT_EQ(doc.attributes("//asset[@id='r2']/@duration"), std::vector<std::string>{"1001/100s"});
  EXPECT_EQ(frames(doc.attributes("//asset[@id='r2']/@start").at(0)), tc);
  EXPECT_EQ(frames(doc.attributes("//media/sequence/@tcStart").at(0)), tc);
  EXPECT_EQ(frames(doc.attributes("//media//asset-clip/@offset").at(0)), tc);
  EXPECT_EQ(frames(doc.attributes("//media//asset-clip/@start").at(0)), tc);
  EXPECT_EQ(frames(doc.attributes("//marker/@start").at(0)), tc + 59);  // 2.0 s is frame 59.94
  // 1.234 s to 5.678 s is frames 36 to 171.
  EXPECT_EQ(frames(doc.attributes("//ref-clip/@start").at(0)), tc + 36);
  EXPECT_EQ(doc.attributes("//ref-clip/@duration"), std::vector<std::string>{"9009/2000s"});
  // The title starts on the frame that plays its word's source time (1.734 s, frame 51).
  EXPECT_EQ(frames(doc.attributes("//title/@offset").at(0)), tc + 51);
  EXPECT_EQ(doc.attributes("//*[@tcFormat='DF']/@tcFormat").size(), 2u);
  EXPECT_EQ(doc.attributes("//project/sequence/@tcFormat"), std::vector<std::string>{"NDF"});
  EXPECT_EQ(doc.attributes("//project/sequence/@tcStart"), std::vector<std::string>{"0s"});

  // Without a timecode the piece starts at 3003/2500s.
  s.startTimecode.reset();
  const File plain(FCPXMLWriter::fcpxml(s, list, {}, {}, options()));
  EXPECT_EQ(plain.attributes("//ref-clip/@start"), std::vector<std::string>{"3003/2500s"});
}

TEST(FCPXMLWriter, PiecesReachTheLastPartialFrameOfTheSource) {
  // 12.34 s at 25 fps is 308.5 frames: the compound clip holds 309, and so may the pieces.
  const CutList toTheEnd{{seg(0, 5, SegmentKind::silence), seg(5, 12.34)}};
  const File doc(FCPXMLWriter::fcpxml(source25(), toTheEnd, {}, {{11.5, 12.3, {"last"}}}, options()));
  ASSERT_EQ(doc.dtdProblems(), "");
  EXPECT_EQ(doc.attributes("//media/sequence/@duration"), std::vector<std::string>{"309/25s"});
  EXPECT_EQ(doc.attributes("//ref-clip/@start"), std::vector<std::string>{"5s"});
  EXPECT_EQ(doc.attributes("//ref-clip/@duration"), std::vector<std::string>{"184/25s"});
  EXPECT_EQ(doc.attributes("//project/sequence/@duration"), std::vector<std::string>{"184/25s"});

  // A batch cuts the same frames; a keep that ends inside the last frame ends with it too.
  const File batch(FCPXMLWriter::batchFcpxml(
      {{source25(), toTheEnd, {}, "A", {}}, {source25(), CutList{{seg(0, 12.33), seg(12.33, 12.34)}}, {}, "B", {}}},
      "Kestrane Batch"));
  ASSERT_EQ(batch.dtdProblems(), "");
  EXPECT_EQ(batch.attributes("//ref-clip/@duration"), (std::vector<std::string>{"184/25s", "309/25s"}));
}

TEST(FCPXMLWriter, TitlesSitInThePieceOfTheirMidpointAndNeverOverlap) {
  const std::vector<Cue> captions{{1.0, 1.5, {"early"}},      // piece 1, style 1
                                  {1.8, 2.53, {"crossing"}},  // midpoint in piece 2: starts at its start, style 2
                                  {2.55, 3.0, {"next"}},      // begins in the frame the previous one ends in, style 3
                                  {3.2, 3.2, {"zero"}},       // too short for a title, still uses style 4
                                  {3.5, 4.0, {"four"}},       // style 5
                                  {5.5, 6.0, {"past", "the", "end"}}};  // no piece: no title, no style
  const File doc(FCPXMLWriter::fcpxml(source25(), twoPieces(), {}, captions, options()));
  ASSERT_EQ(doc.dtdProblems(), "");
  EXPECT_EQ(doc.attributes("//ref-clip[1]/title/@offset"), std::vector<std::string>{"1s"});
  EXPECT_EQ(doc.attributes("//ref-clip[1]/title/@duration"), std::vector<std::string>{"13/25s"});
  EXPECT_EQ(doc.attributes("//ref-clip[2]/title/@offset"), (std::vector<std::string>{"5s", "138/25s", "162/25s"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/title/@duration"), (std::vector<std::string>{"13/25s", "12/25s", "13/25s"}));
  EXPECT_EQ(doc.attributes("//text-style-def/@id"), (std::vector<std::string>{"cts1", "cts2", "cts3", "cts5"}));
  EXPECT_EQ(doc.attributes("//title/@lane"), (std::vector<std::string>(4, "1")));

  // With captions and nothing kept the effect is still declared, and nothing is placed.
  const File empty(
      FCPXMLWriter::fcpxml(source25(), CutList{{seg(0, 12.34, SegmentKind::silence)}}, {}, captions, options()));
  ASSERT_EQ(empty.dtdProblems(), "");
  EXPECT_EQ(empty.number("count(//effect)"), 1);
  EXPECT_EQ(empty.number("count(//title)"), 0);
  EXPECT_EQ(empty.attributes("//project/sequence/@duration"), std::vector<std::string>{"0s"});
}

TEST(FCPXMLWriter, LateTitlesStayWithTheirWordsOverManyPieces) {
  // 150 pieces at 29.97 fps with edges between frames: each piece grows on the frame grid, so a
  // title timed on the plain cut would land seconds early. Each title must start in the frame
  // that plays its word.
  SourceMedia s = source25();
  s.frameDuration = {1001, 30000};
  s.durationSeconds = 460;
  const CutList list = test::offGridPieces(150);
  Transcript words;
  for (int i = 0; i < 150; ++i) {
    const double start = i * 3.0 + 0.017;
    words.words.push_back({"line" + std::to_string(i) + ".", {start + 0.4, start + 0.9}});
  }
  const auto cues = TranscriptExporter::cues(words, list, 4.0, 12);
  ASSERT_EQ(cues.size(), 150u);
  const File doc(FCPXMLWriter::fcpxml(s, list, {}, cues, options()));
  ASSERT_EQ(doc.dtdProblems(), "");
  const auto offsets = doc.attributes("//title/@offset");
  ASSERT_EQ(offsets.size(), 150u);
  for (int i = 0; i < 150; i += 149) {
    // A title's offset is in its ref-clip's own time, which is source time.
    const long long frame = readback::framesIn(offsets[i], 1001, 30000);
    const long long wordFrame = static_cast<long long>(std::floor((i * 3.0 + 0.417) * 30000 / 1001));
    EXPECT_EQ(frame, wordFrame) << "title " << i;
  }
}

TEST(FCPXMLWriter, PlacesGraphicsOnLanesAndSharesTheirResources) {
  const auto a = graphic("/p/a.mov", 1920, 1080, {1, 25}, 4.0);
  const auto b = graphic("/p/b.mov", 1080, 1920, {1001, 30000}, 3.0);
  const auto c = graphic("/p/c.mov", 1920, 1080, {1, 25}, 5.0);
  std::vector<GraphicsPlacement> graphics{
      place("", a, 3.0, 1.0, 3),         // piece 2, named by its file name
      place("Second", a, 0.5, 1.0, 0),   // same file: no new resource; lane 0 goes on lane 1
      place("Third", b, 10.0, 1.0, 1),   // past the cut's end: its last frame, one frame
      place("Fourth", c, 1.5, 3.0, 1)};  // runs on past its piece
  graphics[0].fileName = "a.mov";
  const std::vector<Cue> captions{{0.1, 0.5, {"one"}}, {2.1, 2.5, {"two"}}};
  const File doc(FCPXMLWriter::fcpxml(source25(), twoPieces(), graphics, captions, options()));
  ASSERT_EQ(doc.dtdProblems(), "");

  EXPECT_EQ(doc.attributes("//resources/format/@id"), (std::vector<std::string>{"r1", "r4", "r6"}));
  EXPECT_EQ(doc.attributes("//resources/asset/@id"), (std::vector<std::string>{"r2", "r5", "r7", "r8"}));
  EXPECT_EQ(doc.attributes("//asset[@id='r7']/@duration"), std::vector<std::string>{"89089/30000s"});

  EXPECT_EQ(doc.attributes("//ref-clip[1]/asset-clip/@name"), (std::vector<std::string>{"Second", "Fourth"}));
  EXPECT_EQ(doc.attributes("//ref-clip[1]/asset-clip/@offset"), (std::vector<std::string>{"12/25s", "37/25s"}));
  EXPECT_EQ(doc.attributes("//ref-clip[1]/asset-clip/@duration"), (std::vector<std::string>{"26/25s", "76/25s"}));
  EXPECT_EQ(doc.attributes("//ref-clip[1]/asset-clip/@lane"), (std::vector<std::string>{"1", "1"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/asset-clip/@name"), (std::vector<std::string>{"a.mov", "Third"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/asset-clip/@offset"), (std::vector<std::string>{"6s", "199/25s"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/asset-clip/@duration"), (std::vector<std::string>{"1s", "1/25s"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/asset-clip/@ref"), (std::vector<std::string>{"r5", "r7"}));
  EXPECT_EQ(doc.attributes("//ref-clip[2]/asset-clip/@lane"), (std::vector<std::string>{"3", "1"}));
  EXPECT_EQ(doc.attributes("//conform-rate/../@ref"), std::vector<std::string>{"r7"});
  EXPECT_EQ(doc.attributes("//title/@lane"), (std::vector<std::string>{"2", "4"}));
}

TEST(FCPXMLWriter, MarkersAreSortedCutAndEscaped) {
  std::string combining;
  for (int i = 0; i < 200; ++i) combining += "e\u0301";
  std::string expected = "Note to editor: ";
  for (int i = 0; i < 180; ++i) expected += "e\u0301";
  const std::vector<Advisory> notes{{{9.0, 9.5}, "B first at nine"},
                                    {{12.34, 13}, "at the very end"},
                                    {{1.0, 2.0}, "Tom & \"Jerry\" <3 it's &amp; done"},
                                    {{9.0, 9.1}, "B second at nine"},
                                    {{3.0, 3.1}, combining}};
  const std::string text = FCPXMLWriter::fcpxml(source25(), twoPieces(), {}, {}, options(notes));
  const File doc(text);
  ASSERT_EQ(doc.dtdProblems(), "");
  EXPECT_EQ(doc.attributes("//marker/@start"), (std::vector<std::string>{"1s", "3s", "9s", "9s"}));
  const auto values = doc.attributes("//marker/@value");
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0], "Note to editor: Tom & \"Jerry\" <3 it's &amp; done");
  EXPECT_EQ(values[1], expected);
  EXPECT_EQ(values[2], "Note to editor: B first at nine");
  EXPECT_EQ(values[3], "Note to editor: B second at nine");
  EXPECT_NE(text.find("Tom &amp; &quot;Jerry&quot; &lt;3 it's &amp;amp; done"), std::string::npos);

  // No notes: the compound clip's asset-clip closes on itself.
  const std::string bare = FCPXMLWriter::fcpxml(source25(), twoPieces(), {}, {}, options());
  EXPECT_NE(bare.find(R"(tcFormat="NDF"/>)"), std::string::npos);
}

TEST(FCPXMLWriter, AnyInputTextMakesAValidDocument) {
  SourceMedia s = source25();
  s.path = "/footage/bad\xff name\x01.mov";
  FCPXMLWriter::Options o{"Event\tone", "Line one\nline two", {{{1.0, 1.1}, "bell\x07 and \xc3\x28"}}};
  const std::vector<Cue> captions{{0.1,
                                   0.5,
                                   {"a\x0b"
                                    "b",
                                    "<i>"}}};
  const std::string text = FCPXMLWriter::fcpxml(s, twoPieces(), {}, captions, o);
  const File doc(text);
  ASSERT_EQ(doc.dtdProblems(), "");
  EXPECT_EQ(doc.attributes("//project/@name"), std::vector<std::string>{"Line one\nline two"});
  EXPECT_EQ(doc.attributes("//event/@name"), std::vector<std::string>{"Event\tone"});
  EXPECT_EQ(doc.attributes("//asset[@id='r2']/@name"), std::vector<std::string>{"bad\uFFFD name"});
  EXPECT_EQ(doc.attributes("//marker/@value"), std::vector<std::string>{"Note to editor: bell and \uFFFD("});
  EXPECT_EQ(doc.texts("//text-style/text()"), std::vector<std::string>{"ab <i>"});
  EXPECT_NE(text.find("src=\"file:///footage/bad%FF%20name%01.mov\""), std::string::npos);

  // A title's name holds its first 40 characters, an emoji sequence counting once.
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  std::string many, forty;
  for (int i = 0; i < 41; ++i) many += family;
  for (int i = 0; i < 40; ++i) forty += family;
  const File emoji(FCPXMLWriter::fcpxml(s, twoPieces(), {}, {{0.1, 0.5, {many}}}, o));
  EXPECT_EQ(emoji.attributes("//title/@name"), std::vector<std::string>{forty});
  EXPECT_EQ(emoji.texts("//text-style/text()"), std::vector<std::string>{many});
}

TEST(FCPXMLWriter, DescribesSourcesWithoutVideoOrAudioFacts) {
  SourceMedia s = source25();
  s.hasVideo = false;
  s.audioChannelCount = 0;
  const std::string noVideo = FCPXMLWriter::fcpxml(s, twoPieces(), {}, {}, options());
  EXPECT_NE(noVideo.find(R"(<format id="r1" frameDuration="1/25s"/>)"), std::string::npos);
  EXPECT_NE(noVideo.find(R"(hasVideo="0" hasAudio="1" format="r1">)"), std::string::npos);
  EXPECT_EQ(File(noVideo).dtdProblems(), "");
  s = source25();
  s.audioSampleRate = 44100.0;
  s.audioChannelCount = 1;
  EXPECT_NE(FCPXMLWriter::fcpxml(s, twoPieces(), {}, {}, options()).find(R"(audioRate="44100")"), std::string::npos);
}

TEST(FCPXMLWriter, BatchDocumentsKeepEachCutApart) {
  SourceMedia second = source25();
  second.frameDuration = {1001, 24000};
  second.path = "/footage/second.mov";
  const std::vector<FCPXMLWriter::BatchProject> items{
      {source25(), twoPieces(), {{0.1, 0.5, {"hi"}}}, "First", {{{1.0, 2.0}, "n"}}},
      {second, CutList{{seg(0.5, 4.0)}}, {{0.1, 0.5, {"yo"}}}, "Second", {}}};
  const File doc(FCPXMLWriter::batchFcpxml(items, "Kestrane Batch"));
  ASSERT_EQ(doc.dtdProblems(), "");
  EXPECT_EQ(doc.attributes("//resources/*/@id"),
            (std::vector<std::string>{"v0_r1", "v0_r2", "v0_r3", "v0_subFX", "v1_r1", "v1_r2", "v1_r3", "v1_subFX"}));
  EXPECT_EQ(doc.attributes("//event/@name"), std::vector<std::string>{"Kestrane Batch"});
  EXPECT_EQ(doc.attributes("//project/@name"), (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(doc.attributes("//project[2]//ref-clip/@ref"), std::vector<std::string>{"v1_r3"});
  EXPECT_EQ(doc.attributes("//text-style-def/@id"), (std::vector<std::string>{"v0_cts1", "v1_cts1"}));

  const File empty(FCPXMLWriter::batchFcpxml({}, "Kestrane Batch"));
  EXPECT_EQ(empty.dtdProblems(), "");
  EXPECT_EQ(empty.number("count(//event)"), 1);
}

TEST(FCPXMLWriter, WritesTheFileAtomically) {
  const kestrane::testing::ScratchFolder scratch;
  const auto& folder = scratch.path();
  const auto path = folder / "cut.fcpxml";
  FCPXMLWriter::write(source25(), twoPieces(), {}, {}, options(), path);
  std::stringstream read;
  read << std::ifstream(path).rdbuf();
  EXPECT_EQ(read.str(), FCPXMLWriter::fcpxml(source25(), twoPieces(), {}, {}, options()));
  EXPECT_THROW(FCPXMLWriter::write(source25(), twoPieces(), {}, {}, options(), folder / "no" / "x"),
               AtomicFile::WriteError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(GraphicsPlacement, DerivesItsTimesAndCountsWholeFrames) {
  GraphicsPlacement a{"T",
                      "My graphic.mov",
                      graphic("/p/My graphic.mov", 1920, 1080, {1, 25}, 2.0),
                      75.35,
                      0.0,
                      GraphicKind::fullFrame,
                      true,
                      1};
  GraphicsPlacement b = a;
  b.lane = 2;
  EXPECT_NE(a, b);
  EXPECT_EQ(a.timecode(), "01:15.4");
  EXPECT_EQ(a.url(), "file:///p/My%20graphic.mov");
  EXPECT_EQ(graphic("/g", 1, 1, {1, 25}, 1.16).frameCount(), 29);  // exactly on a frame boundary
  EXPECT_EQ(graphic("/g", 1, 1, {1001, 30000}, 3.0).frameCount(), 89);
}
