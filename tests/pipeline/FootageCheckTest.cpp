// What tells other footage from the footage a package was cut from, and how the difference is
// said.
#include "kestrane/pipeline/FootageCheck.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include <sys/stat.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/StoredLevels.hpp"
#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/TestSupport.hpp"
#include "support/BytesRead.hpp"
#include "support/NoisyFootage.hpp"
#include "support/Retimed.hpp"
#include "support/SoundingFootage.hpp"

using namespace kestrane;
using test::ffmpeg;
using test::quoted;
namespace fs = std::filesystem;

namespace {

SourceMedia sampleLike() {
  SourceMedia m;
  m.path = "/f/take.mov";
  m.durationSeconds = 33.16;
  m.frameDuration = {1, 25};
  m.width = 320;
  m.height = 180;
  m.hasVideo = true;
  m.audioSampleRate = 48000;
  m.audioChannelCount = 1;
  return m;
}

// What a first cut of `footage` stores of it: what its container states and the levels of its
// sound (and its speech band's, where they are needed); with the footage's path `at`, when given.
KestraneSession firstCutOf(const fs::path& footage, const fs::path& at = {}) {
  KestraneSession session;
  session.source = MediaProbe::probe(MediaProbe::held(footage.string()));
  session.levels = AudioAnalyzer::storedLevels(AudioAnalyzer::measureLevels(MediaProbe::held(footage.string())));
  if (!at.empty()) session.source.path = at.string();
  return session;
}

// What is said of the file at the session's footage path, or "the footage".
std::string heard(const KestraneSession& session) { return Pipeline::footageChange(session).value_or("the footage"); }

// `from` made by ffmpeg with `options` into the session's footage path.
void remake(const fs::path& from, const std::string& options, const KestraneSession& session) {
  const fs::path footage = session.source.path;
  const fs::path making = footage.parent_path() / ("making" + footage.extension().string());
  ASSERT_TRUE(ffmpeg("-i " + quoted(from) + " " + options + " " + quoted(making))) << options;
  fs::rename(making, footage);
}

// The first `share` of the bytes of `from` at the session's footage path: a copy cut off partway.
void cutOff(const fs::path& from, double share, const KestraneSession& session) {
  fs::copy_file(from, session.source.path, fs::copy_options::overwrite_existing);
  fs::resize_file(session.source.path, static_cast<std::uintmax_t>(static_cast<double>(fs::file_size(from)) * share));
}

// What is said of `stored` and the footage it becomes after `edit`.
std::string change(const SourceMedia& stored, const std::function<void(SourceMedia&)>& edit) {
  SourceMedia found = stored;
  edit(found);
  return Pipeline::footageDifference(stored, found).value_or("the same");
}

// What an earlier build stored of `footage`: its levels measured over its sound's samples one
// after another, as it counted them, whatever the file's timestamps say.
KestraneSession earlierBuildsCutOf(const fs::path& footage) {
  KestraneSession session = firstCutOf(footage);
  const fs::path counted = footage.parent_path() / "counted.wav";
  if (!ffmpeg("-i " + quoted(footage) + " -vn -c:a pcm_s16le " + quoted(counted))) return {};
  const AudioAnalyzer::LevelTrack levels = AudioAnalyzer::measureLevels(MediaProbe::held(counted.string()));
  fs::remove(counted);
  session.levels = LevelData::fromLevels(levels.hopDuration, levels.levelsDBFS);
  session.soundTiming = SoundTiming::countedSamples;
  return session;
}

}  // namespace

TEST(FootageCheck, SaysTheLengthAndOnlyWhatElseDiffers) {
  SourceMedia stored = sampleLike();
  EXPECT_EQ(change(stored, [](SourceMedia&) {}), "the same");
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 33.181; }), "the same");  // as a Matroska copy
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.durationSeconds = 12;
                     m.width = 640;
                     m.height = 360;
                   }),
            "/f/take.mov is 0:12 at 640×360, the package was cut from 0:33 at 320×180");
  // Whole seconds that read alike get the decimals that tell the lengths apart.
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 33.0; }),
            "/f/take.mov is 0:33.0, the package was cut from 0:33.1");
  stored.durationSeconds = 12.3;
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 12.39; }),
            "/f/take.mov is 0:12.39, the package was cut from 0:12.30");
  // Lengths that agree read alike, even on either side of a whole second.
  stored.durationSeconds = 33.99;
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.durationSeconds = 34.01;
                     m.frameDuration = {1001, 30000};
                   }),
            "/f/take.mov is 0:33 at 29.97 fps, the package was cut from 0:33 at 25 fps");
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.width = 1920;
                     m.height = 1080;
                     m.frameDuration = {1, 50};
                   }),
            "/f/take.mov is 0:33 at 1920×1080 and 50 fps, the package was cut from 0:33 at 320×180 and 25 fps");
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.audioSampleRate = 44100;
                     m.audioChannelCount = 2;
                   }),
            "/f/take.mov is 0:33 with 44.1 kHz stereo sound, the package was cut from 0:33 with 48 kHz mono sound");
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.hasVideo = false;
                     m.audioSampleRate = 22050;
                   }),
            "/f/take.mov is 0:33 with no picture and 22.05 kHz sound, the package was cut from 0:33 at 320×180 "
            "with 48 kHz sound");
  // A frame duration off the standard one is the standard one, as a re-cut stores it; a channel
  // count the session doesn't know is not held against the file.
  stored.frameDuration = {1000, 29970};
  stored.audioChannelCount.reset();
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.frameDuration = {1001, 30000};
                     m.audioChannelCount = 6;
                   }),
            "the same");
}

