#include "kestrane/transcribe/Transcriber.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/platform/PcmWavReader.hpp"
#include "kestrane/transcribe/RecognizedWords.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
using namespace kestrane::Transcriber;
using kestrane::testing::make;

namespace {
std::string lowerWords(const Transcript& t) {
  std::string out;
  for (const auto& w : t.words) {
    for (char c : w.text)
      if (c != '.') out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    out.push_back(' ');
  }
  return out;
}

// The words the cut would remove as fillers, lower-cased.
std::vector<std::string> fillersIn(const Transcript& t) {
  std::vector<std::string> found;
  for (const auto& w : t.words) {
    std::string lower;
    for (char c : w.text)
      if (c != '.') lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (TakeSelector::isFillerToken(lower)) found.push_back(lower);
  }
  return found;
}
}  // namespace

TEST(Transcriber, KnownSentenceFromFilmAndPreparedWav) {
  kestrane::testing::ScratchFolder dir;
  const auto speech = dir.file("speech.wav");
  make("flite -voice rms -t 'the first thing you need is a good microphone' -o " + speech);
  const auto film = dir.file("film.mp4");
  make("ffmpeg -v error -y -f lavfi -i color=c=gray:size=160x120:rate=25 -i " + speech +
       " -af 'adelay=500,apad=pad_dur=0.5' -shortest -c:v libx264 -c:a aac " + film);

  // A film without a prepared WAV goes through a temporary WAV, which is gone afterwards. The
  // share decoded is told as it rises, up to the whole.
  std::vector<double> shares;
  Options options;
  options.progress = [&](double share) { shares.push_back(share); };
  const Transcript t = transcribe(film, "en_US", std::nullopt, options);
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);
  ASSERT_GE(shares.size(), 3u);
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  EXPECT_GT(shares.front(), 0.0);
  EXPECT_EQ(shares.back(), 1.0);
  const std::string heard = lowerWords(t);
  for (const char* word : {"first", "thing", "need", "microphone"})
    EXPECT_NE(heard.find(word), std::string::npos) << word << " missing from: " << heard;
  // Times: inside the audio, in order, after the half-second lead-in; a sentence end at the end.
  EXPECT_GE(t.words.front().range.start, 0.4);
  for (std::size_t i = 0; i < t.words.size(); ++i) {
    EXPECT_LT(t.words[i].range.start, t.words[i].range.end);
    if (i > 0) {
      EXPECT_GE(t.words[i].range.start, t.words[i - 1].range.end);
    }
  }
  EXPECT_LT(t.words.back().range.end, 4.5);
  EXPECT_EQ(t.words.back().text.back(), '.');
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(t.words.front().text[0])));

  // The prepared WAV gives the same words and is left in place, whether it is at the
  // recognizer's rate (read as it is) or at the film's (converted first).
  for (const int rate : {kSpeechSampleRate, 0}) {
    const auto extraction = AudioAnalyzer::extractAudio(MediaProbe::held(film), {}, rate);
    const Transcript fromWav = transcribe(film, "en_US", extraction.wavURL);
    EXPECT_EQ(fromWav.words, t.words) << rate;
    EXPECT_TRUE(std::filesystem::exists(extraction.wavURL));
    std::filesystem::remove(extraction.wavURL);
  }
  // Stopped while decoding: it ends within the next quarter second of audio.
  std::stop_source stopper;
  options.stop = stopper.get_token();
  options.progress = [&](double share) {
    shares.push_back(share);
    stopper.request_stop();
  };
  shares.clear();
  EXPECT_THROW(transcribe(film, "en_US", std::nullopt, options), Cancelled);
  EXPECT_EQ(shares.size(), 1u);
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);
  // An unusable prepared file falls back to the media.
  kestrane::testing::writeFile(dir.file("bad.wav"), "nothing");
  EXPECT_EQ(transcribe(speech, "en-US", dir.file("bad.wav")).words.size(), t.words.size());
}

