// What the review says about a cut that removed fillers from inside sentences, on a recording made
// here: three read lines each with a drawn-out "um" in the middle, the last line read again.
#include <gtest/gtest.h>

#include "platform/MediaFixtures.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using kestrane::testing::make;

namespace {

std::string hesitantReading(const fs::path& dir) {
  const std::string trim = " silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse";
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"most people", "start with a window and that works surprisingly well"},
      {"this stand", "folds up small enough to fit in a backpack"},
      {"leave a", "short pause before every new idea"}};
  auto file = [&](const std::string& name) { return (dir / name).string(); };
  std::string parts;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto n = std::to_string(i);
    make("flite -voice slt -t '" + lines[i].first + "' -o " + file("a.wav"));
    make("flite -voice slt -t 'um' -o " + file("um.wav"));
    make("flite -voice slt -t '" + lines[i].second + "' -o " + file("b.wav"));
    make("sox " + file("a.wav") + " " + file("a" + n + ".wav") + trim + " pad 0 0.05");
    // A speaker's "um" lasts 0.3–0.7 s: flite's, slowed.
    make("sox -R " + file("um.wav") + " " + file("um" + n + ".wav") + trim + " tempo -s 0.4 pad 0 0.08");
    make("sox " + file("b.wav") + " " + file("b" + n + ".wav") + trim + " pad 0 1.5");
    parts += " " + file("a" + n + ".wav") + " " + file("um" + n + ".wav") + " " + file("b" + n + ".wav");
  }
  make("flite -voice slt -t 'leave a short pause before every new idea' -o " + file("again.wav"));
  const auto out = file("reading.wav");
  make("sox" + parts + " " + file("again.wav") + " " + out + " pad 1 1");
  return out;
}

bool anyStartsWith(const std::vector<std::string>& texts, const std::string& prefix) {
  return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
}

}  // namespace

TEST(FillerCutReview, FillersAreCutsToTheAuditAndASilencesOnlyCutIsAuditedToo) {
  test::TempDir dir;
  const auto analysis = Pipeline::analyze(hesitantReading(dir.path()));
  Pipeline::Request request;
  request.input = analysis.source.path;
  request.outputDir = dir.path();
  request.settings = test::appSettings();

  for (auto thoroughness : {Thoroughness::fast, Thoroughness::silencesOnly}) {
    SCOPED_TRACE(rawValue(thoroughness));
    request.settings.thoroughness = thoroughness;
    const auto output = Pipeline::run(request, analysis);
    const auto& segments = output.session.cutList->segments;
    ASSERT_GE(
        std::count_if(segments.begin(), segments.end(), [](const Segment& s) { return s.kind == SegmentKind::filler; }),
        2);
    const auto advisories = output.session.advisories.value_or(std::vector<Advisory>{});
    // A removed filler is a cut, not a pause: the words cut off before one, short of their
    // sentence's end, read as an isolated fragment.
    const auto fragmentBeforeFiller = [&](const Advisory& a) {
      if (a.note.rfind("Self-review: isolated", 0) != 0) return false;
      for (std::size_t i = 0; i + 1 < segments.size(); ++i)
        if (segments[i].range == a.range && segments[i + 1].kind == SegmentKind::filler) return true;
      return false;
    };
    EXPECT_TRUE(std::any_of(advisories.begin(), advisories.end(), fragmentBeforeFiller));
    EXPECT_TRUE(anyStartsWith(output.warnings, "Self-review: "));
    if (thoroughness == Thoroughness::silencesOnly) {
      // The audit only reports: every line stays, the repeated one too, and is noted as such.
      EXPECT_TRUE(std::all_of(segments.begin(), segments.end(), [](const Segment& s) {
        return s.isKept() || s.kind == SegmentKind::silence || s.kind == SegmentKind::filler;
      }));
      EXPECT_TRUE(std::any_of(advisories.begin(), advisories.end(), [](const Advisory& a) {
        return a.note.rfind("Self-review: same line kept twice", 0) == 0;
      }));
    }
  }
}
