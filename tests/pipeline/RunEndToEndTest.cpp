// The whole job on the bundled presenter recording: analysis, decision, review, package.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "export/XmlReadBack.hpp"
#include "kestrane/model/SessionJson.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/TestSupport.hpp"
#include "kestrane/export/CutListCheck.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using kestrane::test::readFile;

namespace {

std::string lowerToken(std::string text) {
  std::string out;
  for (char c : text)
    if (std::isalpha(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(c));
  return out;
}

// The words whose midpoint lies in a kept segment, lower-cased without punctuation.
std::vector<std::string> keptWords(const KestraneSession& session) {
  std::vector<std::string> kept;
  for (const TranscriptWord& w : session.transcript->words) {
    const double mid = (w.range.start + w.range.end) / 2;
    for (const Segment& s : session.cutList->segments) {
      if (s.isKept() && s.range.start <= mid && mid < s.range.end) kept.push_back(lowerToken(w.text));
    }
  }
  return kept;
}

double keptOverlap(const CutList& cut, const TimeRange& range) {
  double total = 0;
  for (const Segment& s : cut.keptSegments())
    total += std::max(0.0, std::min(s.range.end, range.end) - std::max(s.range.start, range.start));
  return total;
}

}  // namespace

TEST(RunEndToEnd, SampleRecordingBecomesACompletePackage) {
  test::TempDir out;
  const auto wavsBefore = test::tempEntries("kestrane-audio-");
  struct stat footageBefore {};
  ASSERT_EQ(::stat(test::sampleFootage().c_str(), &footageBefore), 0);

  Pipeline::Request request;
  request.input = test::sampleFootage();
  request.scriptURL = test::sampleScript();
  request.outputDir = out.path();
  request.settings = test::appSettings();
  std::vector<std::string> stages;
  std::vector<double> transcribed;
  const auto progress = [&](const Pipeline::Stage& s) {
    if (!s.fraction) stages.push_back(s.rawValue);
    if (s.fraction && s == Pipeline::Stage::transcribing) transcribed.push_back(*s.fraction);
  };
  const Pipeline::Output output = Pipeline::run(request, std::nullopt, progress);

  EXPECT_EQ(stages, (std::vector<std::string>{"Opening your footage", "Measuring the audio", "Transcribing every word",
                                              "Choosing the best takes", "Building your package"}));
  // Transcription says how far it is, stretch by stretch, up to the whole.
  ASSERT_FALSE(transcribed.empty());
  EXPECT_TRUE(std::is_sorted(transcribed.begin(), transcribed.end()));
  EXPECT_EQ(transcribed.back(), 1.0);

  // Every file of the package, named after the footage; the folder after the project.
  const fs::path dir = out.path() / "sample-presenter Kestrane.kestrane";
  EXPECT_EQ(output.packageDir, dir);
  EXPECT_EQ(output.fcpxmlURL, dir / "sample-presenter.fcpxml");
  EXPECT_EQ(output.sessionURL, dir / "sample-presenter.kestrane.json");
  for (const fs::path& file :
       {output.fcpxmlURL, output.transcriptURL, output.captionsURL, output.sessionURL, dir / "script-coverage.md"}) {
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
  }
  EXPECT_FALSE(fs::exists(dir / "sample-presenter (Premiere).xml"));
  EXPECT_EQ(readback::dtdProblems(output.fcpxmlURL), "");
  EXPECT_NE(readFile(output.captionsURL).find("-->"), std::string::npos);
  EXPECT_NE(readFile(dir / "script-coverage.md").find("# Script coverage — sample-presenter"), std::string::npos);

  // The session file holds exactly what the run returned.
  const KestraneSession stored = KestraneSession::read(output.sessionURL);
  EXPECT_EQ(SessionJson::encode(stored), SessionJson::encode(output.session));
  EXPECT_EQ(stored.projectName, std::optional<std::string>("sample-presenter"));
  ASSERT_TRUE(stored.script.has_value());
  EXPECT_EQ(output.session.warnings.value_or(std::vector<std::string>{}), output.warnings);
  EXPECT_FALSE(output.aiAdjudicationSkipped);

  EXPECT_EQ(CutListCheck::fault(*output.session.cutList, output.session.source), std::nullopt);

  // The false start ("today we are ...") and the stumbled first take are gone: each line is
  // kept once, and the kept take of the repeated line is the later one.
  const std::vector<std::string> kept = keptWords(output.session);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), "today"), 1);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), "first"), 1);
  EXPECT_TRUE(std::any_of(output.session.cutList->segments.begin(), output.session.cutList->segments.end(),
                          [](const Segment& s) { return s.kind == SegmentKind::retakeRejected; }));
  EXPECT_TRUE(std::any_of(output.session.cutList->segments.begin(), output.session.cutList->segments.end(),
                          [](const Segment& s) { return s.kind == SegmentKind::flub; }));
  // Long pauses are cut down to the air left around speech.
  int longPauses = 0;
  for (const SilenceSpan& s : *output.session.silences) {
    if (s.range.duration() < 2.0) continue;
    ++longPauses;
    EXPECT_LT(keptOverlap(*output.session.cutList, s.range), 0.8) << s.range.start;
  }
  EXPECT_GE(longPauses, 2);
  EXPECT_LT(output.session.cutList->keptDuration(), 0.7 * output.session.source.durationSeconds);

  // The footage is untouched and the scratch audio is gone.
  struct stat footageAfter {};
  ASSERT_EQ(::stat(test::sampleFootage().c_str(), &footageAfter), 0);
  EXPECT_EQ(footageAfter.st_size, footageBefore.st_size);
  EXPECT_EQ(footageAfter.st_mtim.tv_sec, footageBefore.st_mtim.tv_sec);
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), wavsBefore);

  // A second run of the same project, for Premiere, from the analysis the first one made:
  // it starts at the decision and lands in a new folder, leaving the first package alone.
  std::ofstream(dir / "editor notes.txt") << "hand edit";
  Pipeline::Analysis prepared{output.session.source, *output.session.levels, *output.session.transcript};
  request.settings.exportTarget = ExportTarget::premiere;
  stages.clear();
  const Pipeline::Output second = Pipeline::run(request, prepared, progress);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front(), "Choosing the best takes");
  EXPECT_EQ(second.packageDir, out.path() / "sample-presenter Kestrane 2.kestrane");
  EXPECT_TRUE(fs::is_regular_file(second.packageDir / "sample-presenter (Premiere).xml"));
  EXPECT_EQ(readFile(dir / "editor notes.txt"), "hand edit");
  EXPECT_EQ(SessionJson::encode(KestraneSession::read(output.sessionURL)), SessionJson::encode(output.session));
  EXPECT_EQ(second.session.cutList->segments, output.session.cutList->segments);

  // The draft cut a preview shows is the cut the job delivered.
  const Pipeline::DraftCut draft = Pipeline::draftCut(prepared, second.session.script, second.session.settings);
  EXPECT_EQ(draft.cutList.segments, second.session.cutList->segments);
  EXPECT_EQ(draft.silences, *second.session.silences);

  // Drafts sharing a cache are the same drafts: the decision kept from another tightness is
  // reused as it was made.
  Pipeline::DraftCache cache;
  PipelineSettings jumpCut = second.session.settings;
  jumpCut.apply(CutTightness::jumpCut);
  EXPECT_EQ(Pipeline::draftCut(prepared, second.session.script, jumpCut, cache).cutList.segments,
            Pipeline::draftCut(prepared, second.session.script, jumpCut).cutList.segments);
  const Pipeline::DraftCut reused = Pipeline::draftCut(prepared, second.session.script, second.session.settings, cache);
  EXPECT_EQ(reused.cutList.segments, draft.cutList.segments);
  EXPECT_EQ(reused.decision, draft.decision);
  // Switching the filler words or the silences-only mode, and back, over the kept stages.
  for (const bool fillers : {false, true}) {
    for (const std::optional<Thoroughness> mode :
         {std::optional(Thoroughness::silencesOnly), second.session.settings.thoroughness}) {
      PipelineSettings changed = second.session.settings;
      changed.removeFillers = fillers;
      changed.thoroughness = mode;
      const Pipeline::DraftCut cached = Pipeline::draftCut(prepared, second.session.script, changed, cache);
      const Pipeline::DraftCut fresh = Pipeline::draftCut(prepared, second.session.script, changed);
      EXPECT_EQ(cached.decision, fresh.decision) << fillers;
      EXPECT_EQ(cached.cutList.segments, fresh.cutList.segments) << fillers;
    }
  }
}