// Without a picture, footage is stored at 1/30 s a frame; the sound's last packets decide how far
// a copy's length may move, the further the lower its rate.
TEST(FootageCheck, FootageWithoutAPictureIsTimedByItsSound) {
  SourceMedia stored = sampleLike();
  stored.hasVideo = false;
  stored.width = stored.height = 0;
  stored.frameDuration = {1, 30};
  stored.durationSeconds = 8.37;
  stored.audioSampleRate = 8000;
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 8.57; }), "the same");
  stored.audioSampleRate = 16000;
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 8.448; }), "the same");
  EXPECT_EQ(change(stored, [](SourceMedia& m) { m.durationSeconds = 8.6; }),
            "/f/take.mov is 0:08.6, the package was cut from 0:08.3");
  EXPECT_EQ(change(stored,
                   [](SourceMedia& m) {
                     m.hasVideo = true;
                     m.width = 640;
                     m.height = 360;
                   }),
            "/f/take.mov is 0:08 at 640×360, the package was cut from 0:08 with no picture");
}

TEST(FootageCheck, TheSentencesSayWhatToDo) {
  const Pipeline::FootageChanged changed("/f/take.mov is 0:12, the package was cut from 0:33");
  EXPECT_STREQ(changed.what(),
               "Can't re-cut from this session: /f/take.mov is 0:12, the package was cut from 0:33 — put the footage "
               "the package was cut from back at that path, then run the re-cut again.");
  EXPECT_EQ(Pipeline::footageChangeNote(changed.change()),
            "/f/take.mov is 0:12, the package was cut from 0:33 — put the footage the package was cut from back at "
            "that path to play or re-cut.");
  // Where nothing in the footage's sound can tell it, cutting it anew would make another package
  // that can't be re-cut: what will and won't work is said instead.
  const std::string even =
      "the loudness it stores of its footage is too even to know it by, so the file at "
      "/f/take.mov can't be proven to be that footage";
  EXPECT_STREQ(Pipeline::FootageChanged(even, Pipeline::FootageRemedy::nothingTells).what(),
               ("Can't re-cut from this session: " + even +
                " — footage this even can't be re-cut from any package, so cut it anew with the options you want.")
                   .c_str());
  EXPECT_EQ(Pipeline::footageChangeNote(even, Pipeline::FootageRemedy::nothingTells),
            even +
                " — footage this even can't be played or re-cut from any package, so cut it anew with the "
                "options you want.");
}

// Real copies of generated footage into other containers, and back, as ffmpeg makes them: each is
// the footage; a second trimmed off is not. No file there is footage missing, not changed; what
// isn't a plain file, or isn't media, is not the footage, and nothing waits on a FIFO.
TEST(FootageCheck, CopiesInOtherContainersAreTheFootageAndATrimIsNot) {
  test::TempDir tmp;
  const auto make = [&](const std::string& name, const std::string& inputs) {
    const fs::path path = tmp.path() / name;
    EXPECT_TRUE(ffmpeg(inputs + " -t 7.3 " + quoted(path))) << name;
    return path;
  };
  // The sample's speech at each rate: a steady tone has no shape to know it by.
  const std::string speech = " -i " + quoted(test::sampleFootage());
  const std::string picture = " -map 0:v -map 1:a";
  const std::vector<fs::path> clips = {
      test::sampleFootage(),
      make("fast.mov", "-f lavfi -i testsrc=s=320x180:r=60000/1001" + speech + picture + " -ar 44100 -c:a aac"),
      make("phone.mp4", "-f lavfi -i testsrc=s=320x180:r=25" + speech + picture + " -ar 8000 -c:a aac"),
      make("voice.m4a", speech + " -vn -ar 16000 -c:a aac"),
      make("voice.mp3", speech + " -vn -ar 22050 -c:a libmp3lame"),
  };
  for (const fs::path& clip : clips) {
    const fs::path footage = tmp.path() / ("footage" + clip.extension().string());
    fs::copy_file(clip, footage, fs::copy_options::overwrite_existing);
    const KestraneSession stored = firstCutOf(footage);
    const std::string other = clip.extension() == ".mp4" ? ".mov" : ".mp4";
    for (const std::string& container : {std::string(".mkv"), other}) {
      const fs::path copy = tmp.path() / ("copy" + container);
      if (!ffmpeg("-i " + quoted(clip) + " -map 0 -c copy " + quoted(copy))) continue;  // no MP3 in MP4
      fs::copy_file(copy, footage, fs::copy_options::overwrite_existing);
      EXPECT_EQ(heard(stored), "the footage") << clip << " as " << container;
      ASSERT_TRUE(ffmpeg("-i " + quoted(copy) + " -map 0 -c copy " + quoted(footage)));
      // MP3 out of Matroska loses the encoder's delay a second time: its first 0.14 s are gone,
      // so every cut point would move.
      const bool lossy = clip.extension() == ".mp3" && container == ".mkv";
      EXPECT_EQ(heard(stored),
                lossy ? footage.string() + " is cut off: its sound ends at 0:07.1, the package was cut from 0:07.3"
                      : "the footage")
          << clip << " there and back through " << container;
    }
    remake(clip, "-t " + std::to_string(stored.source.durationSeconds - 1) + " -c copy", stored);
    EXPECT_NE(heard(stored), "the footage") << clip << " trimmed";
  }

  KestraneSession stored = firstCutOf(test::sampleFootage());
  const fs::path gone = tmp.path() / "gone.mp4";
  stored.source.path = gone.string();
  EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt);
  std::ofstream(gone) << "not media";
  EXPECT_EQ(heard(stored), gone.string() + " can't be read as media");
  fs::remove(gone);
  ASSERT_EQ(::mkfifo(gone.c_str(), 0600), 0);
  EXPECT_EQ(heard(stored), gone.string() + " can't be read — it is not a regular file");
  fs::remove(gone);
  fs::create_directory(gone);
  EXPECT_EQ(heard(stored), gone.string() + " can't be read — it is a folder");
  fs::remove(gone);
  remake(test::sampleFootage(), "-an -c copy", stored);
  EXPECT_EQ(heard(stored), stored.source.path + " is 0:33 with no sound, the package was cut from 0:33 with sound");
}

