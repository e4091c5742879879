#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/RecutPlace.hpp"
#include "pipeline/StoredSession.hpp"
#include "kestrane/export/CutListCheck.hpp"

using namespace kestrane;
using test::storedSession;
using test::snapshot;
using test::StoredPackage;
namespace fs = std::filesystem;

namespace {

const std::string kNoBackend =
    "AI adjudication skipped — no claude CLI or ANTHROPIC_API_KEY found. The deterministic cut "
    "still removed flubs and repeated takes.";

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

PipelineSettings newSettings() {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.apply(CutTightness::tight);
  s.thoroughness = Thoroughness::fast;
  s.aiAdjudication.reset();
  s.subtitleLength.reset();
  s.embedCaptions.reset();
  s.manualKeepRanges.reset();
  s.manualRemoveRanges.reset();
  return s;
}

Pipeline::RecutRequest recutOf(const fs::path& session, PipelineSettings settings) {
  Pipeline::RecutRequest request;
  request.sessionURL = session;
  request.settings = std::move(settings);
  return request;
}

bool keeps(const CutList& cut, double second) {
  for (const Segment& s : cut.keptSegments())
    if (s.range.start <= second && second < s.range.end) return true;
  return false;
}

}  // namespace

TEST(Recut, MergesNewSettingsWithStoredHandEditsAndDetails) {
  StoredPackage stored;
  std::vector<std::string> stages;
  const auto progress = [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); };

  BrandSpec brand;
  brand.name = "Acme";
  Pipeline::RecutRequest request = recutOf(stored.sessionFile, newSettings());
  request.projectNotes = std::string(" \n");
  request.createMotionGraphics = false;
  request.brandSpec = brand;
  Pipeline::Output out = Pipeline::recut(request, progress);
  EXPECT_EQ(out.packageDir, stored.package);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front(), "Choosing the best takes");  // levels stored: nothing re-measured

  const PipelineSettings& s = out.session.settings;
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.10);                                  // the new tightness
  EXPECT_EQ(s.subtitleLength, TranscriptExporter::SubtitleLength::short_);  // stored kept
  EXPECT_EQ(s.embedCaptions, std::optional<bool>(false));
  ASSERT_TRUE(s.manualRemoveRanges);
  EXPECT_EQ(s.manualRemoveRanges->size(), 1u);
  EXPECT_FALSE(s.aiAdjudication);  // absent stays absent, and counts as on
  EXPECT_TRUE(contains(out.warnings, kNoBackend));
  EXPECT_EQ(CutListCheck::fault(*out.session.cutList, out.session.source), std::nullopt);
  EXPECT_TRUE(keeps(*out.session.cutList, 1.5));
  EXPECT_FALSE(keeps(*out.session.cutList, 7.0));  // the stored hand removal still applies
  EXPECT_EQ(out.session.source.frameDuration, (RationalTime{1001, 30000}));

  EXPECT_EQ(out.session.projectName, std::optional<std::string>("Talk"));
  EXPECT_FALSE(out.session.projectNotes);  // blank notes clear the stored ones
  EXPECT_FALSE(out.session.createMotionGraphics);
  ASSERT_TRUE(out.session.brandSpec);
  EXPECT_EQ(out.session.brandSpec->name, "Acme");
  EXPECT_EQ(out.session.script, std::optional<std::string>("Welcome to the show today."));
  EXPECT_TRUE(fs::exists(stored.package / "script-coverage.md"));

  const KestraneSession reread = KestraneSession::read(out.sessionURL);
  EXPECT_EQ(reread.settings.manualRemoveRanges->size(), 1u);
  EXPECT_EQ(reread.warnings, std::optional(out.warnings));

  // Present but empty hand-edit lists clear the stored ones; dropScript forgets the script and
  // the coverage report it made.
  PipelineSettings cleared = newSettings();
  cleared.manualKeepRanges = std::vector<TimeRange>{};
  cleared.manualRemoveRanges = std::vector<TimeRange>{};
  request = recutOf(stored.sessionFile, cleared);
  request.dropScript = true;
  out = Pipeline::recut(request);
  EXPECT_TRUE(keeps(*out.session.cutList, 7.0));
  EXPECT_FALSE(out.session.script);
  EXPECT_FALSE(fs::exists(stored.package / "script-coverage.md"));
  EXPECT_EQ(out.session.brandSpec->name, "Acme");  // not given: stored brand stays
}

