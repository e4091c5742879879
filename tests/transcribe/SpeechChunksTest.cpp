#include "kestrane/transcribe/SpeechChunks.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane::SpeechChunks;

namespace {
constexpr int kRate = 16000;

// Tone "speech" with pauses of the given lengths (seconds) between 5 s stretches.
std::vector<std::int16_t> talk(const std::vector<double>& pauses) {
  std::vector<std::int16_t> out;
  auto tone = [&](double seconds) {
    for (int i = 0; i < static_cast<int>(seconds * kRate); ++i)
      out.push_back(static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 220 * i / kRate)));
  };
  tone(5);
  for (double p : pauses) {
    out.insert(out.end(), static_cast<std::size_t>(p * kRate), std::int16_t(3));
    tone(5);
  }
  return out;
}

// Levels measured in uneven pieces, as the audio arrives from a file.
std::vector<Chunk> chunksOf(const std::vector<std::int16_t>& samples, const Limits& limits) {
  FrameLevels levels(kRate);
  for (std::size_t at = 0; at < samples.size(); at += 7777)
    levels.push(samples.data() + at, std::min<std::size_t>(7777, samples.size() - at));
  return atPauses(levels.take(), levels.frameSamples(), samples.size(), limits);
}
}  // namespace

TEST(SpeechChunks, CutsInsideTheLongestPausesAndLeavesOutLongOnes) {
  // Speech: 0-5, pause 0.5, 5.5-10.5, pause 1.0, 11.5-16.5, pause 0.4, ... 12 stretches, ~63 s.
  const std::vector<double> pauses = {0.5, 1.0, 0.4, 0.6, 0.3, 1.2, 0.5, 0.5, 0.8, 0.4, 0.7};
  const auto samples = talk(pauses);
  const Limits limits{3, 20, 0.25, 0.9, 0.3};
  const auto chunks = chunksOf(samples, limits);
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks.front().begin, 0u);
  EXPECT_EQ(chunks.back().end, samples.size());
  std::size_t decoded = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    decoded += chunks[i].end - chunks[i].begin;
    EXPECT_LE(chunks[i].end - chunks[i].begin, static_cast<std::size_t>(20 * kRate));
    if (i + 1 < chunks.size()) {
      // Every cut lies in quiet audio, not inside a tone.
      EXPECT_LT(std::abs(samples[chunks[i].end]), 10) << "cut " << i << " at " << chunks[i].end;
      EXPECT_LE(chunks[i].end, chunks[i + 1].begin) << "chunks never overlap";
      // A gap is the middle of a long pause: 0.3 s of it stays on either side.
      if (chunks[i].end < chunks[i + 1].begin) {
        EXPECT_LT(std::abs(samples[chunks[i].end - 1]), 10);
        EXPECT_LT(std::abs(samples[chunks[i + 1].begin]), 10);
        EXPECT_GT(std::abs(samples[chunks[i].end - static_cast<std::size_t>(0.32 * kRate)]) +
                      std::abs(samples[chunks[i].end - static_cast<std::size_t>(0.32 * kRate) + 20]),
                  10)
            << "0.3 s of the pause kept after the speech";
      }
    }
  }
  // The 1.0 and 1.2 s pauses lose all but 0.6 s each; every tone is decoded whole.
  EXPECT_NEAR(static_cast<double>(samples.size() - decoded) / kRate, 0.4 + 0.6, 0.03);
  // The 1.0 s pause (10.5-11.5 s) ends the first chunk 0.3 s after the speech.
  EXPECT_NEAR(static_cast<double>(chunks[0].end) / kRate, 10.8, 0.02);
  EXPECT_NEAR(static_cast<double>(chunks[1].begin) / kRate, 11.2, 0.02);
  EXPECT_EQ(chunksOf(samples, limits).size(), chunks.size()) << "deterministic";
}

TEST(SpeechChunks, ForcedCutsQuietEndsAndShortAudio) {
  const auto samples = talk({});  // 5 s of unbroken tone
  const auto chunks = chunksOf(samples, {1, 2, 0.25});
  ASSERT_EQ(chunks.size(), 3u);
  for (const auto& c : chunks) EXPECT_LE(c.end - c.begin, static_cast<std::size_t>(2 * kRate));

  // Long quiet before and after the speech is left out but for what is kept next to it.
  std::vector<std::int16_t> padded(3 * kRate, 3);
  padded.insert(padded.end(), samples.begin(), samples.end());
  padded.insert(padded.end(), 3 * kRate, 3);
  const auto inner = chunksOf(padded, {});
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_NEAR(static_cast<double>(inner[0].begin) / kRate, 3 - Limits{}.keptOfPause, 0.02);
  EXPECT_NEAR(static_cast<double>(inner[0].end) / kRate, 8 + Limits{}.keptOfPause, 0.02);

  // An even level throughout, or too little to judge: no pause can be told apart, so it is all
  // decoded.
  EXPECT_EQ(chunksOf(std::vector<std::int16_t>(3 * kRate, 3), {}).size(), 1u);
  EXPECT_EQ(chunksOf(std::vector<std::int16_t>(100, 0), {}).size(), 1u);
  EXPECT_TRUE(chunksOf({}, {}).empty());
}