// The same sound made again is the footage: at a low bit rate, in another codec, louder or
// quieter, squeezed by a strong compressor; copied into Matroska through a pipe, which states no
// length; a sound file rewrapped as raw AAC, whose length is only guessed from its bit rate; and
// 60 fps footage copied into Matroska, whose sound comes an encoder's delay later than a frame
// lasts.
TEST(FootageCheck, TheSameSoundMadeAgainIsTheFootage) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path footage = tmp.path() / "footage.mkv";
  fs::copy_file(sample, footage);
  KestraneSession stored = firstCutOf(footage);
  for (const std::string options :
       {"-c:v copy -c:a aac -b:a 32k", "-c:v copy -c:a libopus", "-c:v copy -c:a libmp3lame",
        "-c:v copy -af volume=8dB", "-c:v copy -af volume=-15dB", "-c:v libx264 -preset ultrafast -crf 35 -c:a copy",
        "-c:v copy -af acompressor=threshold=-30dB:ratio=20:makeup=8",
        "-c:v copy -af 'compand=attacks=0.01:decays=0.2:points=-90/-90|-60/-60|-40/-15|-20/-12|0/-10:delay=0.1'"}) {
    remake(sample, options, stored);
    EXPECT_EQ(heard(stored), "the footage") << options;
  }
  ASSERT_EQ(
      std::system(
          ("ffmpeg -nostdin -v error -i " + quoted(sample) + " -c copy -f matroska - > " + quoted(footage)).c_str()),
      0);
  EXPECT_EQ(platform::readMediaFacts(MediaProbe::held(footage.string()))->durationStated, false);
  EXPECT_EQ(heard(stored), "the footage") << "through a pipe";

  const fs::path voice = tmp.path() / "voice.m4a";
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -vn -c:a copy " + quoted(voice)));
  stored = firstCutOf(voice, tmp.path() / "voice.aac");
  remake(voice, "-c:a copy", stored);
  EXPECT_EQ(platform::readMediaFacts(MediaProbe::held(stored.source.path))->durationStated, false);
  EXPECT_EQ(heard(stored), "the footage") << "as raw AAC";

  const fs::path fast = tmp.path() / "fast.mp4";
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -vf fps=60 -c:v libx264 -preset ultrafast -c:a copy " + quoted(fast)));
  stored = firstCutOf(fast, footage);
  remake(fast, "-c copy", stored);
  EXPECT_EQ(heard(stored), "the footage") << "60 fps in Matroska";
}