TEST(Transcriber, SilenceLocalesAndFailuresLeaveNoFiles) {
  kestrane::testing::ScratchFolder dir;
  const auto quiet = dir.file("quiet.mp4");
  make(
      "ffmpeg -v error -y -f lavfi -i color=c=black:size=160x120:rate=25 -f lavfi -i "
      "'anoisesrc=a=0.0005:r=16000' -t 2 -c:v libx264 -c:a aac " +
      quiet);
  try {
    transcribe(quiet, "en_US");
    FAIL() << "silence gave words";
  } catch (const TranscriberError& e) {
    EXPECT_STREQ(e.what(), "No speech found in the footage");
  }
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);

  try {
    transcribe(quiet, "fr_FR");
    FAIL();
  } catch (const TranscriberError& e) {
    EXPECT_STREQ(e.what(), "Transcription doesn't support the fr_FR language yet");
  }
  EXPECT_NO_THROW(ensureModel("en_US"));
  EXPECT_EQ(supportedLocale("en_US"), "en-us");
  EXPECT_EQ(supportedLocale("de_DE"), std::nullopt);

  const auto pictureOnly = dir.file("picture.mp4");
  make("ffmpeg -v error -y -f lavfi -i color=c=black:size=160x120:rate=25 -t 0.5 -c:v libx264 " + pictureOnly);
  EXPECT_THROW(transcribe(pictureOnly, "en_US"), AudioAnalyzer::AnalyzerError);
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);
}

// The recognizer's word list is a temporary file of a few megabytes: a temporary folder with room
// for the audio but not for it is named with its reason, not taken for a missing recognizer.
TEST(Transcriber, AWordListThatCantBeWrittenIsNamedWithItsReason) {
  kestrane::testing::ScratchFolder dir;
  const auto speech = dir.file("speech.wav");
  make("flite -voice rms -t 'a good microphone' -o " + dir.file("flite.wav") + " && sox " + dir.file("flite.wav") +
       " -r 16000 -c 1 -b 16 " + speech);
  // A file size limit stands in for a full disk, which even root can't write past.
  struct rlimit was {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
  struct rlimit small = was;
  small.rlim_cur = 64 * 1024;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  try {
    transcribe(speech, "en_US");
  } catch (const UserFacingError& e) {
    error = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &was);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_TRUE(error.starts_with("Can't write " + dir.file("kestrane-dictionary-"))) << error;
  EXPECT_TRUE(error.ends_with(std::string(": ") + std::strerror(EFBIG))) << error;
  EXPECT_EQ(dir.count("kestrane-dictionary-"), 0);
}

TEST(Transcriber, ALineEndingOnAPrepositionEndsAtALongPause) {
  kestrane::testing::ScratchFolder dir;
  const auto first = dir.file("first.wav"), second = dir.file("second.wav"), take = dir.file("take.wav");
  make("flite -voice rms -t 'this is the one thing that every video should be about' -o " + first);
  make("flite -voice rms -t 'thanks for watching' -o " + second);
  make("sox " + first + " " + dir.file("paused.wav") + " pad 0 1.0");
  make("sox " + dir.file("paused.wav") + " " + second + " " + take + " pad 0.5 0.5");
  const auto words = transcribe(take, "en_US").words;
  const auto about =
      std::find_if(words.begin(), words.end(), [](const TranscriptWord& w) { return w.text.rfind("about", 0) == 0; });
  ASSERT_NE(about, words.end()) << lowerWords({words});
  // The finished line reads as finished, and the next one starts a sentence.
  EXPECT_EQ(about->text, "about.");
  ASSERT_NE(about + 1, words.end());
  // Heard on its own after the pause, flite's "thanks" comes out as another word; whichever
  // it is, it starts the sentence.
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>((about + 1)->text[0]))) << (about + 1)->text;
}

TEST(Transcriber, ASlowFluentReadHasNoHesitations) {
  kestrane::testing::ScratchFolder dir;
  const auto slow = dir.file("slow.wav");
  make("flite -voice awb --setf duration_stretch=1.6 -t 'if you have a small budget spend it on audio first' -o " +
       slow);
  const auto words = transcribe(slow, "en_US").words;
  for (const auto& w : words) {
    std::string lower = w.text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(RecognizedWords::isHesitation(lower)) << lowerWords({words});
  }
}

