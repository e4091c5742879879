// How the core decides, reviews and writes, on made-up analyses (no media needed).
#include <gtest/gtest.h>

#include "kestrane/model/SessionJson.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

const char* kNoBackend =
    "AI adjudication skipped — no claude CLI or ANTHROPIC_API_KEY found. The deterministic cut "
    "still removed flubs and repeated takes.";

std::vector<TranscriptWord> twoLines() {
  auto words = test::spoken("welcome to the small workshop today.", 1.0);
  auto more = test::spoken("we build a wooden box together now.", 6.0);
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

Pipeline::Output runWith(const fs::path& out, const PipelineSettings& settings, const Pipeline::Analysis& analysis,
                         std::optional<fs::path> script = std::nullopt, std::vector<std::string>* stages = nullptr) {
  Pipeline::Request r;
  r.input = analysis.source.path;
  r.outputDir = out;
  r.scriptURL = script;
  r.settings = settings;
  return Pipeline::run(r, analysis, [stages](const Pipeline::Stage& s) {
    if (stages) stages->push_back(s.rawValue);
  });
}

}  // namespace

TEST(CoreBehaviour, TheAIGateWarnsOnlyWhenAdjudicationIsWanted) {
  test::TempDir tmp;
  const auto analysis = test::syntheticAnalysis(twoLines());
  PipelineSettings settings = test::appSettings();

  const auto off = runWith(tmp.path(), settings, analysis);
  EXPECT_FALSE(off.aiAdjudicationSkipped);
  EXPECT_EQ(std::count(off.warnings.begin(), off.warnings.end(), kNoBackend), 0);

  settings.aiAdjudication.reset();  // absent counts as on
  std::vector<std::string> stages;
  const auto wanted = runWith(tmp.path(), settings, analysis, std::nullopt, &stages);
  EXPECT_TRUE(wanted.aiAdjudicationSkipped);
  EXPECT_EQ(std::count(wanted.warnings.begin(), wanted.warnings.end(), kNoBackend), 1);
  EXPECT_EQ(wanted.session.cutList->segments, off.session.cutList->segments);
  EXPECT_EQ(std::count(stages.begin(), stages.end(), "Second opinion from Claude"), 0);
  EXPECT_EQ(std::count(stages.begin(), stages.end(), "Checking the cut"), 0);

  settings.aiAdjudication = true;
  settings.thoroughness = Thoroughness::silencesOnly;  // no AI at all for silences only
  const auto silencesOnly = runWith(tmp.path(), settings, analysis);
  EXPECT_FALSE(silencesOnly.aiAdjudicationSkipped);
  EXPECT_EQ(std::count(silencesOnly.warnings.begin(), silencesOnly.warnings.end(), kNoBackend), 0);
  EXPECT_EQ(silencesOnly.packageDir.filename(), "talk Kestrane 3.kestrane");

  // The most thorough review with AI off: the picture check runs (on footage it cannot open,
  // it skips its joins), and still no self-review round is announced.
  settings.thoroughness = Thoroughness::meticulous;
  settings.aiAdjudication = false;
  stages.clear();
  const auto meticulous = runWith(tmp.path(), settings, analysis, std::nullopt, &stages);
  EXPECT_EQ(std::count(stages.begin(), stages.end(), "Checking the cut"), 0);
  EXPECT_EQ(meticulous.session.cutList->segments, off.session.cutList->segments);
}

