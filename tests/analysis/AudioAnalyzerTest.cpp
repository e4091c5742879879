#include "kestrane/analysis/AudioAnalyzer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
using namespace kestrane::AudioAnalyzer;
using kestrane::testing::make;

namespace {

// Reads the header facts of a canonical 44-byte-header WAV.
struct WavFacts {
  int channels = 0, rate = 0, bits = 0;
  std::uint32_t dataBytes = 0;
};
WavFacts readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[44] = {};
  in.read(reinterpret_cast<char*>(h), 44);
  auto le = [&](int at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | h[at + i];
    return v;
  };
  return {static_cast<int>(le(22, 2)), static_cast<int>(le(24, 4)), static_cast<int>(le(34, 2)), le(40, 4)};
}

std::string sine(const kestrane::testing::ScratchFolder& dir, const std::string& name, int rate, double seconds,
                 const std::string& expression = "sin(2*PI*1000*t)", const std::string& codec = "pcm_f32le") {
  const auto path = dir.file(name);
  make("ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + expression + ":s=" + std::to_string(rate) +
       ":d=" + std::to_string(seconds) + "' -c:a " + codec + " " + path);
  return path;
}

std::shared_ptr<const platform::MediaFile> heldFile(const std::string& path) { return platform::MediaFile::open(path); }

}  // namespace

TEST(AudioAnalyzer, LevelsOfKnownSignals) {
  kestrane::testing::ScratchFolder dir;
  // A full-scale sine reads -3.01 dBFS; one second at 48 kHz gives (48000 - 960) / 480 + 1 levels.
  const auto track = measureLevels(heldFile(sine(dir, "sine48.wav", 48000, 1.0)));
  ASSERT_EQ(track.levelsDBFS.size(), 99u);
  EXPECT_DOUBLE_EQ(track.hopDuration, 0.01);
  for (float level : track.levelsDBFS) EXPECT_NEAR(level, -3.0103, 0.01);

  // Stereo mixes to (left + right) / 2: a sine against silence is 6 dB down.
  const auto stereo = measureLevels(heldFile(sine(dir, "stereo.wav", 44100, 1.0, "sin(2*PI*1000*t)|0")));
  ASSERT_EQ(stereo.levelsDBFS.size(), 99u);
  EXPECT_NEAR(stereo.levelsDBFS[50], -9.03, 0.02);

  // Digital silence sits on the floor; so does a very quiet but non-zero signal.
  for (float level : measureLevels(heldFile(sine(dir, "silence.wav", 48000, 0.5, "0"))).levelsDBFS)
    EXPECT_EQ(level, -80.0f);
  for (float level : measureLevels(heldFile(sine(dir, "quiet.wav", 48000, 0.5, "1e-6*sin(2*PI*50*t)"))).levelsDBFS)
    EXPECT_EQ(level, -80.0f);
  // A full-scale square wave reads 0.
  const auto square =
      measureLevels(heldFile(sine(dir, "square.wav", 48000, 0.2, "if(lt(mod(t*100\\,1)\\,0.5)\\,1\\,-1)")));
  EXPECT_NEAR(square.levelsDBFS[5], 0.0, 0.01);
  // Shorter than one 20 ms window: no levels, and no error.
  EXPECT_TRUE(measureLevels(heldFile(sine(dir, "short.wav", 48000, 0.015))).levelsDBFS.empty());
}

TEST(AudioAnalyzer, HopFollowsTheSampleRate) {
  kestrane::testing::ScratchFolder dir;
  // At 22,050 Hz the hop is 220 samples, a little under 10 ms; the stated hop must say so or
  // times drift by 16 s over two hours.
  const auto track = measureLevels(heldFile(sine(dir, "sine22.wav", 22050, 2.0)));
  EXPECT_DOUBLE_EQ(track.hopDuration, 220.0 / 22050.0);
  EXPECT_EQ(track.levelsDBFS.size(), (44100u - 441u) / 220u + 1u);
  LevelMeter meter(22050);
  EXPECT_EQ(meter.window(), 441u);
  EXPECT_EQ(meter.hop(), 220u);
}

TEST(AudioAnalyzer, ExtractionWritesTheWavAndMatchesMeasuredLevels) {
  kestrane::testing::ScratchFolder dir;
  // AAC in MP4 with a picture: the decoder must skip the video and deliver the first audio track.
  const auto film = dir.file("film.mp4");
  make(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
      "'aevalsrc=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t):s=44100' -t 1.5 -c:v libx264 -c:a aac -shortest " +
      film);
  const auto extraction = extractAudio(heldFile(film));
  EXPECT_EQ(std::filesystem::path(extraction.wavURL).parent_path(), dir.path());
  EXPECT_EQ(std::filesystem::path(extraction.wavURL).filename().string().rfind("kestrane-audio-", 0), 0u);
  const WavFacts wav = readWav(extraction.wavURL);
  EXPECT_EQ(wav.channels, 1);
  EXPECT_EQ(wav.bits, 16);
  EXPECT_EQ(wav.rate, 44100);
  const auto pcm = decodeMonoPCM(heldFile(film));
  EXPECT_EQ(pcm.sampleRate, 44100);
  EXPECT_EQ(wav.dataBytes, pcm.samples.size() * 2);
  EXPECT_EQ(extraction.track, measureLevels(heldFile(film)));
  EXPECT_EQ(extraction.track.levelsDBFS.size(), (pcm.samples.size() - 882) / 441 + 1);
  // The length alone is the extraction's, and one asked about a moment stops decoding just past it.
  EXPECT_DOUBLE_EQ(decodedSeconds(heldFile(film), 10), extraction.decodedSeconds);
  const double partway = decodedSeconds(heldFile(film), 0.5);
  EXPECT_GT(partway, 0.5);
  EXPECT_LT(partway, 0.6);
  std::filesystem::remove(extraction.wavURL);
}

TEST(AudioAnalyzer, FailuresAndCancellationLeaveNoWav) {
  kestrane::testing::ScratchFolder dir;
  const auto silentFilm = dir.file("picture-only.mp4");
  make("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -t 0.5 -c:v libx264 " + silentFilm);
  try {
    extractAudio(heldFile(silentFilm));
    FAIL();
  } catch (const AnalyzerError& e) {
    EXPECT_EQ(e.kind(), AnalyzerError::Kind::noAudioTrack);
    EXPECT_STREQ(e.what(), "No audio track to analyze");
  }
  const auto garbage = dir.file("garbage.mov");
  kestrane::testing::writeFile(garbage, "this is not a movie at all");
  EXPECT_THROW(extractAudio(heldFile(garbage)), platform::MediaOpenError);
  EXPECT_THROW(measureLevels(MediaProbe::held(dir.file("missing.wav"))), MediaProbe::ProbeError);

  // Stopped: no scratch WAV stays behind.
  const auto longer = sine(dir, "long.wav", 48000, 3.0);
  std::stop_source stopper;
  stopper.request_stop();
  EXPECT_THROW(extractAudio(heldFile(longer), stopper.get_token()), Cancelled);
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);

  // Two audio tracks: only the first (silent) one is measured.
  const auto twoTracks = dir.file("two.mka");
  make(
      "ffmpeg -v error -y -f lavfi -i 'aevalsrc=0:s=48000:d=0.5' -f lavfi -i 'aevalsrc=sin(2*PI*440*t):s=48000:d=0.5' "
      "-map 0 -map 1 -c:a pcm_s16le " +
      twoTracks);
  for (float level : measureLevels(heldFile(twoTracks)).levelsDBFS) EXPECT_EQ(level, -80.0f);
}