TEST(Recut, WritesInPlaceOnlyIntoItsOwnPackage) {
  StoredPackage stored;
  const auto recutAs = [](const fs::path& session, std::optional<std::string> name) {
    Pipeline::RecutRequest request = recutOf(session, newSettings());
    request.projectName = std::move(name);
    return Pipeline::recut(request).packageDir;
  };
  const auto before = snapshot(stored.package);

  // A new name makes a new package beside the old one, which stays as it was; the same new
  // name again never writes into the package the first one made.
  const fs::path keynote = recutAs(stored.sessionFile, "Keynote");
  EXPECT_EQ(keynote, stored.root.path() / "Keynote Kestrane.kestrane");
  EXPECT_EQ(snapshot(stored.package), before);
  EXPECT_EQ(recutAs(stored.sessionFile, " Keynote\n"), stored.root.path() / "Keynote Kestrane 2.kestrane");
  EXPECT_EQ(KestraneSession::read(keynote / "talk.kestrane.json").projectName, std::optional<std::string>("Keynote"));

  // The package's own name, blank or absent: in place; also for a numbered package.
  EXPECT_EQ(recutAs(stored.sessionFile, "  Talk "), stored.package);
  EXPECT_EQ(recutAs(stored.sessionFile, "\t"), stored.package);
  const fs::path second = stored.root.path() / "Keynote Kestrane 2.kestrane";
  EXPECT_EQ(recutAs(second / "talk.kestrane.json", "Keynote"), second);

  // A session file outside any package gets a new package beside it, under the free name.
  const fs::path loose = stored.root.path() / "Desktop";
  fs::create_directories(loose);
  fs::copy_file(stored.sessionFile, loose / "talk.kestrane.json");
  const std::string looseBytes = slurp(loose / "talk.kestrane.json");
  EXPECT_EQ(recutAs(loose / "talk.kestrane.json", std::nullopt), loose / "Talk Kestrane.kestrane");
  EXPECT_EQ(recutAs(loose / "talk.kestrane.json", std::nullopt), loose / "Talk Kestrane 2.kestrane");
  EXPECT_EQ(slurp(loose / "talk.kestrane.json"), looseBytes);

  EXPECT_TRUE(Pipeline::detail::namesPackageOf("Talk Kestrane", "Talk"));
  EXPECT_FALSE(Pipeline::detail::namesPackageOf("Talk Kestrane.kestrane", "talk"));
  EXPECT_TRUE(Pipeline::detail::namesPackageOf("a-b Kestrane 3.kestrane", "a/b"));
  EXPECT_FALSE(Pipeline::detail::namesPackageOf("Talk Kestrane 1.kestrane", "Talk"));
}

TEST(Recut, GuardsRefuseBeforeTouchingThePackage) {
  const auto message = [](const fs::path& session) -> std::string {
    try {
      Pipeline::recut(recutOf(session, newSettings()));
    } catch (const std::exception& e) {
      return e.what();
    }
    return "no error";
  };
  {
    // The transcript guard is tested first, even when the footage is gone too.
    StoredPackage stored([](KestraneSession& s) {
      s.transcript.reset();
      s.source.path = "/nowhere/talk.mov";
    });
    const auto before = snapshot(stored.package);
    EXPECT_EQ(message(stored.sessionFile),
              "Can't re-cut from this session: no transcript stored — run the full pipeline once first");
    EXPECT_EQ(snapshot(stored.package), before);
  }
  {
    StoredPackage stored;
    const fs::path moved = stored.root.path() / "elsewhere.mov";
    fs::rename(stored.footage, moved);
    const auto before = snapshot(stored.package);
    EXPECT_EQ(message(stored.sessionFile),
              "Can't re-cut from this session: source media missing at " + stored.footage.string());
    EXPECT_EQ(snapshot(stored.package), before);
    EXPECT_THROW(Pipeline::retryAdjudication(stored.sessionFile), Pipeline::PipelineError);

    std::ofstream(stored.sessionFile) << "{ not a session";
    EXPECT_THROW(Pipeline::recut(recutOf(stored.sessionFile, newSettings())), SessionFileError);
    EXPECT_THROW(Pipeline::recut(recutOf(stored.root.path() / "none.kestrane.json", newSettings())), SessionFileError);
  }
  {
    // A transcript without words is still a transcript.
    StoredPackage stored([](KestraneSession& s) { s.transcript->words.clear(); });
    EXPECT_NO_THROW(Pipeline::recut(recutOf(stored.sessionFile, newSettings())));
  }
}

TEST(RetryAdjudication, TurnsTheSecondOpinionOnAndWarnsWithoutABackend) {
  StoredPackage stored;
  std::vector<std::string> stages;
  const Pipeline::Output out = Pipeline::retryAdjudication(
      stored.sessionFile, false, [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); });

  EXPECT_EQ(out.packageDir, stored.package);
  EXPECT_EQ(out.session.settings.aiAdjudication, std::optional<bool>(true));
  EXPECT_EQ(KestraneSession::read(out.sessionURL).settings.aiAdjudication, std::optional<bool>(true));
  EXPECT_TRUE(out.aiAdjudicationSkipped);
  EXPECT_EQ(std::count(out.warnings.begin(), out.warnings.end(), kNoBackend), 1);
  EXPECT_FALSE(contains(stages, "Second opinion from Claude"));
  EXPECT_FALSE(fs::exists(stored.package / "visual-ideas.md"));
  // Every other stored choice is kept.
  EXPECT_EQ(out.session.settings.subtitleLength, TranscriptExporter::SubtitleLength::short_);
  EXPECT_FALSE(keeps(*out.session.cutList, 7.0));
  EXPECT_EQ(out.session.projectNotes, std::optional<std::string>("keep it short"));
}

