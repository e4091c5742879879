// Both timelines of one cut, read back with an XML parser: every piece must cut exactly the
// frames the cut list asks for, and the FCPXML and the xmeml must cut the same ones but for
// the source's last partial frame, which only the FCPXML holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/ExportFixtures.hpp"
#include "export/XmlReadBack.hpp"
#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/export/CutListCheck.hpp"

using namespace kestrane;

namespace {

struct Part {
  SegmentKind kind;
  std::int64_t startMs;
  std::int64_t endMs;
};

// Cut boundaries in whole milliseconds, so the expected frames can be computed exactly.
const std::vector<Part> parts{{SegmentKind::keep, 0, 1160},  // 1.16 s: on a frame boundary at 25 fps
                              {SegmentKind::silence, 1160, 2000},
                              {SegmentKind::keep, 2000, 3517},
                              {SegmentKind::keep, 3517, 5003},    // touches the previous kept stretch
                              {SegmentKind::filler, 5003, 5013},  // shorter than a frame
                              {SegmentKind::keep, 5013, 7777},
                              {SegmentKind::flub, 7777, 9000},
                              {SegmentKind::keep, 9000, 9001},  // a sliver inside one frame
                              {SegmentKind::silence, 9001, 12000},
                              {SegmentKind::keep, 12000, 33367},
                              {SegmentKind::retakeRejected, 33367, 60000},
                              {SegmentKind::keep, 60000, 119990},
                              {SegmentKind::silence, 119990, 120000}};

struct Expected {
  long long in, out, offset;
};

// Exact reference: floor at starts, ceiling at ends, and a join closer than one frame keeps
// the previous piece's end as its start. The FCPXML's pieces may reach the source's last
// partial frame (120 s rounded up to whole frames); the xmeml's stop inside the source clip it
// declares (120 s rounded to whole frames, halves to even).
std::vector<Expected> expectedPieces(RationalTime fd, bool toPartialFrame) {
  const auto num = [&](std::int64_t ms) { return static_cast<__int128>(ms) * fd.timescale; };
  const __int128 den = static_cast<__int128>(1000) * fd.value;
  const auto floorFrames = [&](std::int64_t ms) { return static_cast<long long>(num(ms) / den); };
  const auto ceilFrames = [&](std::int64_t ms) { return static_cast<long long>((num(ms) + den - 1) / den); };
  const __int128 sourceNum = num(120000);
  long long lastFrame = static_cast<long long>(sourceNum / den);
  const __int128 rest = sourceNum % den;
  if (toPartialFrame ? rest > 0 : (2 * rest > den || (2 * rest == den && lastFrame % 2 == 1))) ++lastFrame;
  std::vector<Expected> out;
  long long cursor = 0;
  std::optional<std::int64_t> previousEndMs;
  for (const Part& p : parts) {
    if (p.kind != SegmentKind::keep) continue;
    long long in = floorFrames(p.startMs);
    const long long outFrame = std::min(ceilFrames(p.endMs), lastFrame);
    if (previousEndMs && !out.empty()) {
      const __int128 gap = num(p.startMs > *previousEndMs ? p.startMs - *previousEndMs : *previousEndMs - p.startMs);
      if (gap < den) in = out.back().out;
    }
    previousEndMs = p.endMs;
    if (outFrame > in) {
      out.push_back({in, outFrame, cursor});
      cursor += outFrame - in;
    }
  }
  return out;
}

}  // namespace

TEST(TimelineReadBack, BothTimelinesCutTheFramesOfTheCutList) {
  for (const RationalTime fd : {RationalTime{1, 25}, RationalTime{1001, 30000}, RationalTime{1001, 24000}}) {
    SCOPED_TRACE(fd.fcpxmlString());
    const SourceMedia source = test::videoSource("/footage/interview.mov", 120.0, fd, 3840, 2160);
    CutList list;
    for (const Part& p : parts) {
      list.segments.push_back(Segment{{p.startMs / 1000.0, p.endMs / 1000.0}, p.kind, {}, {}});
    }
    EXPECT_EQ(CutListCheck::fault(list, source), std::nullopt);
    const auto lengthOf = [](const std::vector<Expected>& pieces) {
      return pieces.back().offset + pieces.back().out - pieces.back().in;
    };
    auto expected = expectedPieces(fd, true);
    ASSERT_EQ(expected.size(), 7u);
    long long total = lengthOf(expected);

    const readback::File fcpxml(
        FCPXMLWriter::fcpxml(source, list, {}, {}, FCPXMLWriter::Options{"Kestrane", "Interview", {}}), ".fcpxml");
    ASSERT_EQ(fcpxml.dtdProblems(), "");
    const auto frames = [&](const std::string& t) { return readback::framesIn(t, fd.value, fd.timescale); };
    const auto offsets = fcpxml.attributes("//ref-clip/@offset");
    const auto starts = fcpxml.attributes("//ref-clip/@start");
    const auto durations = fcpxml.attributes("//ref-clip/@duration");
    ASSERT_EQ(offsets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(frames(offsets[i]), expected[i].offset) << "piece " << i;
      EXPECT_EQ(frames(starts[i]), expected[i].in) << "piece " << i;
      EXPECT_EQ(frames(durations[i]), expected[i].out - expected[i].in) << "piece " << i;
    }
    EXPECT_EQ(frames(fcpxml.attributes("//project/sequence/@duration").at(0)), total);

    expected = expectedPieces(fd, false);
    total = lengthOf(expected);
    const readback::File xmeml(XMEMLWriter::xmeml(source, list, "Interview", true));
    ASSERT_EQ(xmeml.wellFormedProblems(), "");
    for (const std::string track : {"video", "audio"}) {
      const std::string items = "/xmeml/sequence/media/" + track + "/track[1]/clipitem";
      const auto ins = xmeml.texts(items + "/in/text()");
      const auto outs = xmeml.texts(items + "/out/text()");
      const auto tlStarts = xmeml.texts(items + "/start/text()");
      const auto tlEnds = xmeml.texts(items + "/end/text()");
      ASSERT_EQ(ins.size(), expected.size()) << track;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::stoll(ins[i]), expected[i].in) << track << " piece " << i;
        EXPECT_EQ(std::stoll(outs[i]), expected[i].out) << track << " piece " << i;
        EXPECT_EQ(std::stoll(tlStarts[i]), expected[i].offset) << track << " piece " << i;
        EXPECT_EQ(std::stoll(tlEnds[i]), expected[i].offset + expected[i].out - expected[i].in);
      }
    }
    EXPECT_EQ(std::stoll(xmeml.texts("/xmeml/sequence/duration/text()").at(0)), total);
  }
}
