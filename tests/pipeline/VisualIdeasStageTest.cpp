#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::StoredPackage;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kHandEdited =
    "# Visual Opportunities — Talk\n\n"
    "## [00:30] Closing card\r\n"
    "- **Type:** diagram\r\n"
    "- **Anchor:** and here is the last\r\n"
    "- **Lead in:** 0.2\r\n"
    "- **Generation prompt:** a stack of cards settles, the last one lands on top\r\n"
    "- **Timing:** an old bullet the editor left in\r\n\r\n"
    "## [00:02] Lost line\n"
    "- **Anchor:** this is the second line\n"
    "- **Generation prompt:** a line that was cut by hand\n";

Pipeline::Output recut(const StoredPackage& stored) {
  Pipeline::RecutRequest request;
  request.sessionURL = stored.sessionFile;
  request.settings = KestraneSession::read(stored.sessionFile).settings;
  return Pipeline::recut(request);
}

}  // namespace

TEST(VisualIdeasStage, PreambleGoesInFrontOnce) {
  using Pipeline::detail::withPreamble;
  const std::string titled = withPreamble("# My title\n\n\n## [00:01] A\n- x\n\n", "P");
  EXPECT_TRUE(titled.starts_with("# My title\n\n## How to use this document\n\nEach entry below"));
  EXPECT_TRUE(titled.ends_with("\n---\n## [00:01] A\n- x\n"));
  const std::string bare = withPreamble("## [00:01] A", "Talk");
  EXPECT_TRUE(bare.starts_with("# Visual Opportunities — Talk\n\n## How to use this document\n"));
  EXPECT_TRUE(bare.ends_with("ordered by timecode.\n\n---\n## [00:01] A"));
  EXPECT_EQ(withPreamble("# One line only", "T").substr(0, 30), "# Visual Opportunities — T\n\n");
  EXPECT_EQ(withPreamble(titled, "P"), titled);
  // The fixed preamble is 11 lines, 657 bytes.
  const std::size_t start = bare.find("## How to use");
  EXPECT_EQ(bare.size() - start - std::string("## [00:01] A").size(), 657u);
}

TEST(VisualIdeasStage, ARecutReanchorsTheDocumentInThePackage) {
  StoredPackage stored;
  const fs::path doc = stored.package / "visual-ideas.md";
  std::ofstream(doc, std::ios::binary) << kHandEdited;

  const Pipeline::Output first = recut(stored);
  EXPECT_EQ(first.visualIdeasURL, doc);
  const std::string annotated = slurp(doc);
  EXPECT_EQ(annotated.find('\r'), std::string::npos);
  EXPECT_EQ(annotated.find("an old bullet"), std::string::npos);
  const std::size_t closing = annotated.find("] Closing card\n- **Timing:** measured from the anchor — in at **");
  ASSERT_NE(closing, std::string::npos) << annotated;
  EXPECT_EQ(annotated.substr(closing - 5, 5).find('~'), std::string::npos);
  EXPECT_NE(annotated.find("## [~00:02] Lost line\n- **Timing:** NOT MEASURED"), std::string::npos);
  bool warned = false;
  for (const std::string& w : first.warnings) {
    warned = warned || w.starts_with("Motion graphics timing: 1 of 2 visual could not be anchored");
  }
  EXPECT_TRUE(warned);

  // The next re-cut reads the measured heading as its estimate: same in-point, no drift left.
  EXPECT_NE(annotated.find("The first draft of this doc guessed 00:30"), std::string::npos);
  recut(stored);
  const std::string again = slurp(doc);
  EXPECT_EQ(again.find("The first draft"), std::string::npos);
  EXPECT_EQ(again.substr(0, closing), annotated.substr(0, closing));
}

TEST(VisualIdeasStage, NoDocumentOrNoIdeasMeansNothingWritten) {
  StoredPackage stored;
  Pipeline::Output out = recut(stored);
  EXPECT_FALSE(out.visualIdeasURL);
  EXPECT_FALSE(fs::exists(stored.package / "visual-ideas.md"));

  const std::string notes = "# Notes\n\nNothing planned yet.\r\n";
  std::ofstream(stored.package / "visual-ideas.md", std::ios::binary) << notes;
  out = recut(stored);
  EXPECT_FALSE(out.visualIdeasURL);
  EXPECT_EQ(slurp(stored.package / "visual-ideas.md"), notes);
}