TEST(RoughCut, AppearsOnlyWhenCompleteAndStaleFilesGo) {
  test::TempDir root;
  const fs::path footage = root.path() / "sample.mp4";
  fs::copy_file(fs::path(KESTRANE_SOURCE_DIR) / "fixtures" / "sample-presenter.mp4", footage);
  const fs::path package = root.path() / "Sample Kestrane.kestrane";
  fs::create_directories(package);
  const fs::path sessionFile = package / "sample.kestrane.json";
  {
    KestraneSession session = storedSession(footage);
    session.source = MediaProbe::probe(footage.string());
    session.levels.reset();  // measured again by the re-cut
    session.write(sessionFile);
  }
  const auto hiddenFiles = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(package)) n += e.path().filename().string()[0] == '.';
    return n;
  };
  const fs::path roughCut = package / "sample rough cut.mp4";
  std::vector<std::string> stages;
  std::vector<double> renderedShares;
  const auto progress = [&](const Pipeline::Stage& s) {
    if (!s.fraction) stages.push_back(s.rawValue);
    if (s.fraction && s == Pipeline::Stage::rendering) renderedShares.push_back(*s.fraction);
  };

  PipelineSettings premiere = newSettings();
  premiere.exportTarget = ExportTarget::premiere;
  Pipeline::RecutRequest request = recutOf(sessionFile, premiere);
  request.renderMP4 = true;
  Pipeline::Output out = Pipeline::recut(request, progress);
  EXPECT_EQ(stages.front(), "Measuring the audio");
  EXPECT_EQ(stages.back(), "Rendering rough cut");
  // The render reports how far it is, rising to 1 once the movie is in place.
  ASSERT_GT(renderedShares.size(), 2u);
  EXPECT_TRUE(std::is_sorted(renderedShares.begin(), renderedShares.end()));
  EXPECT_EQ(renderedShares.back(), 1.0);
  EXPECT_EQ(out.mp4URL, std::optional(roughCut));
  ASSERT_TRUE(fs::exists(roughCut));
  EXPECT_TRUE(fs::exists(package / "sample (Premiere).xml"));
  EXPECT_EQ(hiddenFiles(), 0);

  // A render stopped as it starts keeps the new timelines; the earlier movie no longer matches
  // them, so it goes, and the stop says so.
  std::stop_source stopper;
  try {
    Pipeline::recut(
        request,
        [&](const Pipeline::Stage& s) {
          if (s == Pipeline::Stage::rendering) stopper.request_stop();
        },
        stopper.get_token());
    ADD_FAILURE() << "the stopped re-cut finished";
  } catch (const Cancelled& e) {
    EXPECT_EQ(e.keptPackage(), std::optional(package));
    EXPECT_EQ(e.notes(),
              std::vector<std::string>{"Removed the rough cut of the earlier cut — it no longer matches this one"});
  }
  EXPECT_FALSE(fs::exists(roughCut));
  EXPECT_EQ(hiddenFiles(), 0);
  Pipeline::recut(request);
  ASSERT_TRUE(fs::exists(roughCut));
  // A re-cut whose render fails keeps its new timelines and says so; the earlier movie no
  // longer matches them and goes.
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{0, 1e5}};
  const auto failed = Pipeline::recut(request);
  EXPECT_FALSE(failed.mp4URL);
  EXPECT_FALSE(fs::exists(roughCut));
  EXPECT_EQ(std::count(failed.warnings.begin(), failed.warnings.end(),
                       "Couldn't render the rough cut — Cut list has no kept segments"),
            1);
  EXPECT_EQ(KestraneSession::read(sessionFile).settings.manualRemoveRanges, request.settings.manualRemoveRanges);
  EXPECT_EQ(hiddenFiles(), 0);
  request.settings.manualRemoveRanges = std::vector<TimeRange>{};
  Pipeline::recut(request);
  ASSERT_TRUE(fs::exists(roughCut));

  // A cut that makes neither a Premiere timeline nor a movie removes the earlier ones.
  out = Pipeline::recut(recutOf(sessionFile, newSettings()));
  EXPECT_FALSE(out.mp4URL);
  EXPECT_FALSE(fs::exists(roughCut));
  EXPECT_FALSE(fs::exists(package / "sample (Premiere).xml"));
  const auto said = [&](const std::string& line) { return std::count(out.warnings.begin(), out.warnings.end(), line); };
  EXPECT_EQ(said("Removed the Premiere timeline of the earlier cut — it no longer matches this one"), 1);
  EXPECT_EQ(said("Removed the rough cut of the earlier cut — it no longer matches this one"), 1);
  out = Pipeline::recut(recutOf(sessionFile, newSettings()));
  EXPECT_EQ(said("Removed the rough cut of the earlier cut — it no longer matches this one"), 0)
      << "nothing to remove, nothing said";
}
