// The motion-graphics stage over fakes: a composition author, a stand-in for the renderer's
// toolchain found where the real one is installed, and a brand site on loopback.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "export/XmlReadBack.hpp"
#include "fakes/FakeBrandSite.hpp"
#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "pipeline/StoredSession.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;
using Strings = std::vector<std::string>;

namespace {

// Writes a clean composition, or one that loads an image from the web for the "Leaky" idea.
class Composer : public AIBackend {
 public:
  std::string send(const ModelCall& call, std::stop_token) const override {
    ++calls;
    if (call.prompt.find("Leaky card") != std::string::npos)
      return "<html><body><img src=\"https&#58;//evil.example/a.png\"></body></html>";
    return "<!doctype html><html><body><div id=\"root\"></div></body></html>";
  }
  mutable std::atomic<int> calls{0};
};

VisualIdea idea(double at, const std::string& name) {
  VisualIdea i;
  i.name = name;
  i.placementSeconds = at;
  i.durationSeconds = 0.1;
  i.kind = GraphicKind::alphaOverlay;
  i.placementSource = PlacementSource::anchored;
  i.generationPrompt = "a card";
  return i;
}

class MotionGraphicsStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"HOME", "PATH"}) saved.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
    // A finished package to place graphics in.
    Pipeline::RecutRequest recut;
    recut.sessionURL = stored.sessionFile;
    recut.settings = KestraneSession::read(stored.sessionFile).settings;
    recut.createMotionGraphics = false;
    Pipeline::recut(recut);

    // The toolchain stand-in where the set-up installs the real one.
    const fs::path home = stored.root.path() / "home";
    fs::create_directories(home / ".npm-global/bin");
    fs::create_symlink(fs::path(KESTRANE_SOURCE_DIR) / "tests/fakes/fake_npx.sh", home / ".npm-global/bin/npx");
    fs::create_directories(home / "frames");
    kt::make("ffmpeg -v error -f lavfi -i testsrc=s=64x36:r=30:d=1 -frames:v 3 '" + (home / "frames/f%d.png").string() +
             "'");
    kt::writeFile((home / ".fake-npx").string(), "FAKE_NPX_LOG='" + (home / "npx.log").string() +
                                                     "'\nFAKE_NPX_FRAMES='" + (home / "frames").string() + "'\n");
    setenv("HOME", home.c_str(), 1);
    services.aiBackend = [this] { return backend; };
  }
  void TearDown() override {
    for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  }

  // One pass of the stage over the stored package, as the pipeline runs it.
  Strings stage(const std::vector<VisualIdea>& ideas, bool renderGraphics,
                const std::function<void(KestraneSession&)>& change = {}) {
    KestraneSession session = KestraneSession::read(stored.sessionFile);
    session.createMotionGraphics = true;
    if (change) change(session);
    Pipeline::detail::Job job{session, services, {}, {}};
    job.stem = "talk";
    job.projectName = "Talk";
    job.cutList = *session.cutList;
    Pipeline::detail::PackageFiles files;
    files.dir = stored.package;
    files.fcpxml = stored.package / "talk.fcpxml";
    files.session = stored.sessionFile;
    Pipeline::detail::IdeasOutcome outcome;
    outcome.ideas = ideas;
    outcome.graphicsCount = static_cast<int>(ideas.size());
    Pipeline::detail::motionGraphics(job, files, outcome, renderGraphics);
    return job.warnings;
  }

  static bool has(const Strings& warnings, const std::string& text) {
    return std::find(warnings.begin(), warnings.end(), text) != warnings.end();
  }
  static const std::string* startingWith(const Strings& warnings, const std::string& start) {
    for (const auto& w : warnings)
      if (w.starts_with(start)) return &w;
    return nullptr;
  }

  test::StoredPackage stored;
  std::vector<std::pair<std::string, std::string>> saved;
  Pipeline::Services services;
  std::shared_ptr<Composer> backend = std::make_shared<Composer>();
};

}  // namespace

