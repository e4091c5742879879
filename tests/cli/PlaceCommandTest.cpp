// `kestrane cut --graphics` end to end with a fake author and a fake renderer toolchain, then
// `kestrane place` on the package it made; the same cut where no network namespace can be made;
// and the place command's own command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "cli/ProgramRun.hpp"
#include "fakes/Canary.hpp"
#include "export/XmlReadBack.hpp"
#include "kestrane/graphics/HyperFramesRenderer.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using Strings = std::vector<std::string>;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Where a graphic sits on the timeline: name, lane, offset, duration of every Graphics clip.
Strings graphicsOn(const fs::path& fcpxml) {
  const readback::File timeline(slurp(fcpxml));
  EXPECT_EQ(timeline.dtdProblems(), "") << fcpxml;
  Strings out;
  for (const char* attribute : {"name", "lane", "offset", "duration"})
    for (const auto& v : timeline.attributes("//asset-clip[@videoRole='Graphics']/@" + std::string(attribute)))
      out.push_back(std::string(attribute) + "=" + v);
  return out;
}

// A home folder whose ~/.npm-global/bin holds the fake `claude` and the fake `npx`, the
// places the set-up installs the real ones; HOME points at it for the life of the object.
class FakeToolHome {
 public:
  explicit FakeToolHome(const fs::path& home) {
    if (const char* h = std::getenv("HOME")) oldHome_ = h;
    const fs::path bin = home / ".npm-global/bin";
    fs::create_directories(bin);
    const fs::path fakes = fs::path(KESTRANE_SOURCE_DIR) / "tests/fakes";
    fs::create_symlink(fakes / "fake_claude_author.sh", bin / "claude");
    fs::create_symlink(fakes / "fake_npx.sh", bin / "npx");
    fs::create_directories(home / "frames");
    fs::create_directories(home / "prompts");
    readback::run("ffmpeg -v error -f lavfi -i testsrc=s=64x36:r=30:d=1 -frames:v 3 '" +
                  (home / "frames/f%d.png").string() + "'");
    std::ofstream(home / ".fake-npx") << "FAKE_NPX_LOG='" << (home / "npx.log").string() << "'\nFAKE_NPX_FRAMES='"
                                      << (home / "frames").string() << "'\nFAKE_NPX_FILL=1\n";
    setenv("HOME", home.c_str(), 1);
    setenv("FAKE_AUTHOR_LOG", (home / "prompts").c_str(), 1);
    unsetenv("ANTHROPIC_API_KEY");
  }
  ~FakeToolHome() {
    setenv("HOME", oldHome_.c_str(), 1);
    unsetenv("FAKE_AUTHOR_LOG");
  }

 private:
  std::string oldHome_ = "/";
};

