#include "kestrane/analysis/MediaProbe.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/MediaFixtures.hpp"

using namespace kestrane;
using namespace kestrane::MediaProbe;
using kestrane::testing::make;

TEST(MediaProbe, FootageFacts) {
  kestrane::testing::ScratchFolder dir;
  // 29.97 fps with a drop-frame timecode track starting at 01:00:00;00.
  const auto ntsc = dir.file("ntsc.mov");
  make(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=30000/1001 -f lavfi -i "
      "'sine=frequency=440:sample_rate=48000' -t 1 -timecode '01:00:00;00' -c:v libx264 -c:a aac -ac 2 " +
      ntsc);
  const SourceMedia a = probe(held(ntsc));
  EXPECT_EQ(a.path, ntsc);
  EXPECT_TRUE(a.hasVideo);
  EXPECT_EQ(a.frameDuration, (RationalTime{1001, 30000}));
  EXPECT_EQ(a.width, 320);
  EXPECT_EQ(a.height, 240);
  EXPECT_NEAR(a.durationSeconds, 1.0, 0.05);
  EXPECT_EQ(a.audioSampleRate, 48000);
  EXPECT_EQ(a.audioChannelCount, 2);
  // One hour of drop-frame numbering is 107,892 frames.
  EXPECT_EQ(a.startTimecode, (RationalTime{107892 * 1001, 30000}));
  EXPECT_EQ(a.timecodeIsDropFrame, true);

  // 23.976 fps without timecode; non-drop timecode on a 25 fps file.
  const auto film = dir.file("film.mp4");
  make(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=200x100:rate=24000/1001 -f lavfi -i "
      "'sine=sample_rate=44100' -t 1 -c:v libx264 -c:a aac -ac 1 " +
      film);
  const SourceMedia b = probe(held(film));
  EXPECT_EQ(b.frameDuration, (RationalTime{1001, 24000}));
  EXPECT_EQ(b.width, 200);
  EXPECT_EQ(b.audioSampleRate, 44100);
  EXPECT_EQ(b.audioChannelCount, 1);
  EXPECT_FALSE(b.startTimecode.has_value());
  EXPECT_FALSE(b.timecodeIsDropFrame.has_value());

  const auto pal = dir.file("pal.mov");
  make(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i 'sine=sample_rate=48000' -t 1 "
      "-timecode 10:00:00:00 -c:v libx264 -c:a aac " +
      pal);
  const SourceMedia c = probe(held(pal));
  EXPECT_EQ(c.frameDuration, (RationalTime{1, 25}));
  // Kept at the timecode track's own timescale (the muxer picks 512/12800 for 25 fps).
  ASSERT_TRUE(c.startTimecode.has_value());
  EXPECT_DOUBLE_EQ(c.startTimecode->seconds(), 36000.0);
  EXPECT_EQ(c.timecodeIsDropFrame, false);

  // Audio only: no picture facts, the default frame duration.
  const auto voice = dir.file("voice.m4a");
  make("ffmpeg -v error -y -f lavfi -i 'sine=sample_rate=22050' -t 1 -c:a aac -ac 2 " + voice);
  const SourceMedia d = probe(held(voice));
  EXPECT_FALSE(d.hasVideo);
  EXPECT_EQ(d.frameDuration, (RationalTime{1, 30}));
  EXPECT_EQ(d.width, 0);
  EXPECT_EQ(d.height, 0);
  EXPECT_EQ(d.audioSampleRate, 22050);
  EXPECT_EQ(d.audioChannelCount, 2);
}

TEST(MediaProbe, RefusedFiles) {
  kestrane::testing::ScratchFolder dir;
  const auto silent = dir.file("silent film.mp4");
  make("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -t 0.5 -c:v libx264 '" + silent + "'");
  try {
    probe(held(silent));
    FAIL();
  } catch (const ProbeError& e) {
    EXPECT_EQ(e.kind(), ProbeError::Kind::noAudioTrack);
    EXPECT_EQ(std::string(e.what()), "No audio track in " + silent + " — Kestrane needs audio to find speech");
  }
  const auto garbage = dir.file("notes.mov");
  kestrane::testing::writeFile(garbage, "not a movie");
  const auto empty = dir.file("empty.mp4");
  kestrane::testing::writeFile(empty, "");
  const auto pipe = dir.file("pipe.mov");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const auto& [path, reason] :
       {std::pair{garbage, "not a video or audio file"}, std::pair{dir.file("missing.mov"), "no such file"},
        std::pair{dir.path().string(), "it is a folder"}, std::pair{empty, "the file is empty"},
        std::pair{pipe, "it is not a regular file"}}) {
    try {
      probe(held(path));
      ADD_FAILURE() << path;
    } catch (const ProbeError& e) {
      EXPECT_EQ(std::string(e.what()), "Can't read media at " + path + " — " + reason);
    }
  }
  const auto voice = dir.file("voice.wav");
  make("ffmpeg -v error -y -f lavfi -i 'sine=sample_rate=48000' -t 0.2 " + voice);
  try {
    probeGraphic(voice);
    FAIL();
  } catch (const ProbeError& e) {
    EXPECT_STREQ(e.what(), "No video track in voice.wav");
  }
}

TEST(MediaProbe, GraphicAlphaAndFrames) {
  kestrane::testing::ScratchFolder dir;
  const auto overlay = dir.file("overlay.mov");
  make(
      "ffmpeg -v error -y -f lavfi -i 'color=c=red@0.5:size=64x36:rate=30,format=yuva444p10le' -t 2 "
      "-c:v prores_ks -profile:v 4444 " +
      overlay);
  const GraphicMedia g = probeGraphic(overlay);
  EXPECT_TRUE(g.hasAlpha);
  EXPECT_FALSE(g.hasAudio);
  EXPECT_FALSE(g.audioSampleRate.has_value());
  EXPECT_EQ(g.frameCount(), 60);

  const auto plain = dir.file("plain.mp4");
  make(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=64x36:rate=30 -f lavfi -i 'sine=sample_rate=48000' -t 1 "
      "-c:v libx264 -c:a aac -ac 1 " +
      plain);
  const GraphicMedia h = probeGraphic(plain);
  EXPECT_FALSE(h.hasAlpha);
  EXPECT_TRUE(h.hasAudio);
  EXPECT_EQ(h.audioSampleRate, 48000.0);
  EXPECT_EQ(h.audioChannelCount, 1);
}

TEST(MediaProbe, TimecodeTextToFrames) {
  EXPECT_EQ(frameNumber("01:00:00;00", 30, true), 107892);
  EXPECT_EQ(frameNumber("00:10:00;00", 30, true), 17982);
  EXPECT_EQ(frameNumber("00:01:00;02", 30, true), 1800);  // ;00 and ;01 do not exist in minute 1
  EXPECT_EQ(frameNumber("01:00:00:00", 24, false), 86400);
  EXPECT_EQ(frameNumber("00:00:01:30", 30, false), std::nullopt);
  EXPECT_EQ(frameNumber("garbage", 30, false), std::nullopt);
}