TEST_F(MotionGraphicsStageTest, RendersWhatPassesReadsTheBrandColoursAndPlacesTheClip) {
  const fs::path siteRoot = stored.root.path() / "site";
  fs::create_directories(siteRoot);
  kt::writeFile((siteRoot / "index.html").string(),
                "<html><head><meta name=\"theme-color\" content=\"#1A73E8\"></head></html>");
  const test::FakeBrandSite site(siteRoot, stored.root.path() / "server");

  const Strings warnings = stage({idea(1.0, "Opening card"), idea(3.0, "Leaky card")}, true, [&](KestraneSession& s) {
    BrandSpec brand;
    brand.name = "Acme";
    brand.websiteURL = site.url("/index.html");
    s.brandSpec = brand;
  });

  const std::string* colours = startingWith(warnings, "Brand colors read from 127.0.0.1");
  ASSERT_TRUE(colours) << ::testing::PrintToString(warnings);
  EXPECT_NE(colours->find("#1a73e8"), std::string::npos) << *colours;
  EXPECT_TRUE(colours->ends_with(". Type your own into the brand's Colors field to override them."));
  const std::string* failed = startingWith(warnings, "Motion graphic failed — Leaky card (00:03): ");
  ASSERT_TRUE(failed);
  EXPECT_NE(failed->find("external image https://evil.example/a.png"), std::string::npos);
  const std::string* rendered = startingWith(warnings, "Motion graphics: 1 of 2 rendered in ");
  ASSERT_TRUE(rendered) << ::testing::PrintToString(warnings);
  EXPECT_TRUE(rendered->ends_with(" — see assets/README.md"));
  EXPECT_EQ(warnings.back(), "Motion graphics placed in the FCPXML: 1 connected clip on 1 lane above the cut.");
  EXPECT_EQ(backend->calls, 2);

  const KestraneSession session = KestraneSession::read(stored.sessionFile);
  ASSERT_TRUE(session.graphicsAssets);
  ASSERT_EQ(session.graphicsAssets->size(), 2u);
  const GraphicsAsset& movie = session.graphicsAssets->front();
  EXPECT_TRUE(fs::is_regular_file(stored.package / *movie.relativePath));
  EXPECT_TRUE(fs::is_regular_file(stored.package / "assets/README.md"));
  EXPECT_TRUE(fs::is_regular_file(stored.package / "brand-spec.md"));
  std::ifstream in(stored.package / "talk.fcpxml");
  const readback::File timeline(std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_EQ(timeline.dtdProblems(), "");
  EXPECT_EQ(timeline.attributes("//asset-clip[@videoRole='Graphics']/@lane"), Strings{"1"});

  // Without authoring, what is already in the package is placed again, and nothing is asked.
  const Strings again = stage({idea(1.0, "Opening card")}, false);
  EXPECT_EQ(again.front(),
            "Graphics authoring skipped (--no-graphics) — no Claude calls, nothing rendered; "
            "brand spec saved and any graphics already in this package are still placed.");
  EXPECT_EQ(again.back(), "Motion graphics placed in the FCPXML: 1 connected clip on 1 lane above the cut.");
  EXPECT_EQ(backend->calls, 2);
}

TEST_F(MotionGraphicsStageTest, EachMissingPieceIsNamedAndNothingRenders) {
  const std::vector<VisualIdea> one{idea(1.0, "Opening card")};
  EXPECT_TRUE(has(stage({}, true), "Graphics rendering skipped — no visual-ideas entries to render; brand spec saved"));

  const auto none = backend;
  backend = nullptr;
  EXPECT_TRUE(has(stage(one, true),
                  "Graphics rendering skipped — no claude CLI or ANTHROPIC_API_KEY found; "
                  "brand spec saved"));
  backend = none;

  // No npx where the set-up puts it nor on the search path.
  const fs::path empty = stored.root.path() / "empty";
  fs::create_directories(empty);
  setenv("HOME", empty.c_str(), 1);
  setenv("PATH", empty.c_str(), 1);
  EXPECT_TRUE(has(stage(one, true),
                  "Graphics rendering skipped — the local renderer needs Node/npx on this machine; "
                  "brand spec saved"));
  EXPECT_EQ(backend->calls, 0);

  // A brand site that can't be read leaves a neutral palette and says so.
  const Strings unread = stage({}, true, [](KestraneSession& s) {
    BrandSpec brand;
    brand.name = "Acme";
    brand.websiteURL = "http://127.0.0.1:1/";
    s.brandSpec = brand;
  });
  EXPECT_EQ(unread.front(),
            "Couldn't read colors from http://127.0.0.1:1/ — the graphics use a neutral palette. "
            "Put your hex codes in the brand's Colors field to fix that.");
  EXPECT_FALSE(fs::exists(stored.package / "assets"));
}

// Graphics are encoded under a private staged name, as the package's other files are written:
// whatever the umask, every file the run places ends with the mode it gives a new file, so an
// editor on another account can open the graphics as well as the timeline.
TEST_F(MotionGraphicsStageTest, EveryFileTheRunPlacesHasTheModeTheUmaskGivesANewFile) {
  for (const mode_t mask : {mode_t{027}, mode_t{022}}) {
    const mode_t was = ::umask(mask);
    Pipeline::RecutRequest recut;
    recut.sessionURL = stored.sessionFile;
    recut.settings = KestraneSession::read(stored.sessionFile).settings;
    Pipeline::recut(recut);
    const Strings warnings = stage({idea(1.0, "Opening card")}, true);
    ::umask(was);
    ASSERT_TRUE(startingWith(warnings, "Motion graphics: 1 of 1 rendered")) << ::testing::PrintToString(warnings);

    Strings placed;
    for (const auto& e : fs::recursive_directory_iterator(stored.package)) {
      // The lock is shared by every user of the package, whatever their umask.
      if (!e.is_regular_file() || e.path().filename() == ".kestrane.lock") continue;
      placed.push_back(e.path().lexically_relative(stored.package));
      EXPECT_EQ(static_cast<unsigned>(e.status().permissions() & fs::perms::mask), 0666u & ~mask)
          << placed.back() << " under umask 0" << std::oct << mask;
    }
    EXPECT_TRUE(std::any_of(placed.begin(), placed.end(), [](const auto& p) { return p.ends_with(".mov"); }))
        << ::testing::PrintToString(placed);
  }
}

// A forced exit while graphics render leaves the renderer's work folder with every frame
// captured so far; it is named and held like the other scratch files, so the next sweep takes
// it once its process has gone.
TEST_F(MotionGraphicsStageTest, AWorkFolderLeftByAForcedExitIsSwept) {
  const auto workFolders = [] { return test::tempEntries("kestrane-graphics-"); };
  ASSERT_TRUE(workFolders().empty());
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream(stored.root.path() / "home" / ".fake-npx", std::ios::app) << "FAKE_NPX_KILL=" << ::getpid() << "\n";
    stage({idea(1.0, "Opening card")}, true);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the renderer's stand-in ends the run while it renders";
  const auto left = workFolders();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left.begin()->starts_with("kestrane-graphics-" + std::to_string(child) + "-")) << *left.begin();
  std::size_t frames = 0;
  for (const auto& e : fs::recursive_directory_iterator(fs::temp_directory_path() / *left.begin()))
    frames += e.path().extension() == ".png";
  EXPECT_GT(frames, 0u);

  EXPECT_EQ(platform::ScratchFiles::sweepOrphans(), 1u);
  EXPECT_TRUE(workFolders().empty());
}

