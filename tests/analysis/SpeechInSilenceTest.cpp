#include "kestrane/analysis/SpeechInSilence.hpp"

#include <gtest/gtest.h>

#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/transcribe/Transcriber.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
using kestrane::testing::make;

TEST(SpeechInSilence, WordsCountOnlyWhenEveryOneLiesInASilence) {
  // Five seconds of room tone at -50 dBFS with speech at -20 dBFS from 2 to 3 s.
  AudioAnalyzer::LevelTrack track;
  for (int hop = 0; hop < 500; ++hop) track.levelsDBFS.push_back(hop >= 200 && hop < 300 ? -20.0f : -50.0f);
  using Words = std::vector<TranscriptWord>;
  EXPECT_TRUE(AudioAnalyzer::wordsOnlyInSilence(Words{{"the", {0.5, 0.8}}, {"end", {3.5, 3.9}}}, track));
  EXPECT_FALSE(AudioAnalyzer::wordsOnlyInSilence(Words{{"the", {0.5, 0.8}}, {"speech", {2.1, 2.6}}}, track));
  // A word across the edge of the speech is not inside a silence.
  EXPECT_FALSE(AudioAnalyzer::wordsOnlyInSilence(Words{{"so", {1.8, 2.2}}}, track));
  EXPECT_FALSE(AudioAnalyzer::wordsOnlyInSilence(Words{}, track));
}

TEST(SpeechInSilence, RoomToneAndARustleHaveNoSpeechButQuietSpeechIsCut) {
  kestrane::testing::ScratchFolder dir;
  const auto noSpeech = [](const std::string& file) {
    try {
      Pipeline::analyze(file);
    } catch (const Transcriber::TranscriberError& e) {
      return std::string(e.what()) == "No speech found in the footage";
    }
    return false;
  };
  // Pink noise at -50 dBFS (RMS; its peaks at -37), and the same with a rustle of about that
  // level, in which the recognizer hears "if". Repeatable noise (-R): the same each run.
  const auto room = dir.file("room.wav"), rustle = dir.file("rustle.wav"), burst = dir.file("burst.wav");
  make("sox -R -n -r 48000 -b 16 " + room + " synth 6 pinknoise gain -n -37");
  make("sox -R -n -r 48000 -b 16 " + burst + " synth 0.6 pinknoise tremolo 9 80 gain -n -37 pad 2.5 2.9");
  make("sox -R -m " + room + " " + burst + " " + rustle);
  EXPECT_TRUE(noSpeech(room));
  EXPECT_TRUE(noSpeech(rustle));

  // Quiet speech, about -35 dBFS (RMS), over the room tone: cut as usual.
  const auto line = dir.file("line.wav"), quiet = dir.file("quiet.wav");
  make("flite -voice slt -t 'the first thing you need is a good microphone' -o " + line);
  make("sox -R " + line + " -r 48000 " + dir.file("line48.wav") + " gain -n -22 pad 1.5 1.5");
  make("sox -R -m " + dir.file("line48.wav") + " " + room + " " + quiet + " trim 0 6");
  const auto analysis = Pipeline::analyze(quiet);
  EXPECT_GE(analysis.transcript.words.size(), 5u);
}
