#include "kestrane/platform/PcmWavReader.hpp"

#include <gtest/gtest.h>

#include "kestrane/platform/WavWriter.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane::platform;

TEST(PcmWavReader, ReadsStretchesOfMonoSixteenBitFilesOnly) {
  kestrane::testing::ScratchFolder dir;
  const auto path = dir.file("ramp.wav");
  {
    WavWriter wav(path, 16000);
    std::vector<std::int16_t> ramp(40000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i % 30000 - 15000);
    wav.write(ramp.data(), 25000);
    wav.write(ramp.data() + 25000, 15000);
  }
  auto reader = PcmWavReader::open(path);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->sampleRate(), 16000);
  EXPECT_EQ(reader->sampleCount(), 40000u);
  std::vector<std::int16_t> got{1, 2, 3};
  reader->read(29998, 4, got);
  EXPECT_EQ(got, (std::vector<std::int16_t>{14998, 14999, -15000, -14999}));
  // Clipped to the file's end, and nothing past it.
  reader->read(39998, 10, got);
  EXPECT_EQ(got.size(), 2u);
  reader->read(50000, 10, got);
  EXPECT_TRUE(got.empty());

  // Stereo, 8-bit, text and missing files are refused.
  const auto stereo = dir.file("stereo.wav");
  const auto bytes8 = dir.file("eight.wav");
  kestrane::testing::make("sox -n -r 16000 -c 2 -b 16 " + stereo + " trim 0 0.1");
  kestrane::testing::make("sox -n -r 16000 -c 1 -b 8 " + bytes8 + " trim 0 0.1");
  kestrane::testing::writeFile(dir.file("text.wav"), "RIFF....WAVE but not really");
  EXPECT_FALSE(PcmWavReader::open(stereo));
  EXPECT_FALSE(PcmWavReader::open(bytes8));
  EXPECT_FALSE(PcmWavReader::open(dir.file("text.wav")));
  EXPECT_FALSE(PcmWavReader::open(dir.file("missing.wav")));
  // A file sox wrote with extra chunks before the samples still reads.
  const auto sox = dir.file("sox.wav");
  kestrane::testing::make("sox -R -n -r 16000 -c 1 -b 16 " + sox + " synth 0.5 sine 300 vol 0.5");
  const auto fromSox = PcmWavReader::open(sox);
  ASSERT_TRUE(fromSox);
  EXPECT_EQ(fromSox->sampleCount(), 8000u);
}