// Cuts the bundled sample with --graphics into `out`, checks the package holds the movie, the
// README and the placed clip, then places again with `kestrane place` and compares.
void cutThenPlace(const fs::path& out) {
  fs::create_directories(out);
  const auto cut = test::runProgram({"cut", test::sampleFootage().string(), "--name", "Demo", "--out", out.string(),
                                     "--script", test::sampleScript().string(), "--graphics"});
  ASSERT_EQ(cut.status, 0) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("Motion graphics placed in the FCPXML: 1 connected clip on 1 lane above "
                         "the cut."),
            std::string::npos)
      << cut.out;

  fs::path package;
  for (const auto& entry : fs::directory_iterator(out))
    if (entry.is_directory()) package = entry.path();
  ASSERT_FALSE(package.empty());
  fs::path fcpxml, movie;
  for (const auto& entry : fs::directory_iterator(package))
    if (entry.path().extension() == ".fcpxml") fcpxml = entry.path();
  for (const auto& entry : fs::directory_iterator(package / "assets"))
    if (entry.path().extension() == ".mov") movie = entry.path();
  ASSERT_FALSE(fcpxml.empty());
  ASSERT_FALSE(movie.empty()) << "no rendered movie in assets/";
  EXPECT_NE(movie.filename().string().find("box-plan (ALPHA overlay)"), std::string::npos);
  EXPECT_NE(slurp(package / "assets/README.md").find(movie.filename().string()), std::string::npos);
  const Strings placed = graphicsOn(fcpxml);
  ASSERT_EQ(placed.size(), 4u);
  EXPECT_EQ(placed[1], "lane=1");

  const auto place = test::runProgram({"place", package.string()});
  ASSERT_EQ(place.status, 0) << place.out << place.err;
  EXPECT_EQ(place.out, "Placed 1 graphic in " + fcpxml.string() + "\n");
  EXPECT_EQ(graphicsOn(fcpxml), placed);

  // A graphic removed by hand is named and the timeline is written without it.
  fs::remove(movie);
  const auto without = test::runProgram({"place", package.string()});
  EXPECT_EQ(without.status, 0) << without.err;
  EXPECT_NE(without.out.find("! "), std::string::npos) << without.out;
  EXPECT_NE(without.out.find("Placed 0 graphics in "), std::string::npos) << without.out;
  EXPECT_TRUE(graphicsOn(fcpxml).empty());
}

}  // namespace

TEST(PlaceCommand, CutWithGraphicsThenPlaceGivesTheSamePlacement) {
  test::TempDir tmp;
  const FakeToolHome tools(tmp.path() / "home");
  cutThenPlace(tmp.path() / "out");
}

// The same with the real renderer toolchain of the set-up; only the author is a stand-in,
// found on the search path.
TEST(PlaceCommand, WithTheRealRenderer) {
  const auto npx = HyperFrames::detectNPX();
  if (!npx || !HyperFrames::detectGSAP(*npx) || !fs::exists("/usr/bin/chromium"))
    GTEST_SKIP() << "the renderer's toolchain is not installed (scripts/setup-graphics.sh)";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const std::string& place :
       Strings{"/usr/local/bin/claude", "/opt/homebrew/bin/claude", home + "/.npm-global/bin/claude",
               home + "/.claude/local/claude", home + "/.local/bin/claude"})
    if (fs::exists(place)) GTEST_SKIP() << "a real claude tool at " << place << " would answer";
  test::TempDir tmp;
  fs::create_directories(tmp.path() / "bin");
  fs::create_directories(tmp.path() / "prompts");
  fs::create_symlink(fs::path(KESTRANE_SOURCE_DIR) / "tests/fakes/fake_claude_author.sh", tmp.path() / "bin/claude");
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (tmp.path() / "bin").string().append(":").append(path).c_str(), 1);
  setenv("FAKE_AUTHOR_LOG", (tmp.path() / "prompts").c_str(), 1);
  unsetenv("ANTHROPIC_API_KEY");
  cutThenPlace(tmp.path() / "out");
  setenv("PATH", path.c_str(), 1);
  unsetenv("FAKE_AUTHOR_LOG");
}

