#include "kestrane/platform/SpeechDecoder.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MonoResampler.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane::platform;

TEST(SpeechDecoder, MissingModelNamesThePackage) {
  SpeechModel model = SpeechModel::usEnglish();
  EXPECT_TRUE(model.missingFiles().empty()) << "the pocketsphinx-en-us package is needed for these tests";
  model.acousticModel = "/nonexistent/en-us";
  EXPECT_FALSE(model.missingFiles().empty());
  try {
    SpeechDecoder decoder(model);
    FAIL() << "a decoder was made without a model";
  } catch (const SpeechModelError& e) {
    EXPECT_NE(std::string(e.what()).find("pocketsphinx-en-us"), std::string::npos) << e.what();
  }
}

TEST(SpeechDecoder, RawTokensCarryFramesAndMarkers) {
  kestrane::testing::ScratchFolder scratch;
  const auto wav = scratch.file("speech.wav");
  kestrane::testing::make("flite -voice rms -t 'the first thing you need is a good microphone' -o " + wav);

  std::vector<std::int16_t> pcm;
  std::unique_ptr<MonoResampler> resampler;
  decodeAudio(MediaFile::open(wav), [&](const AudioBlock& b) {
    if (!resampler) resampler = std::make_unique<MonoResampler>(static_cast<int>(b.sampleRate), kSpeechSampleRate);
    resampler->push(b.interleaved, b.frames, pcm);
  });
  resampler->flush(pcm);

  SpeechDecoder decoder(SpeechModel::usEnglish(), {0.003, {}});
  const auto tokens = decoder.decode(pcm.data(), pcm.size());
  ASSERT_FALSE(tokens.empty());
  EXPECT_EQ(tokens.front().text, "<s>");
  int words = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    EXPECT_LE(tokens[i].startFrame, tokens[i].endFrame);
    if (i > 0) {
      EXPECT_EQ(tokens[i].startFrame, tokens[i - 1].endFrame + 1) << "segments are contiguous";
    }
    if (tokens[i].text == "microphone" || tokens[i].text == "first") ++words;
  }
  EXPECT_EQ(words, 2);
  // Frames are 10 ms: the last token ends within the audio.
  EXPECT_LE(tokens.back().endFrame, static_cast<int>(pcm.size() * kSpeechFrameRate / kSpeechSampleRate));

  // Polled every quarter second with the samples done so far; a poll that throws stops the
  // stretch there.
  std::vector<std::size_t> polls;
  EXPECT_THROW(decoder.decode(pcm.data(), pcm.size(),
                              [&](std::size_t done) {
                                polls.push_back(done);
                                if (polls.size() == 3) throw std::runtime_error("stopped");
                              }),
               std::runtime_error);
  EXPECT_EQ(polls, (std::vector<std::size_t>{0, 4000, 8000}));

  // A second stretch through the same decoder (after a stopped one, too) starts again at frame 0
  // with the same result, so parallel workers may take stretches in any order.
  const auto again = decoder.decode(pcm.data(), pcm.size());
  ASSERT_EQ(again.size(), tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    EXPECT_EQ(again[i].text, tokens[i].text);
    EXPECT_EQ(again[i].startFrame, tokens[i].startFrame);
  }
}

TEST(SpeechDecoder, AStretchCutOffInsideItsLastWordStillGivesItsWords) {
  // Cut off 0.2 s into "warm". The decoder's own best-path pass finds no end to the lattice of
  // this stretch and gave no words at all: the whole line was lost.
  kestrane::testing::ScratchFolder scratch;
  const auto read = scratch.file("read.wav"), cut = scratch.file("cut.wav");
  kestrane::testing::make(
      "flite -voice slt --setf duration_stretch=1.6 -t 'the battery lasts about two hours when it "
      "is warm' -o " +
      read);
  kestrane::testing::make("sox " + read + " " + cut + " pad 0.9@0 trim 0.4 4.7");
  std::vector<std::int16_t> pcm;
  decodeAudio(MediaFile::open(cut), [&](const AudioBlock& b) {
    for (std::size_t i = 0; i < b.frames; ++i)
      pcm.push_back(static_cast<std::int16_t>(std::lround(b.interleaved[i * b.channels] * 32767)));
  });
  SpeechDecoder decoder(SpeechModel::usEnglish(),
                        {0.05, {{"-maxhmmpf", "2000"}, {"-maxwpf", "10"}, {"-fwdflat", "no"}}});
  std::vector<std::string> words;
  for (const auto& t : decoder.decode(pcm.data(), pcm.size()))
    if (t.text.front() != '<' && t.text.front() != '[') words.push_back(t.text);
  EXPECT_GE(words.size(), 8u);
}