// A clean stereo read whose last seconds are room tone, first cut from a good encode, is the
// footage re-encoded at the lowest bit rates too, which wipe the room tone and the quietest
// consonants away.
TEST(FootageCheck, AStereoReadAtALowBitRateIsTheFootage) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "footage.mp4";
  ASSERT_TRUE(ffmpeg("-i " + quoted(test::sampleFootage()) +
                     " -f lavfi -i anoisesrc=c=pink:a=0.003:r=48000:seed=3"
                     " -f lavfi -i anoisesrc=c=brown:a=0.004:r=48000:seed=4 -filter_complex "
                     "'[0:a]aecho=0.8:0.5:20:0.2,asplit=2[a][b];[b]volume=0.85[c];"
                     "[a][1:a]amix=inputs=2:duration=first:normalize=0[l];"
                     "[c][2:a]amix=inputs=2:duration=first:normalize=0[r];"
                     "[l][r]join=inputs=2:channel_layout=stereo[read]' "
                     "-map 0:v -map '[read]' -c:v copy -c:a aac -b:a 192k " +
                     quoted(footage)));
  const fs::path good = tmp.path() / "good.mp4";
  fs::copy_file(footage, good);
  const KestraneSession stored = firstCutOf(footage);
  ASSERT_EQ(stored.source.audioChannelCount, 2);
  for (const std::string rate : {"24k", "32k"}) {
    remake(good, "-c:v copy -c:a aac -b:a " + rate, stored);
    EXPECT_EQ(heard(stored), "the footage") << rate;
  }
}

namespace {

// `from` made as long as `seconds` by holding its last picture and padding its sound with silence,
// as AAC at 48 kHz mono, into `to`.
bool asLongAs(const fs::path& from, double seconds, const fs::path& to) {
  return ffmpeg("-i " + quoted(from) +
                " -vf tpad=stop_mode=clone:stop_duration=10 -af apad -c:v libx264 -preset ultrafast -c:a aac -ar 48000 "
                "-ac 1 -t " +
                std::to_string(seconds) + " -y " + quoted(to));
}

}  // namespace

// Footage recorded under steady noise a few dB below the voice (white and brown noise 4 and 6 dB
// down, pink 1 and 2 dB down) hardly rises and falls in loudness: its first cut stores its speech
// band's levels too, and by them it and a 24 kb/s copy of it are the footage, while another voice
// under the very same noise is not. An earlier session of it, storing its levels alone, is too
// even to know it by, and is told to cut it anew, which now makes a package that can be re-cut.
// One colour of noise a case, so that they are heard side by side.
class NoisyFootage : public ::testing::TestWithParam<const char*> {};