// Where no network namespace can be made (here unshare fails in a mount namespace of the
// test's own), nothing renders: a composition that builds its addresses only when it runs
// reaches neither a loopback nor a LAN listener, and the cut still delivers its package.
TEST(GraphicsWithoutIsolation, NothingRendersAndTheCutStillDelivers) {
  std::vector<std::string> through;
  for (const std::string flags : {"-m", "-rm"}) {
    if (std::system(("/usr/bin/unshare " + flags + " true 2>/dev/null").c_str()) == 0) {
      through = {"/usr/bin/unshare", flags, "/bin/sh", "-c",
                 "mount --bind /bin/false /usr/bin/unshare && exec \"$0\" \"$@\""};
      break;
    }
  }
  if (through.empty()) GTEST_SKIP() << "this machine makes no mount namespace for the test";
  test::TempDir tmp;
  const FakeToolHome tools(tmp.path() / "home");
  std::ofstream(tmp.path() / "home/.fake-npx", std::ios::app) << "FAKE_NPX_RUN_PAGE=1\n";
  const test::Canary loopback;
  const auto own = test::Canary::ownAddress();
  std::optional<test::Canary> lan;
  if (own) lan.emplace(*own);
  std::string reach = "reach([127, 0, 0, 1], " + std::to_string(loopback.port()) + ");\n";
  if (lan) {
    std::string octets = *own;
    std::replace(octets.begin(), octets.end(), '.', ',');
    reach += "reach([" + octets + "], " + std::to_string(lan->port()) + ");\n";
  }
  std::ofstream(tmp.path() / "composition.html")
      << "<!doctype html><html><head><meta charset=\"utf-8\"></head><body>\n"
         "<div id=\"root\" data-composition-id=\"main\" data-start=\"0\" data-width=\"1920\" "
         "data-height=\"1080\" data-duration=\"1.6\"></div>\n<script>\n"
         "const reach = (parts, port) => window['fe' + 'tch']('ht' + 'tp:/' + '/' + parts.join('.') + ':' + port + "
         "'/c').catch(() => {});\n"
      << reach << "</script></body></html>\n";
  setenv("FAKE_AUTHOR_COMPOSITION", (tmp.path() / "composition.html").c_str(), 1);
  const fs::path out = tmp.path() / "out";
  fs::create_directories(out);
  const auto cut = test::runProgram({"cut", test::sampleFootage().string(), "--name", "Demo", "--out", out.string(),
                                     "--script", test::sampleScript().string(), "--graphics"},
                                    {}, through);
  unsetenv("FAKE_AUTHOR_COMPOSITION");

  ASSERT_EQ(cut.status, 0) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("Graphics rendering skipped — this computer can't give the renderer a network of its own "
                         "(unshare), and a composition is never rendered where it could reach the network; run where "
                         "unprivileged user namespaces are allowed, or as root, to render graphics; brand spec saved"),
            std::string::npos)
      << cut.out;
  EXPECT_EQ(loopback.hits(), 0);
  if (lan) {
    EXPECT_EQ(lan->hits(), 0) << "on " << *own;
  }
  fs::path package;
  for (const auto& entry : fs::directory_iterator(out))
    if (entry.is_directory()) package = entry.path();
  ASSERT_FALSE(package.empty());
  Strings files;
  for (const auto& entry : fs::directory_iterator(package)) files.push_back(entry.path().extension().string());
  for (const char* made : {".fcpxml", ".srt", ".json", ".md"})
    EXPECT_NE(std::find(files.begin(), files.end(), made), files.end()) << made;
  EXPECT_TRUE(fs::is_regular_file(package / "brand-spec.md"));
  EXPECT_TRUE(fs::is_regular_file(package / "visual-ideas.md"));
  EXPECT_FALSE(fs::exists(package / "assets"));
}

TEST(PlaceCommand, CommandLine) {
  test::TempDir tmp;
  const auto help = test::runProgram({"place", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: kestrane place SESSION_OR_PACKAGE\n")) << help.out;

  const auto none = test::runProgram({"place"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("No session given — name a package folder or its .kestrane.json file."), std::string::npos)
      << none.err;

  EXPECT_EQ(test::runProgram({"place", "a", "b"}).status, 2);
  EXPECT_EQ(test::runProgram({"place", "--graphics", "a"}).status, 2);
  EXPECT_EQ(test::runProgram({"place", (tmp.path() / "missing").string()}).status, 2);

  // A session that was never cut can't be placed: the run fails and says why.
  const fs::path package = tmp.path() / "Empty Kestrane.kestrane";
  fs::create_directories(package);
  std::ofstream(package / "empty.kestrane.json") << "{}";
  const auto unreadable = test::runProgram({"place", package.string()});
  EXPECT_NE(unreadable.status, 0);
  EXPECT_TRUE(unreadable.err.starts_with("kestrane: ")) << unreadable.err;
}
