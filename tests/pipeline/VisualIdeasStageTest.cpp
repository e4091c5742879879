#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "ai/AiTestSupport.hpp"
#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/ai/ModelError.hpp"
#include "kestrane/platform/HttpClient.hpp"
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

TEST(VisualIdeasStage, TheModelsDocumentArrivesAnchoredAndAFailureKeepsTheOldOne) {
  StoredPackage stored;
  test::FakeClaude claude;
  claude.reply(
      "# Ideas for Talk\n\n## [00:20] Closing card\n- **Type:** diagram\n"
      "- **Anchor:** And here is the last\n- **Generation prompt:** cards settle\n");
  Pipeline::RecutRequest request;
  request.sessionURL = stored.sessionFile;
  request.settings = KestraneSession::read(stored.sessionFile).settings;
  request.settings.aiAdjudication = false;
  request.useClaude = true;
  request.createMotionGraphics = false;  // only the ideas document asks the model here
  request.services.aiBackend = [] {
    return ModelClient::commandLineBackend(test::fakeClaudePath(), Pipeline::processEnvironment);
  };
  std::vector<std::string> stages;
  const auto progress = [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); };

  const Pipeline::Output out = Pipeline::recut(request, progress);
  const fs::path doc = stored.package / "visual-ideas.md";
  EXPECT_EQ(out.visualIdeasURL, doc);
  const std::string text = slurp(doc);
  EXPECT_TRUE(text.starts_with("# Ideas for Talk\n\n## How to use this document\n")) << text;
  EXPECT_NE(text.find("] Closing card\n- **Timing:** measured from the anchor"), std::string::npos);
  EXPECT_NE(std::find(stages.begin(), stages.end(), "Writing the visual ideas"), stages.end());
  ASSERT_EQ(claude.calls(), 1);
  const std::string prompt = claude.stdinOf(0);
  EXPECT_NE(prompt.find("FIRST CUT of \"Talk\""), std::string::npos);
  EXPECT_NE(prompt.find("honor these when choosing moments and styles of visual):\nkeep it short\n"),
            std::string::npos);
  EXPECT_NE(prompt.find("TRANSCRIPT:\n[00:0"), std::string::npos);

  // The tool fails: the job still finishes, says why, and re-anchors the document it has.
  claude.scenario("fail");
  claude.reply("boom");
  const Pipeline::Output failed = Pipeline::recut(request, progress);
  EXPECT_EQ(failed.visualIdeasURL, doc);
  bool said = false;
  for (const std::string& w : failed.warnings) said = said || w.starts_with("Visual ideas skipped: ");
  EXPECT_TRUE(said);
  EXPECT_NE(slurp(doc).find("] Closing card\n- **Timing:** measured"), std::string::npos);

  // No backend at all.
  request.services.aiBackend = nullptr;
  const Pipeline::Output none = Pipeline::recut(request);
  EXPECT_NE(std::find(none.warnings.begin(), none.warnings.end(),
                      "Visual ideas skipped — no claude CLI or ANTHROPIC_API_KEY found"),
            none.warnings.end());
}

namespace {

// A model that fails the way it is told to.
class FailingBackend : public AIBackend {
 public:
  explicit FailingBackend(std::function<void()> failure) : failure_(std::move(failure)) {}
  std::string send(const ModelCall&, std::stop_token) const override {
    failure_();
    return {};
  }

 private:
  std::function<void()> failure_;
};

}  // namespace

// The job goes on past a failed ideas request either way, but only a failure written for the
// user (or a transport failure) is repeated as it is; a fault of the program says so.
TEST(VisualIdeasStage, AFailedRequestSaysWhetherItIsTheProgramsFault) {
  StoredPackage stored;
  Pipeline::RecutRequest request;
  request.sessionURL = stored.sessionFile;
  request.settings = KestraneSession::read(stored.sessionFile).settings;
  request.settings.aiAdjudication = false;
  request.useClaude = true;
  request.createMotionGraphics = false;
  const auto warningsWhen = [&](std::function<void()> failure) {
    request.services.aiBackend = [failure] { return std::make_shared<FailingBackend>(failure); };
    return Pipeline::recut(request).warnings;
  };
  using ::testing::Contains;
  EXPECT_THAT(warningsWhen([] { throw ModelError::notSignedIn(); }),
              Contains("Visual ideas skipped: " + std::string(ModelError::notSignedIn().what())));
  EXPECT_THAT(warningsWhen([] { throw HttpClient::TransportError("Couldn't connect to the server."); }),
              Contains("Visual ideas skipped: Couldn't connect to the server."));
  EXPECT_THAT(warningsWhen([] { throw std::out_of_range("vector::_M_range_check"); }),
              Contains("Visual ideas skipped: internal error: vector::_M_range_check"));
}