TEST_P(NoisyFootage, IsKnownByItsSpeechBand) {
  const std::string colour = GetParam();
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path slt = tmp.path() / "slt.mp4";
  ASSERT_EQ(std::system(("KESTRANE_SAMPLE_VOICE=slt " + std::string(KESTRANE_SOURCE_DIR) + "/fixtures/make-sample.sh " +
                         quoted(slt) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  const std::pair<fs::path, fs::path> voices[] = {{sample, slt}, {slt, sample}};
  // How far below the voice: as near as it still tells.
  const std::vector<double> belows = colour == "pink" ? std::vector<double>{2, 1} : std::vector<double>{6, 4};
  for (const auto& [voice, other] : voices) {
    const double seconds = MediaProbe::probe(MediaProbe::held(voice.string())).durationSeconds;
    const fs::path padded = tmp.path() / "other padded.mp4";
    ASSERT_TRUE(asLongAs(other, seconds, padded));
    for (const double below : belows) {
      SCOPED_TRACE(voice.stem().string() + " under " + colour + " noise " + std::to_string(below) + " dB down");
      const fs::path noisy = tmp.path() / "noisy.mp4", footage = tmp.path() / "footage.mp4";
      ASSERT_TRUE(test::underNoise(voice, colour, below, 7, noisy));
      fs::copy_file(noisy, footage, fs::copy_options::overwrite_existing);
      KestraneSession stored = firstCutOf(footage);
      EXPECT_FALSE(stored.levels->speechBase64.empty());
      EXPECT_EQ(heard(stored), "the footage");
      remake(noisy, "-c:v copy -c:a aac -b:a 24k", stored);
      EXPECT_EQ(heard(stored), "the footage") << "at 24 kb/s";
      ASSERT_TRUE(test::underNoise(padded, colour, below, 7, footage));
      EXPECT_EQ(heard(stored), footage.string() + " sounds different from the footage the package was cut from");

      fs::copy_file(noisy, footage, fs::copy_options::overwrite_existing);
      stored.levels->speechBase64.clear();
      const Pipeline::FootageVerdict earlier = Pipeline::footageVerdict(stored);
      if (earlier.change) {
        EXPECT_NE(earlier.change->find("too even"), std::string::npos) << *earlier.change;
        EXPECT_EQ(earlier.remedy, Pipeline::FootageRemedy::cutAnew) << *earlier.change;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FootageCheck, NoisyFootage, ::testing::Values("white", "pink", "brown"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// A copy that stops short is refused wherever it stops and whatever its container: with the
// index first its container still states the whole length; with the index last it can't be
// read at all; Matroska states its length in its header.
TEST(FootageCheck, ACopyCutOffAnywhereIsRefused) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();  // its index comes first
  const fs::path indexLast = tmp.path() / "index last.mp4", matroska = tmp.path() / "copy.mkv";
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -c copy " + quoted(indexLast)));
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -c copy " + quoted(matroska)));
  KestraneSession stored = firstCutOf(sample);
  const fs::path footage = tmp.path() / "footage.mp4";
  stored.source.path = footage.string();
  const std::string cutOffAt = footage.string() + " is cut off: its sound ends at ";

  cutOff(sample, 0.25, stored);
  EXPECT_EQ(heard(stored), cutOffAt + "0:05, the package was cut from 0:33");
  cutOff(sample, 0.995, stored);
  EXPECT_EQ(heard(stored), cutOffAt + "0:32, the package was cut from 0:33");
  cutOff(indexLast, 0.5, stored);
  EXPECT_EQ(heard(stored), footage.string() + " can't be read as media");
  cutOff(matroska, 0.25, stored);
  EXPECT_EQ(heard(stored), cutOffAt + "0:08, the package was cut from 0:33");
  fs::copy_file(sample, footage, fs::copy_options::overwrite_existing);
  EXPECT_EQ(heard(stored), "the footage");

  // Levels that stop well short of the stored length don't excuse the rest of it: they tell
  // nothing of it, as none tell of the whole.
  std::vector<float> firstSeconds = stored.levels->levelsDBFS();
  firstSeconds.resize(300);
  stored.levels = LevelData::fromLevels(0.01, firstSeconds);
  cutOff(sample, 0.5, stored);
  EXPECT_EQ(heard(stored), "the loudness it stores of its footage's sound stops at 0:03 of 0:33, so the file at " +
                               footage.string() + " can't be proven to be that footage");
}

// A first cut stores the levels as far as the sound decodes and, where that falls short of the
// stated length by more than the first cut calls cut off, that length instead. Sound a little
// shorter than the picture is the footage; levels that stop short of where the first cut would
// have stored them never are, and a session of the first half's levels is refused, whatever is in
// the second half (here another voice), rather than vouching for it.
TEST(FootageCheck, LevelsThatStopShortAreRefusedAsNoneAre) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path footage = tmp.path() / "footage.mp4";
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -c:v copy -af atrim=0:31.4 -c:a aac " + quoted(footage)));
  KestraneSession stored = firstCutOf(footage);
  ASSERT_NEAR(stored.source.durationSeconds, 33.16, 0.05);
  ASSERT_LT(stored.levels->levelsDBFS().size(), 3150u);
  EXPECT_EQ(heard(stored), "the footage") << "sound 1.8 s shorter than the picture";

  stored = firstCutOf(sample, footage);
  std::vector<float> firstHalf = stored.levels->levelsDBFS();
  firstHalf.resize(firstHalf.size() / 2);
  stored.levels = LevelData::fromLevels(0.01, firstHalf);
  const fs::path voice = tmp.path() / "another voice.mp4";
  ASSERT_EQ(std::system(("KESTRANE_SAMPLE_VOICE=slt " + std::string(KESTRANE_SOURCE_DIR) + "/fixtures/make-sample.sh " +
                         quoted(voice) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -i " + quoted(voice) +
                     " -filter_complex '[0:a]atrim=0:16.5,asetpts=PTS-STARTPTS[a];[1:a]atrim=16.5:33.16,asetpts=PTS-"
                     "STARTPTS[b];[a][b]concat=n=2:v=0:a=1[s]' -map 0:v -map '[s]' -c:v copy -c:a aac -y " +
                     quoted(footage)));
  const Pipeline::FootageVerdict verdict = Pipeline::footageVerdict(stored);
  EXPECT_EQ(verdict.change, "the loudness it stores of its footage's sound stops at 0:16 of 0:33, so the file at " +
                                footage.string() + " can't be proven to be that footage");
  EXPECT_EQ(verdict.remedy, Pipeline::FootageRemedy::cutAnew);
}

// A first cut of a copy cut off partway stores its readable part. The whole copy put at its path
// is not what the package was cut from, and putting the broken copy back is no help: the advice
// is to cut the whole copy anew.
TEST(FootageCheck, AWholeCopyOfFootageCutOffIsToBeCutAnew) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  KestraneSession stored = firstCutOf(sample, tmp.path() / "footage.mp4");
  cutOff(sample, 0.5, stored);
  stored = firstCutOf(stored.source.path);
  stored.source.durationSeconds = AudioAnalyzer::decodedSeconds(MediaProbe::held(stored.source.path), 1e9);
  ASSERT_LT(stored.source.durationSeconds, 20);
  EXPECT_EQ(heard(stored), "the footage");

  fs::copy_file(sample, stored.source.path, fs::copy_options::overwrite_existing);
  const Pipeline::FootageVerdict whole = Pipeline::footageVerdict(stored);
  ASSERT_TRUE(whole.change);
  EXPECT_TRUE(whole.change->starts_with(stored.source.path + " is 0:33")) << *whole.change;
  EXPECT_EQ(whole.remedy, Pipeline::FootageRemedy::cutWhole);
  EXPECT_EQ(Pipeline::footageChangeNote(*whole.change, whole.remedy),
            *whole.change +
                " — that was the readable part of a copy that was cut off, so cut this whole copy "
                "anew.");
}

// Another recording is refused even when everything its container states is the footage's: the
// same sound played backwards, or a little faster or slower (which no one shift lines up, so it
// is not taken for a trim), and the same lines read by another voice, padded to the length.
TEST(FootageCheck, AnotherRecordingIsRefusedEvenWithTheSameStatedFacts) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path footage = tmp.path() / "footage.mp4";
  KestraneSession stored = firstCutOf(sample, footage);
  const std::string different = footage.string() + " sounds different from the footage the package was cut from";

  remake(sample, "-c:v copy -af areverse -c:a aac", stored);
  EXPECT_EQ(heard(stored), different);
  for (const std::string tempo : {"1.01", "0.99", "1.03"}) {
    remake(sample,
           "-c:v copy -af atempo=" + tempo + ",apad -c:a aac -t " + std::to_string(stored.source.durationSeconds),
           stored);
    EXPECT_EQ(heard(stored), different) << "played at " << tempo;
  }

  const fs::path voice = tmp.path() / "another voice.mp4";
  ASSERT_EQ(std::system(("KESTRANE_SAMPLE_VOICE=slt " + std::string(KESTRANE_SOURCE_DIR) + "/fixtures/make-sample.sh " +
                         quoted(voice) + " >/dev/null 2>&1")
                            .c_str()),
            0);
  remake(voice,
         "-vf tpad=stop_mode=clone:stop_duration=5 -af apad -c:v libx264 -preset ultrafast -c:a aac -ar 48000 -ac 1 "
         "-t " +
             std::to_string(stored.source.durationSeconds),
         stored);
  const SourceMedia found = MediaProbe::probe(MediaProbe::held(footage.string()));
  ASSERT_EQ(Pipeline::footageDifference(stored.source, found), std::nullopt) << "the same stated facts";
  EXPECT_EQ(heard(stored), different);

  // Without stored levels, or with levels that neither rise nor fall, or on another grid, nothing
  // tells the footage from another recording with its stated facts: none is vouched for.
  const std::string unproven = " so the file at " + footage.string() + " can't be proven to be that footage";
  const LevelData levels = *stored.levels;
  stored.levels.reset();
  EXPECT_EQ(heard(stored), "it stores no loudness of its footage's sound to know it by," + unproven);
  stored.levels = LevelData{0.01, "not base64"};
  EXPECT_EQ(heard(stored), "it stores no loudness of its footage's sound to know it by," + unproven);
  stored.levels = LevelData::fromLevels(0.01, std::vector<float>(levels.levelsDBFS().size(), -30));
  EXPECT_EQ(heard(stored), "the loudness it stores of its footage is too even to know it by," + unproven);
  stored.levels = LevelData::fromLevels(0.02, levels.levelsDBFS());
  EXPECT_EQ(heard(stored), "the loudness it stores of its footage is measured otherwise," + unproven);
  stored.levels = levels;
  fs::copy_file(sample, footage, fs::copy_options::overwrite_existing);
  EXPECT_EQ(heard(stored), "the footage");
}

// A trim at the start moves every cut point: refused once the sound shows it moved by about a
// frame (a sound file is timed at 1/30 s a frame), as the first sound packet of an 8 kHz file
// copied without it does. A steady tone can show no move: it is never vouched for.
TEST(FootageCheck, ATrimAtTheStartIsRefusedWhereTheSoundShowsIt) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path footage = tmp.path() / "footage.mp4";
  KestraneSession stored = firstCutOf(sample, footage);
  remake(sample, "-ss 0.04 -c:v libx264 -preset ultrafast -c:a aac -t 33.12", stored);
  EXPECT_EQ(heard(stored), footage.string() +
                               " is shifted: its sound comes 0.04 s earlier than in the footage the package was cut "
                               "from, as if trimmed at its start");

  const fs::path phone = tmp.path() / "phone.m4a";
  ASSERT_TRUE(ffmpeg("-i " + quoted(sample) + " -vn -ar 8000 -c:a aac " + quoted(phone)));
  stored = firstCutOf(phone, tmp.path() / "footage.m4a");
  remake(phone, "-ss 0.128 -c copy", stored);
  EXPECT_EQ(heard(stored), stored.source.path +
                               " is shifted: its sound comes 0.13 s earlier than in the footage the package was cut "
                               "from, as if trimmed at its start");

  const fs::path tone = tmp.path() / "tone.mp4";
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=s=320x180:r=25 -f lavfi -i sine=r=48000 -c:a aac -t 6 " + quoted(tone)));
  stored = firstCutOf(tone, footage);
  remake(tone, "-ss 0.04 -c:v libx264 -preset ultrafast -c:a aac", stored);
  EXPECT_EQ(heard(stored), "the loudness it stores of its footage is too even to know it by, so the file at " +
                               footage.string() + " can't be proven to be that footage");
}

// Sound as steady as a held note but for one step, from speech to a pause, late in the recording
// where no stretch chosen by its place lies: the check hears it there, knows the footage by it and
// refuses the same sound stepping elsewhere. Only sound that neither rises nor falls anywhere
// can't be told, and then cutting it anew is not advised, for its package couldn't be re-cut
// either.
TEST(FootageCheck, WhereTheLevelsRiseAndFallAnywhereTheyAreHeardThere) {
  test::TempDir tmp;
  SourceMedia media = sampleLike();
  media.durationSeconds = 30;
  const auto steppedAt = [](std::size_t hop) {
    std::vector<float> levels(3000, -20.0f);
    std::fill(levels.begin() + static_cast<std::ptrdiff_t>(hop), levels.end(), -60.0f);
    return LevelData::fromLevels(0.01, levels);
  };
  const fs::path footage = tmp.path() / "footage.mp4";
  ASSERT_TRUE(test::makeSoundingFootage(footage, media, steppedAt(2650)));
  const KestraneSession stored = firstCutOf(footage);
  EXPECT_EQ(heard(stored), "the footage");
  ASSERT_TRUE(test::makeSoundingFootage(footage, media, steppedAt(2000)));
  EXPECT_EQ(heard(stored), footage.string() + " sounds different from the footage the package was cut from");

  ASSERT_TRUE(test::makeSoundingFootage(footage, media, LevelData::fromLevels(0.01, std::vector<float>(3000, -20))));
  const Pipeline::FootageVerdict steady = Pipeline::footageVerdict(firstCutOf(footage));
  EXPECT_EQ(steady.change, "the loudness it stores of its footage is too even to know it by, so the file at " +
                               footage.string() + " can't be proven to be that footage");
  EXPECT_EQ(steady.remedy, Pipeline::FootageRemedy::nothingTells);
}

// Footage whose sound's timestamps part from its count of samples, as a recorder that dropped
// sound packets under load leaves it: a first cut of it is of its own footage. A package an
// earlier build cut from it, its times counted by samples, is still of that footage, and its
// times move onto the file's clock; its levels don't make the footage without the dropout its own.
TEST(FootageCheck, ADropoutNeverMakesAPackagesOwnFootageOther) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path footage = tmp.path() / "footage.mp4";
  ASSERT_TRUE(test::withSoundDropout(sample, footage, 10.0, 0.1));
  EXPECT_EQ(heard(firstCutOf(footage)), "the footage");

  KestraneSession earlier = earlierBuildsCutOf(footage);
  earlier.transcript = Transcript{{{"First", {11.68, 12.1}}}};
  const Pipeline::FootageVerdict verdict = Pipeline::footageVerdict(earlier);
  EXPECT_EQ(verdict.change, std::nullopt);
  ASSERT_TRUE(verdict.countedClock);
  const double lost = 5 * 1024 / 48000.0;  // the five sound packets dropped
  EXPECT_NEAR(onFileClock(earlier, *verdict.countedClock).transcript->words[0].range.start, 11.68 + lost, 0.002);

  fs::copy_file(sample, footage, fs::copy_options::overwrite_existing);
  EXPECT_NE(heard(earlier), "the footage");
}

// A dropout past every stretch the check hears at its place: a hearing of the package as its build
// counted would pass it, and leave every time after it early by the dropout's length. The map from
// the file's own timestamps moves them; footage without gaps moves nothing.
TEST(FootageCheck, AnEarlierBuildsSessionIsMovedByADropoutPastTheStretchesHeard) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "footage.mp4";
  ASSERT_TRUE(test::withSoundDropout(test::sampleFootage(), footage, 20.0, 0.5));
  KestraneSession earlier = earlierBuildsCutOf(footage);
  earlier.transcript = Transcript{{{"after", {25.0, 25.4}}, {"before", {12.0, 12.3}}}};
  const Pipeline::FootageVerdict verdict = Pipeline::footageVerdict(earlier);
  EXPECT_EQ(verdict.change, std::nullopt);
  ASSERT_TRUE(verdict.countedClock);
  const double lost = 23 * 1024 / 48000.0;  // the sound packets dropped
  const KestraneSession moved = onFileClock(earlier, *verdict.countedClock);
  EXPECT_NEAR(moved.transcript->words[0].range.start, 25.0 + lost, 0.002);
  EXPECT_NEAR(moved.transcript->words[1].range.start, 12.0, 0.002);

  fs::copy_file(test::sampleFootage(), footage, fs::copy_options::overwrite_existing);
  const Pipeline::FootageVerdict whole = Pipeline::footageVerdict(earlierBuildsCutOf(footage));
  EXPECT_EQ(whole.change, std::nullopt);
  ASSERT_TRUE(whole.countedClock);
  EXPECT_TRUE(whole.countedClock->agrees());
}

namespace {

// Where the sound first rises within 12 dB of its loudest, from `from` seconds on.
double onsetFrom(const LevelData& levels, double from) {
  const std::vector<float> dB = levels.levelsDBFS();
  const float loud = *std::max_element(dB.begin(), dB.end());
  for (auto hop = static_cast<std::size_t>(from / levels.hopDuration); hop < dB.size(); ++hop)
    if (dB[hop] > loud - 12) return static_cast<double>(hop) * levels.hopDuration;
  return -1;
}

}  // namespace

// An hour of a hundred clips joined without re-encoding (a talk that starts after twenty minutes
// of a camera rolling in a quiet room): every join gives a little sound twice, so an earlier
// build's count of samples runs seconds ahead of the file's clock by the end. The map moves the
// last clip's speech to where the file puts it, within a frame.
TEST(FootageCheck, AnEarlierBuildsSessionOfAHundredJoinsIsMovedExactly) {
  test::TempDir tmp;
  const fs::path talk = tmp.path() / "talk.mp4", quiet = tmp.path() / "quiet.mp4";
  const std::string sample = quoted(test::sampleFootage());
  ASSERT_TRUE(ffmpeg("-i " + sample + " -c:v copy -ar 8000 -ac 1 -c:a aac " + quoted(talk)));
  ASSERT_TRUE(ffmpeg("-i " + sample + " -c:v copy -af volume=0 -ar 8000 -ac 1 -c:a aac " + quoted(quiet)));
  const fs::path list = tmp.path() / "clips.txt";
  {
    std::ofstream clips(list);
    for (int clip = 0; clip < 100; ++clip) clips << "file " << quoted(clip < 20 ? quiet : talk) << "\n";
  }
  const fs::path footage = tmp.path() / "hour.mp4";
  ASSERT_TRUE(ffmpeg("-f concat -safe 0 -i " + quoted(list) + " -c copy " + quoted(footage)));
  const KestraneSession earlier = earlierBuildsCutOf(footage);
  const Pipeline::FootageVerdict verdict = Pipeline::footageVerdict(earlier);
  ASSERT_EQ(verdict.change, std::nullopt);
  ASSERT_TRUE(verdict.countedClock);

  // The last clip's first word, as counted and on the file's clock: heard in the second of
  // silence it starts with.
  const LevelData onFile = *firstCutOf(footage).levels;
  const auto lengthOf = [](const LevelData& levels) {
    return static_cast<double>(levels.levelsDBFS().size()) * levels.hopDuration;
  };
  const double counted = onsetFrom(*earlier.levels, lengthOf(*earlier.levels) - 33.0);
  const double heard = onsetFrom(onFile, lengthOf(onFile) - 33.0);
  ASSERT_GT(counted - heard, 5.0) << "the joins gave no sound twice";
  EXPECT_NEAR(verdict.countedClock->onFileClock(counted), heard, 0.04);
}

// A file written through a pipe states no length, so the check reads on to where its sound ends;
// behind a long tail of zeros (a recorder that preallocated its file and crashed) that is gigabytes
// away. A stop is heard inside that reading, not after it.
TEST(FootageCheck, AStopIsHeardInsideALongTailOfZeros) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "footage.mkv";
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i " + quoted(test::sampleFootage()) + " -c copy -f matroska - > " +
                         quoted(footage))
                            .c_str()),
            0);
  const KestraneSession stored = firstCutOf(footage);
  const auto media = fs::file_size(footage);
  fs::resize_file(footage, media + (std::uintmax_t{16} << 30));  // sparse: no disk is filled

  std::stop_source stop;
  std::exception_ptr ended;
  const std::uint64_t before = test::bytesRead();
  std::thread check([&] {
    try {
      Pipeline::footageChange(stored, stop.get_token());
    } catch (...) {
      ended = std::current_exception();
    }
  });
  // Once it is well into the zeros, stop it.
  while (test::bytesRead() - before < media + (256u << 20)) std::this_thread::yield();
  const std::uint64_t atStop = test::bytesRead();
  stop.request_stop();
  check.join();
  ASSERT_TRUE(ended) << "the check read through the whole tail";
  EXPECT_THROW(std::rethrow_exception(ended), Cancelled);
  EXPECT_LT(test::bytesRead() - atStop, std::uint64_t{64} << 20) << "it read on after the stop";
}

#if defined(__x86_64__)
// A drive that fails to read the footage is no other footage: the check says it can't be read and
// to look at the drive, not to put the footage back.
TEST(FootageCheck, ADriveThatFailsToReadIsToldApartFromOtherFootage) {
  const KestraneSession stored = firstCutOf(test::sampleFootage());
  const auto file = platform::MediaFile::open(stored.source.path);
  const int ended = test::inChild([&] {
    // From now on every read of the held footage fails as a failing drive's does.
    if (!test::withFailingReads(file->fd())) ::_exit(3);
    const Pipeline::FootageVerdict verdict = Pipeline::judgeFootage(stored, file);
    const bool said = verdict.change == stored.source.path + " can't be read — can't read the file: Input/output error";
    const std::string sentence = Pipeline::FootageChanged(*verdict.change, verdict.remedy).what();
    const bool advised = sentence.ends_with(
        "— check that the drive it is on is connected and reads, then run the "
        "re-cut again.");
    ::_exit(said && advised ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't filter system calls here";
  EXPECT_EQ(WEXITSTATUS(ended), 0);
}
#endif