#if defined(__x86_64__)
// The most thorough review looks at the picture on both sides of each join. A drive that fails to
// read the footage there leaves the framing unchecked and says so, and notes no jump it couldn't
// see; read, the same join is a framing jump.
TEST(CoreBehaviour, FramingTheDriveFailsToReadIsSaidToBeUnchecked) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "takes.mp4";
  // Five seconds framed dark, then seven bright, grainy enough that the pictures either side of
  // the join lie well past the file's first third, where the failing drive begins.
  ASSERT_TRUE(
      test::ffmpeg("-f lavfi -i color=c=0x202020:s=320x180:r=25:d=5 -f lavfi -i "
                   "color=c=0xe0e0e0:s=320x180:r=25:d=7 -filter_complex "
                   "'[0][1]concat=n=2:v=1:a=0,noise=alls=60:allf=t' -c:v libx264 -preset ultrafast "
                   "-b:v 2M -g 25 -movflags +faststart -pix_fmt yuv420p " +
                   test::quoted(footage)));
  Pipeline::Analysis analysis = test::syntheticAnalysis(twoLines(), 12);
  analysis.source.path = footage.string();
  analysis.footage = platform::MediaFile::open(footage.string());
  PipelineSettings settings = test::appSettings();
  settings.thoroughness = Thoroughness::meticulous;
  const auto jumps = [](const Pipeline::Output& output) {
    return std::count_if(output.warnings.begin(), output.warnings.end(),
                         [](const std::string& w) { return w.starts_with("Check — framing jump: "); });
  };
  const std::string unchecked = "The framing at the cuts wasn't checked: " + footage.string() +
                                " can't be read (can't read the picture: Input/output error) — check that the "
                                "drive it is on is connected and reads";
  const auto read = runWith(tmp.path() / "read", settings, analysis);
  EXPECT_EQ(jumps(read), 1);
  EXPECT_EQ(std::count(read.warnings.begin(), read.warnings.end(), unchecked), 0);

  const auto failingFrom = static_cast<std::uint32_t>(fs::file_size(footage) / 3);
  const int ended = test::inChild([&] {
    // Every read of the held footage past its first third fails from now on, as a failing drive's.
    if (!test::withFailingReads(analysis.footage->fd(), failingFrom)) ::_exit(3);
    const auto failing = runWith(tmp.path() / "failing", settings, analysis);
    const bool said = std::count(failing.warnings.begin(), failing.warnings.end(), unchecked) == 1;
    ::_exit(said && jumps(failing) == 0 ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't filter system calls here";
  EXPECT_EQ(WEXITSTATUS(ended), 0);
}
#endif

TEST(CoreBehaviour, PackageFilesFollowTheSettingsAndTheScript) {
  test::TempDir tmp;
  const auto analysis = test::syntheticAnalysis(twoLines());
  const fs::path script = tmp.path() / "script.txt";
  std::ofstream(script) << "Welcome to the small workshop today.\n"
                           "We build a wooden box together now.\n"
                           "This closing line was never recorded at all.\n";
  PipelineSettings settings = test::appSettings();
  settings.embedCaptions = false;
  const auto output = runWith(tmp.path() / "scripted", settings, analysis, script);

  EXPECT_EQ(std::count(output.warnings.begin(), output.warnings.end(),
                       "1 script beat appears to be missing from the footage — see script-coverage.md"),
            1);
  EXPECT_TRUE(fs::exists(output.packageDir / "script-coverage.md"));
  // The stored warnings match the job's, the missing-beat line included.
  EXPECT_EQ(KestraneSession::read(output.sessionURL).warnings, std::optional(output.warnings));
  // No titles on the timeline, but the SRT file is still written.
  EXPECT_EQ(test::readFile(output.fcpxmlURL).find("<title"), std::string::npos);
  EXPECT_NE(test::readFile(output.captionsURL).find("welcome to the small workshop"), std::string::npos);

  // Without a script there is no coverage report; with no notes the advisories are an empty
  // list, not absent, and a job without warnings stores none.
  settings.embedCaptions.reset();
  const auto plain = runWith(tmp.path() / "plain", settings, analysis);
  EXPECT_FALSE(fs::exists(plain.packageDir / "script-coverage.md"));
  EXPECT_NE(test::readFile(plain.fcpxmlURL).find("<title"), std::string::npos);
  ASSERT_TRUE(plain.session.advisories.has_value());
  if (plain.warnings.empty()) {
    EXPECT_EQ(test::readFile(plain.sessionURL).find("\"warnings\""), std::string::npos);
  }
}

TEST(CoreBehaviour, UndecodableLevelsStillGiveAPackage) {
  test::TempDir tmp;
  auto analysis = test::syntheticAnalysis(twoLines());
  analysis.levels.base64 = "%%% not base64 %%%";
  const auto output = runWith(tmp.path(), test::appSettings(), analysis);
  ASSERT_TRUE(output.session.silences.has_value());
  EXPECT_TRUE(output.session.silences->empty());
  EXPECT_TRUE(fs::exists(output.sessionURL));
}

TEST(CoreBehaviour, ProjectNamesNameTheFolderAndTheDocuments) {
  test::TempDir tmp;
  Pipeline::Request r;
  const auto analysis = test::syntheticAnalysis(twoLines());
  r.input = analysis.source.path;
  r.outputDir = tmp.path();
  r.projectName = "  Launch/Day 1 \n";
  r.projectNotes = " \n ";
  r.graphicsNotes = "  bold  ";
  r.settings = test::appSettings();
  const auto output = Pipeline::run(r, analysis);
  EXPECT_EQ(output.packageDir, tmp.path() / "Launch-Day 1 Kestrane.kestrane");
  EXPECT_EQ(output.fcpxmlURL.filename(), "talk.fcpxml");
  EXPECT_EQ(output.session.projectName, std::optional<std::string>("Launch/Day 1"));
  EXPECT_NE(test::readFile(output.fcpxmlURL).find("Launch/Day 1 — Kestrane"), std::string::npos);
  EXPECT_FALSE(output.session.projectNotes.has_value());
  EXPECT_EQ(output.session.graphicsNotes, std::optional<std::string>("bold"));
  EXPECT_FALSE(output.session.createMotionGraphics.has_value());

  // A footage name as long as a name may be, less its ".mov", still gives a whole package.
  auto longName = analysis;
  longName.source.path = "/nonexistent/footage/" + std::string(240, 'f') + ".mov";
  r.input = longName.source.path;
  r.projectName.reset();
  const auto named = Pipeline::run(r, longName);
  EXPECT_TRUE(std::filesystem::exists(named.sessionURL));
  EXPECT_TRUE(std::filesystem::exists(named.fcpxmlURL));
}

TEST(CoreBehaviour, AFailedFinalSessionWriteBecomesAWarning) {
  KestraneSession session = KestraneSession::make({}, test::appSettings());
  std::vector<std::string> warnings{"earlier"};
  Pipeline::detail::writeFinalSession(session, "/nonexistent/folder/talk.kestrane.json", warnings);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1].rfind("Couldn't update the session file with the final warnings — ", 0), 0u);
  EXPECT_EQ(session.warnings, std::optional(warnings));
}