TEST(Transcriber, SameWordsWithOneOrManyWorkersAndAStopLeavesNoFiles) {
  kestrane::testing::ScratchFolder dir;
  const std::string sample = std::string(KESTRANE_SOURCE_DIR) + "/fixtures/sample-presenter.mp4";
  Options one;
  one.workers = 1;
  Options many;
  many.workers = 4;
  std::vector<double> shares;
  many.progress = [&](double done) { shares.push_back(done); };
  const Transcript alone = transcribe(sample, "en_US", std::nullopt, one);
  const Transcript together = transcribe(sample, "en_US", std::nullopt, many);
  ASSERT_FALSE(alone.words.empty());
  EXPECT_EQ(together.words, alone.words);
  // Several stretches were shared out, and the share done rose to the whole.
  ASSERT_GT(shares.size(), 1u);
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  EXPECT_EQ(shares.back(), 1.0);

  std::stop_source stopper;
  stopper.request_stop();
  Options stopped;
  stopped.stop = stopper.get_token();
  EXPECT_THROW(transcribe(sample, "en_US", std::nullopt, stopped), Cancelled);
  EXPECT_EQ(dir.count("kestrane-audio-"), 0);
}

TEST(Transcriber, AFillerReadInALineIsHeardAsOneAcrossVoices) {
  kestrane::testing::ScratchFolder dir;
  const auto fillersRead = [&](const std::string& voice, const std::string& text) {
    const auto wav = dir.file(voice + ".wav");
    make("flite -voice " + voice + " -t '" + text + "' -o " + wav);
    return fillersIn(transcribe(wav, "en_US"));
  };
  for (const char* voice : {"slt", "awb", "rms", "kal16"}) {
    // The stock model alone writes this "um" as "and" or "them".
    EXPECT_EQ(fillersRead(voice, "So today I want to show you, um, how the rough cut comes together.").size(), 1u)
        << voice;
    EXPECT_TRUE(fillersRead(voice, "So today I want to show you how the rough cut comes together.").empty()) << voice;
  }
}

TEST(Transcriber, EveryLineOverAMusicBedIsHeard) {
  // Three lines with short pauses over a steady chord at about -33 dBFS: the pause test, judging
  // against the bed, can end a stretch right at a line's last word.
  kestrane::testing::ScratchFolder dir;
  const std::vector<std::string> lines = {"the first thing you need is a good microphone",
                                          "keep the background a little darker than the subject",
                                          "check the focus again after you move the tripod"};
  std::string parts;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto part = dir.file("line" + std::to_string(i) + ".wav");
    make("flite -voice awb -t '" + lines[i] + "' -o " + part);
    make("sox " + part + " " + dir.file("paused" + std::to_string(i) + ".wav") + " pad 0 0.45");
    parts += " " + dir.file("paused" + std::to_string(i) + ".wav");
  }
  const auto speech = dir.file("speech.wav"), bed = dir.file("bed.wav"), mixed = dir.file("mixed.wav");
  make("sox" + parts + " " + speech + " pad 0.6 0.6");
  make("sox -R -n -r 16000 -c 1 -b 16 " + bed +
       " synth 20 sine 196 sine 247 sine 294 remix - tremolo 2 30 gain -n -24");
  make("sox -R -m " + speech + " " + bed + " " + mixed + " trim 0 `soxi -D " + speech + "`");
  const Transcript t = transcribe(mixed, "en_US");
  const std::string heard = lowerWords(t);
  for (const char* word : {"thing", "microphone", "little", "subject", "check", "focus"})
    EXPECT_NE(heard.find(word), std::string::npos) << word << " missing from: " << heard;
  // The chord held through the pauses is not a hesitation.
  for (const auto& w : t.words) EXPECT_FALSE(RecognizedWords::isHesitation(w.text)) << heard;
}