// Killed while the second graphic renders, after the first was encoded: the first is in neither
// the session nor the README, so it must not stand in assets/ under its name; what the run left
// there carries the package's hidden staged names, which the next run on the package sweeps.
TEST_F(MotionGraphicsStageTest, AGraphicFinishedBeforeAForcedExitIsLeftOnlyForTheSweep) {
  const fs::path assets = stored.package / "assets";
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream(stored.root.path() / "home" / ".fake-npx", std::ios::app)
        << "FAKE_NPX_KILL=" << ::getpid() << "\nFAKE_NPX_KILL_AT=2\n";
    stage({idea(1.0, "Opening card"), idea(3.0, "Closing card")}, true,
          [](KestraneSession& s) { s.settings.graphicsConcurrency = 1; });
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the renderer's stand-in ends the run at its second capture";
  // Regular files of assets/: none may have a movie's name, and each must be a staged one.
  const auto files = [&] {
    Strings names;
    for (const auto& e : fs::directory_iterator(assets))
      if (e.is_regular_file()) names.push_back(e.path().filename());
    return names;
  };
  const Strings left = files();
  ASSERT_FALSE(left.empty()) << "the first graphic was encoded before the exit";
  for (const auto& name : left) EXPECT_TRUE(AtomicFile::isAsideName(name)) << name;
  EXPECT_FALSE(KestraneSession::read(stored.sessionFile).graphicsAssets);

  { const Pipeline::detail::PackageLock next(stored.package); }
  EXPECT_EQ(files(), Strings{});
}
