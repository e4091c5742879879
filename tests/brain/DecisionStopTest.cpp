// A stop asked of a job reaches the take decision inside its long loops, not only between its
// stages: on a long recording one stage alone can run for minutes.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <stop_token>

#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/RunCoherence.hpp"
#include "kestrane/brain/SimilarityIndex.hpp"
#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"

using namespace kestrane;

namespace {

// Lines of 6 to 14 words from a small vocabulary, each said once or twice, between pauses that
// split them: every line shares words with thousands of others.
struct Talk {
  Transcript transcript;
  std::vector<SilenceSpan> pauses;
  std::vector<TakeSelector::Utterance> utterances;
};

Talk talkOf(std::size_t wordCount) {
  std::mt19937 random(9);
  std::vector<std::string> vocabulary;
  for (int k = 0; k < 300; ++k) vocabulary.push_back("w" + std::to_string(k));
  Talk talk;
  double t = 1;
  while (talk.transcript.words.size() < wordCount) {
    std::vector<std::string> line(6 + random() % 9);
    for (auto& w : line) w = vocabulary[random() % (random() % 3 == 0 ? 20 : vocabulary.size())];
    for (std::size_t take = 1 + random() % 2; take > 0; --take) {
      for (std::size_t k = 0; k < line.size(); ++k) {
        talk.transcript.words.push_back({k + 1 == line.size() ? line[k] + "." : line[k], {t, t + 0.26}});
        t += 0.32;
      }
      talk.pauses.push_back({{t, t + 0.9}, -60});
      t += 0.9;
    }
  }
  talk.utterances = TakeSelector::utterances(talk.transcript, talk.pauses);
  return talk;
}

PipelineSettings settings() {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.aiAdjudication = false;
  return s;
}

}  // namespace

TEST(DecisionStop, TheLongLoopsLookAtTheStop) {
  const Talk talk = talkOf(3000);
  const SimilarityIndex index(talk.utterances);
  std::vector<TakeSelector::TokenList> beats;
  for (int k = 0; k < 5000; ++k) beats.push_back(talk.utterances[static_cast<std::size_t>(k) % 50].tokens);
  const TakeSelector::PreparedScript script(beats);
  const auto& line = talk.utterances.front().tokens;

  // Outside a job they run to the end.
  EXPECT_FALSE(index.partnersAfter(0, 0.4).empty());
  EXPECT_GT(script.renditionScore(line), 0.9);

  std::stop_source stop;
  stop.request_stop();
  const StopScope scope(stop.get_token());
  EXPECT_THROW(index.partnersAfter(0, 0.4), Cancelled);
  EXPECT_THROW(script.renditionScore(line), Cancelled);
  EXPECT_THROW(script.matchCoverage(line), Cancelled);
  const std::vector<SilenceSpan> manyPauses(talk.pauses.begin(), talk.pauses.end());
  EXPECT_THROW(TakeSelector::pausePenalty(talk.utterances.front(), manyPauses), Cancelled);
  std::vector<std::string> longLine(600, "w1");
  EXPECT_THROW(TextAlign::localAlign(longLine, longLine, -1.0), Cancelled);

  // The steps around the take decision: the stored levels, the pauses in them and the planned cut.
  const std::vector<float> hours(2'000'000, -30.f);
  EXPECT_THROW(LevelData::fromLevels(0.01, hours).levelsDBFS(), Cancelled);
  EXPECT_THROW(AudioAnalyzer::silences({hours, 0.01}, -40, 0.8), Cancelled);
  EditPlanner::CutMaterial material;
  material.sourceDuration = talk.transcript.words.back().range.end + 1;
  material.frameDuration = 0.04;
  material.silences = talk.pauses;
  material.splitterSilences = talk.pauses;
  material.words = talk.transcript.words;
  material.settings = settings();
  EXPECT_THROW(EditPlanner::planCut(material), Cancelled);
  CutList wholeTalk;
  wholeTalk.segments.push_back({{0, material.sourceDuration}, SegmentKind::keep, {}, {}});
  EXPECT_THROW(RunCoherence::keptIndices(talk.utterances, wholeTalk), Cancelled);
}

TEST(DecisionStop, AStopFromAnotherThreadEndsTheDecision) {
  // Long enough that finding the lines said twice alone takes minutes.
  const Talk talk = talkOf(300'000);
  std::stop_source stop;
  auto job = std::async(std::launch::async, [&] {
    const StopScope scope(stop.get_token());
    TakeSelector::decide(talk.transcript, std::nullopt, talk.pauses, std::nullopt, settings());
  });
  ASSERT_EQ(job.wait_for(std::chrono::seconds(2)), std::future_status::timeout) << "the decision ended by itself";
  stop.request_stop();
  // A generous bound: the point is seconds, not the minutes the stage would still run.
  ASSERT_EQ(job.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_THROW(job.get(), Cancelled);
}