TEST(Transcriber, WordsEndingInAHumOrAVowelAreNotHeardAsFillers) {
  // Lines whose last word the recognizer can hear with a separate hesitation at its end ("home"
  // as "run um"), each followed by a pause and the next line.
  kestrane::testing::ScratchFolder dir;
  const std::vector<std::pair<std::string, std::string>> readings = {
      {"slt", "then we can run home"},
      {"slt", "that is how we do it too"},
      {"rms", "open the main menu and then pick a plan"},
      {"kal", "we took the long path down"},
  };
  for (const auto& [voice, line] : readings) {
    const auto wav = dir.file(voice + ".wav");
    make("flite -voice " + voice + " -t '" + line + "' -o " + dir.file("line.wav") + " && flite -voice " + voice +
         " -t 'press the red button again' -o " + dir.file("next.wav") + " && sox -R " + dir.file("line.wav") +
         " -p pad 0.5 0.3 | sox -R - " + dir.file("next.wav") + " -r 16000 -b 16 " + wav + " pad 0 0.4");
    EXPECT_TRUE(fillersIn(transcribe(wav, "en_US")).empty()) << voice << ": " << line;
  }
}

TEST(Transcriber, SpeechOverLoudMusicComesBackInOrderWithinTheSound) {
  // Lines read by several voices over a loud chord that stops for a moment every bar: the
  // stretches decoded side by side are cut in those moments, inside the speech, and the decoders
  // on either side of a cut each hear the words near it and time them their own way. In the
  // second, a held sound found between two words reaches right up to the next one.
  struct Mix {
    std::string barSeconds, gapSeconds;
    std::vector<std::string> voices;
  };
  const std::vector<std::string> lines = {"Welcome back to the channel, today we are looking at the new camera.",
                                          "The sensor is larger than last year and the lens is sharper at the edges.",
                                          "I tested it in low light and the results were honestly surprising."};
  for (const Mix& mix : {Mix{"1.5", "0.4", {"slt", "kal", "awb"}}, Mix{"1.7", "0.45", {"rms", "awb", "slt"}}}) {
    kestrane::testing::ScratchFolder dir;
    std::string parts;
    for (std::size_t i = 0; i < mix.voices.size(); ++i) {
      const auto read = dir.file("read" + std::to_string(i) + ".wav"),
                 part = dir.file("line" + std::to_string(i) + ".wav");
      make("flite -voice " + mix.voices[i] + " -t '" + lines[i] + "' -o " + read);
      make("sox " + read + " -r 16000 -b 16 -c 1 " + part + " norm -3");
      parts += " " + part;
    }
    const auto speech = dir.file("speech.wav"), bar = dir.file("bar.wav"), music = dir.file("music.wav"),
               mixed = dir.file("mixed.wav");
    make("sox" + parts + " " + speech);
    make("sox -n -r 16000 -b 16 -c 1 " + bar + " synth " + mix.barSeconds +
         " square C4 square E4 square G4 sine C2 pad 0 " + mix.gapSeconds);
    make("sox " + bar + " " + dir.file("bars.wav") + " repeat 9 && sox " + dir.file("bars.wav") + " " + music +
         " trim 0 `soxi -D " + speech + "` norm -3 vol 0.7");
    make("sox -m " + speech + " " + music + " " + mixed + " norm -1");
    const auto sound = platform::PcmWavReader::open(mixed);
    ASSERT_TRUE(sound && sound->sampleRate() == kSpeechSampleRate);
    const double seconds = double(sound->sampleCount()) / kSpeechSampleRate;

    const Transcript t = transcribe(mixed, "en_US");
    const std::string heard = lowerWords(t);
    ASSERT_GE(t.words.size(), 5u) << heard;
    EXPECT_GE(t.words.front().range.start, 0.0);
    EXPECT_LE(t.words.back().range.end, seconds);
    for (std::size_t i = 0; i < t.words.size(); ++i) {
      EXPECT_LE(t.words[i].range.start, t.words[i].range.end) << i << " in " << heard;
      if (i > 0) {
        EXPECT_GE(t.words[i].range.start, t.words[i - 1].range.end) << i << " in " << heard;
      }
    }
  }
}
