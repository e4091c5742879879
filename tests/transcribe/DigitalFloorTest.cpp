#include "kestrane/transcribe/DigitalFloor.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane;

namespace {

constexpr int kRate = 16000;

// Appends `seconds` of a tone, or of the floor (zeros with a stray last bit) when quiet.
void add(std::vector<std::int16_t>& out, double seconds, bool quiet) {
  for (int i = 0; i < static_cast<int>(seconds * kRate); ++i)
    out.push_back(quiet ? static_cast<std::int16_t>(i % 7 == 0 ? -1 : 0)
                        : static_cast<std::int16_t>(3000 * std::sin(2 * M_PI * 200 * i / kRate)));
}

}  // namespace

TEST(DigitalFloor, FloorStretchesAreCutOutOfChunksAndShortOnesStay) {
  std::vector<std::int16_t> samples;
  add(samples, 1.0, false);  // 0 .. 1
  add(samples, 2.5, true);   // 1 .. 3.5: cut out but for a margin on each side
  add(samples, 1.0, false);  // 3.5 .. 4.5
  add(samples, 1.6, true);   // 4.5 .. 6.1: too short, stays
  add(samples, 1.0, false);  // 6.1 .. 7.1
  add(samples, 3.0, true);   // 7.1 .. 10.1: a chunk of its own, dropped whole
  const std::size_t speech = static_cast<std::size_t>(7.1 * kRate);
  const auto parts = DigitalFloor::withoutFloor({{0, speech}, {speech, samples.size()}}, samples, kRate);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].begin, 0u);
  EXPECT_NEAR(static_cast<double>(parts[0].end) / kRate, 1.25, 0.001);
  EXPECT_NEAR(static_cast<double>(parts[1].begin) / kRate, 3.25, 0.001);
  EXPECT_EQ(parts[1].end, speech);

  // Quiet room tone is not the floor.
  std::vector<std::int16_t> tone(kRate, 0);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<std::int16_t>(i % 3 == 0 ? 6 : -5);
  const auto kept = DigitalFloor::withoutFloor({{0, tone.size()}}, tone, kRate);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].end, tone.size());
}
