// The package's writers look at the job's stop while they work through a long cut: hand edits
// can split one into a million pieces, and every piece meets every word.
#include <gtest/gtest.h>

#include <stop_token>

#include "export/ExportFixtures.hpp"
#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/model/Cancelled.hpp"

using namespace kestrane;

TEST(WriterStop, TheWritersOfALongCutLookAtTheStop) {
  const CutList cut = test::offGridPieces(3000);
  const SourceMedia source = test::videoSource("/footage/talk.mov", 9000, {1001, 30000});
  Transcript transcript;
  for (int i = 0; i < 3000; ++i) {
    transcript.words.push_back({i % 5 == 4 ? "word." : "word", {i * 3.0 + 0.2, i * 3.0 + 0.6}});
  }
  const auto captions = TranscriptExporter::cues(transcript, cut, 2.0, 5);
  const FCPXMLWriter::Options options{"Kestrane", "Talk — Kestrane", {}};

  // Outside a job they run to the end.
  ASSERT_EQ(captions.size(), 1800u);
  EXPECT_FALSE(XMEMLWriter::xmeml(source, cut, "Talk", true).empty());

  std::stop_source stop;
  stop.request_stop();
  const StopScope scope(stop.get_token());
  EXPECT_THROW(TranscriptExporter::srt(source, transcript, cut, 4.0, 12), Cancelled);
  EXPECT_THROW(TranscriptExporter::markdown(source, transcript, cut, {}), Cancelled);
  EXPECT_THROW(TranscriptExporter::anchorMarkdown(transcript, cut, 6.0, 14), Cancelled);
  EXPECT_THROW(FCPXMLWriter::fcpxml(source, cut, {}, {}, options), Cancelled) << "the pieces";
  EXPECT_THROW(FCPXMLWriter::fcpxml(source, cut, {}, captions, options), Cancelled) << "the captions";
  EXPECT_THROW(XMEMLWriter::xmeml(source, cut, "Talk", true), Cancelled);
}
