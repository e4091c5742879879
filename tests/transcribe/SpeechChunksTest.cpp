#include "kestrane/transcribe/SpeechChunks.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane::SpeechChunks;

namespace {
// Tone "speech" with pauses of the given lengths (seconds) between 5 s stretches.
std::vector<std::int16_t> talk(const std::vector<double>& pauses, int rate) {
    std::vector<std::int16_t> out;
    auto tone = [&](double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
            out.push_back(static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 220 * i / rate)));
    };
    tone(5);
    for (double p : pauses) {
        out.insert(out.end(), static_cast<std::size_t>(p * rate), std::int16_t(3));
        tone(5);
    }
    return out;
}
}  // namespace

TEST(SpeechChunks, CutsInsideTheLongestPauses) {
    const int rate = 16000;
    // Speech: 0-5, pause 0.5, 5.5-10.5, pause 1.0, 11.5-16.5, pause 0.4, ... 12 stretches, ~63 s.
    const auto samples = talk({0.5, 1.0, 0.4, 0.6, 0.3, 1.2, 0.5, 0.5, 0.8, 0.4, 0.7}, rate);
    const Limits limits{3, 20, 0.25};
    const auto chunks = atPauses(samples, rate, limits);
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks.front().begin, 0u);
    EXPECT_EQ(chunks.back().end, samples.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0) {
          EXPECT_EQ(chunks[i].begin, chunks[i - 1].end) << "chunks leave no gap and never overlap";
        }
        EXPECT_LE(chunks[i].end - chunks[i].begin, static_cast<std::size_t>(20 * rate));
        if (i + 1 < chunks.size()) {
            // Every cut lies in quiet audio, not inside a tone.
            EXPECT_LT(std::abs(samples[chunks[i].end]), 10) << "cut " << i << " at " << chunks[i].end;
        }
    }
    // The 1.0 s pause (10.5-11.5 s) is the longest within the first 20 s, so the first cut is there.
    EXPECT_NEAR(static_cast<double>(chunks[0].end) / rate, 11.0, 0.02);
    EXPECT_EQ(atPauses(samples, rate, limits).size(), chunks.size()) << "deterministic";
}

TEST(SpeechChunks, ForcedCutWithoutPausesAndShortAudio) {
    const int rate = 16000;
    const auto samples = talk({}, rate);  // 5 s of unbroken tone
    const auto chunks = atPauses(samples, rate, {1, 2, 0.25});
    ASSERT_EQ(chunks.size(), 3u);
    for (const auto& c : chunks) EXPECT_LE(c.end - c.begin, static_cast<std::size_t>(2 * rate));
    EXPECT_EQ(atPauses(std::vector<std::int16_t>(100, 0), rate).size(), 1u);
    EXPECT_TRUE(atPauses({}, rate).empty());
}
