// The sound's one clock, on real footage: the whole analysis and the stretches a check or a
// render hears place the sound where the file's timestamps put it, through a dropout, sound that
// starts after the picture and clips joined without re-encoding; a jump no recording holds is
// damage; and an earlier build's count of samples is known for what it was.
#include "kestrane/analysis/LevelSampler.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "pipeline/TestSupport.hpp"
#include "support/Retimed.hpp"

using namespace kestrane;
using namespace kestrane::AudioAnalyzer;
namespace fs = std::filesystem;

namespace {

std::vector<float> levelsOf(const fs::path& path) {
  return measureLevels(platform::MediaFile::open(path.string())).levelsDBFS;
}

// The mean difference of two stretches of levels, `count` hops from `a` and from `b`.
double apart(const std::vector<float>& x, std::size_t a, const std::vector<float>& y, std::size_t b,
             std::size_t count) {
  double sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += std::abs(x[a + i] - y[b + i]);
  return sum / static_cast<double>(count);
}

std::vector<float> heardAt(const fs::path& path, std::int64_t firstHop, std::size_t count,
                           bool fromFirstSample = false) {
  LevelSampler sampler(platform::MediaFile::open(path.string()), fromFirstSample);
  return sampler.levels(firstHop, count);
}

}  // namespace

TEST(LevelSampler, EveryReadingPlacesTheSoundByItsTimestamps) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const std::vector<float> original = levelsOf(sample);

  // A recorder that lost a tenth of a second of sound packets at 0:10: the words after it still
  // sound where they did, and the lost time is silence.
  const fs::path dropout = tmp.path() / "dropout.mp4";
  ASSERT_TRUE(test::retimed(sample, dropout, [](double t, bool sound) -> std::optional<double> {
    if (sound && t >= 10.0 && t < 10.1) return std::nullopt;
    return t;
  }));
  const std::vector<float> dropped = levelsOf(dropout);
  ASSERT_GE(dropped.size(), original.size() - 2);
  EXPECT_LT(apart(dropped, 1200, original, 1200, 1800), 0.5) << "the words after the dropout moved";
  EXPECT_EQ(dropped[1005], -80.0f) << "the lost time is silence";
  EXPECT_LT(apart(heardAt(dropout, 1700, 300), 0, dropped, 1700, 300), 0.2) << "a stretch heard alone";

  // Sound that starts half a second after the picture: everything half a second later. (Copied
  // packet by packet, its sound begins with the encoder's 1024 samples of priming, which the
  // sample's own index skips: the speech itself is where it was, 0.5 s on.)
  const fs::path late = tmp.path() / "late.mp4";
  ASSERT_TRUE(test::retimed(sample, late, [](double t, bool sound) { return sound ? t + 0.5 : t; }));
  const std::vector<float> delayed = levelsOf(late);
  EXPECT_EQ(delayed[20], -80.0f);
  EXPECT_LT(apart(delayed, 150, original, 100, 2500), 0.5);
  EXPECT_LT(apart(heardAt(late, 1750, 300), 0, original, 1700, 300), 0.5);
  // An earlier build counted from the sound's first sample: the priming's two hops on.
  EXPECT_LT(apart(heardAt(late, 1702, 300, true), 0, original, 1700, 300), 1.0);

  // The sample joined to itself without re-encoding, as clips are: each copy sounds where its
  // picture is, 33.16 s apart, through the join's gap (every copy keeps its priming here too).
  const fs::path list = tmp.path() / "list.txt";
  std::ofstream(list) << "file " << test::quoted(sample) << "\nfile " << test::quoted(sample) << "\n";
  const fs::path joined = tmp.path() / "joined.mp4";
  ASSERT_TRUE(test::ffmpeg("-f concat -safe 0 -i " + test::quoted(list) + " -c copy " + test::quoted(joined)));
  const std::vector<float> twice = levelsOf(joined);
  EXPECT_LT(apart(twice, 2 + 100, original, 100, 3000), 0.5);
  EXPECT_LT(apart(twice, 3316 + 2 + 100, original, 100, 3000), 0.5);
  EXPECT_LT(apart(heardAt(joined, 3316 + 2 + 1700, 300), 0, original, 1700, 300), 1.0);
}

// The speech band a check hears at a stretch is the one the analysis measured there, once the
// filter has heard a few hops of the sound before it (the check always hears a margin first).
TEST(LevelSampler, TheSpeechBandIsHeardAsTheAnalysisMeasuredIt) {
  const fs::path sample = test::sampleFootage();
  const std::vector<float> measured = measureLevels(MediaProbe::held(sample.string())).speechLevelsDBFS;
  ASSERT_EQ(measured.size(), levelsOf(sample).size());
  LevelSampler sampler(platform::MediaFile::open(sample.string()));
  const LevelTrack heard = sampler.track(1660, 340);
  EXPECT_EQ(heard.levelsDBFS, heardAt(sample, 1660, 340));
  EXPECT_LT(apart(heard.speechLevelsDBFS, 40, measured, 1700, 300), 0.2);
}

TEST(LevelSampler, AJumpNoRecordingHoldsIsDamageAndAnEarlierCountIsKnown) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  // A clock that jumps an hour at 0:15, in every track, as a damaged Matroska cluster does.
  const fs::path jump = tmp.path() / "jump.mkv";
  ASSERT_TRUE(test::retimed(sample, jump, [](double t, bool) { return t >= 15 ? t + 3600 : t; }));
  try {
    measureLevels(platform::MediaFile::open(jump.string()));
    FAIL() << "an hour's jump was filled";
  } catch (const AnalyzerError& e) {
    EXPECT_EQ(e.kind(), AnalyzerError::Kind::damaged);
    EXPECT_STREQ(e.what(), "The footage is damaged: its sound jumps from 0:15 to 60:15, a gap no recording holds");
  }
  LevelSampler sampler(platform::MediaFile::open(jump.string()));
  EXPECT_NO_THROW(sampler.levels(500, 200));
  EXPECT_THROW(sampler.levels(1400, 200), AnalyzerError);

  // Where sound packets were lost, counting samples placed everything after them early by the
  // time they held: a step at 0:10 of the five AAC packets lost.
  const fs::path dropout = tmp.path() / "dropout.mp4";
  ASSERT_TRUE(test::retimed(sample, dropout, [](double t, bool sound) -> std::optional<double> {
    if (sound && t >= 10.0 && t < 10.1) return std::nullopt;
    return t;
  }));
  const CountedClock clock = countedClock(platform::MediaFile::open(dropout.string()));
  ASSERT_EQ(clock.steps.size(), 1u);
  EXPECT_NEAR(clock.steps[0].counted, 10.0, 0.03);
  EXPECT_NEAR(clock.steps[0].offset, 5 * 1024 / 48000.0, 1e-6);
  EXPECT_TRUE(countedClock(platform::MediaFile::open(sample.string())).agrees());
}
