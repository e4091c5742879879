// Footage that is damaged, cut off, silent or oddly named: each is cut as far as it can be, or
// ends with a clear message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/Utf8Text.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/TestSupport.hpp"
#include "support/Retimed.hpp"
#include "support/SoundingFootage.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using test::quoted;

namespace {

void shell(const std::string& command) {
  ASSERT_EQ(std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()), 0) << command;
}

// What a first cut of `footage` into `out` fails with; empty when it is cut.
std::string cutRefusal(const fs::path& footage, const fs::path& out) {
  Pipeline::Request request;
  request.input = footage;
  request.outputDir = out;
  request.settings = test::appSettings();
  try {
    Pipeline::run(request);
    return {};
  } catch (const UserFacingError& e) {
    return e.what();
  }
}

bool mentions(const std::vector<std::string>& warnings, const std::string& text) {
  for (const auto& w : warnings)
    if (w.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(DamagedFootage, CutOffAndCorruptFilesAreCutAsFarAsTheyCanBeRead) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const auto size = fs::file_size(sample);
  const Pipeline::Analysis whole = Pipeline::analyze(sample);
  ASSERT_TRUE(whole.warnings.empty());
  ASSERT_GT(whole.source.durationSeconds, 30);

  // The first 30 % of the file: the sound stops early although the file states the full length.
  const fs::path cutOff = tmp.path() / "cut-off.mp4";
  shell("head -c " + std::to_string(size * 3 / 10) + " " + quoted(sample) + " > " + quoted(cutOff));
  const Pipeline::Analysis partial = Pipeline::analyze(cutOff);
  ASSERT_EQ(partial.warnings.size(), 1u);
  EXPECT_NE(partial.warnings[0].find("ends at 0:0"), std::string::npos) << partial.warnings[0];
  EXPECT_NE(partial.warnings[0].find("stated length of 0:33"), std::string::npos) << partial.warnings[0];
  // What shows a finished cut tells it from the other warnings.
  EXPECT_TRUE(MediaDamage::isEndsEarlyWarning(partial.warnings[0]));
  EXPECT_FALSE(MediaDamage::isEndsEarlyWarning(*MediaDamage::skippedWarning(2)));
  EXPECT_LT(partial.source.durationSeconds, 15);
  Pipeline::Request request;
  request.input = cutOff;
  request.outputDir = tmp.path() / "out";
  request.settings = test::appSettings();
  const Pipeline::Output output = Pipeline::run(request, partial);
  EXPECT_TRUE(mentions(output.warnings, "stated length"));
  for (const auto& segment : output.session.cutList->segments)
    EXPECT_LE(segment.range.end, partial.source.durationSeconds + 1e-6);
  for (const auto& word : partial.transcript.words) EXPECT_LE(word.range.end, partial.source.durationSeconds + 0.05);
  // Cut again from its session it is still the footage, though a probe reads the whole stated
  // length; the whole recording put in its place is not.
  Pipeline::RecutRequest recut;
  recut.sessionURL = output.sessionURL;
  recut.settings = test::appSettings();
  recut.renderMP4 = true;
  EXPECT_TRUE(Pipeline::recut(recut).mp4URL);
  fs::copy_file(sample, cutOff, fs::copy_options::overwrite_existing);
  try {
    Pipeline::recut(recut);
    ADD_FAILURE() << "the whole recording was cut as the cut-off one";
  } catch (const Pipeline::FootageChanged& e) {
    EXPECT_EQ(e.change(),
              cutOff.string() + " is 0:33, the package was cut from " + timeStamp(partial.source.durationSeconds));
  }

  // Garbage over a stretch of the middle: skipped and counted, and the words after it keep
  // their times, so the cut still lines up with the picture.
  const fs::path corrupt = tmp.path() / "corrupt.mp4";
  fs::copy_file(sample, corrupt);
  shell("yes 'no sound here' | head -c 20000 | dd of=" + quoted(corrupt) + " bs=1 seek=" + std::to_string(size / 2) +
        " conv=notrunc");
  const Pipeline::Analysis damaged = Pipeline::analyze(corrupt);
  ASSERT_EQ(damaged.warnings.size(), 1u) << damaged.warnings.front();
  EXPECT_NE(damaged.warnings[0].find("damaged stretch"), std::string::npos) << damaged.warnings[0];
  EXPECT_NEAR(damaged.source.durationSeconds, whole.source.durationSeconds, 1e-9);
  ASSERT_FALSE(damaged.transcript.words.empty());
  EXPECT_NEAR(damaged.transcript.words.back().range.end, whole.transcript.words.back().range.end, 0.1);
}

// A Matroska copy whose clock jumps an hour at 0:15 though its header states 0:33: no recording
// holds such a gap. The cut says the footage is damaged and where, and makes no package; put at a
// package's footage path, the copy is refused as damaged, whether or not it states a length.
TEST(DamagedFootage, SoundThatJumpsWhereNoRecordingDoesIsDamage) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path jump = tmp.path() / "jump.mkv";
  ASSERT_TRUE(test::retimed(sample, jump, [](double t, bool) { return t >= 15 ? t + 3600 : t; }));
  // The header's length, a big-endian double after its element's id and size, as the sample's.
  std::string bytes = test::readFile(jump);
  const std::size_t at = bytes.find("\x44\x89\x88");
  ASSERT_NE(at, std::string::npos);
  const double stated = 33.16 * 1000;  // in the file's milliseconds
  std::uint64_t bits = 0;
  std::memcpy(&bits, &stated, sizeof bits);
  for (int i = 0; i < 8; ++i) bytes[at + 3 + i] = static_cast<char>(bits >> (56 - 8 * i));
  std::ofstream(jump, std::ios::binary) << bytes;
  ASSERT_NEAR(platform::readMediaFacts(MediaProbe::held(jump.string()))->durationSeconds, 33.16, 1e-6);

  EXPECT_EQ(cutRefusal(jump, tmp.path() / "out"),
            "The footage is damaged: its sound jumps from 0:15 to 60:15, past its stated length of 0:33");
  EXPECT_FALSE(fs::exists(tmp.path() / "out"));

  KestraneSession stored;
  stored.source = MediaProbe::probe(MediaProbe::held(sample.string()));
  stored.levels =
      LevelData::fromLevels(0.01, AudioAnalyzer::measureLevels(MediaProbe::held(sample.string())).levelsDBFS);
  stored.source.path = jump.string();
  EXPECT_EQ(Pipeline::footageChange(stored),
            jump.string() + " is damaged: its sound jumps from 0:15 to 60:15, past its stated length of 0:33");
  // Through a pipe it states no length: the gap alone is too long for any pause.
  shell("ffmpeg -nostdin -v error -i " + quoted(jump) + " -c copy -f matroska - > " + quoted(jump) + ".piped");
  fs::rename(jump.string() + ".piped", jump);
  EXPECT_EQ(Pipeline::footageChange(stored),
            jump.string() + " is damaged: its sound jumps from 0:15 to 60:15, a gap no recording holds");
}

// Sound whose clock goes back (copies of a recording joined without re-timing), or that a file
// stating no length can't hold (its clock jumping minutes again and again), is damage too: said
// at the cut, before any silence is made for it.
TEST(DamagedFootage, SoundWhoseClockGoesBackOrOutrunsWhatTheFileHoldsIsDamage) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path take = tmp.path() / "take.ts";
  const fs::path twice = tmp.path() / "twice.ts";
  shell("ffmpeg -nostdin -v error -i " + quoted(sample) + " -c copy " + quoted(take) + " && cat " + quoted(take) + " " +
        quoted(take) + " > " + quoted(twice));
  const fs::path jumpy = tmp.path() / "jumpy.mkv";
  ASSERT_TRUE(test::retimed(sample, jumpy, [](double t, bool) { return t + std::floor(t / 0.1) * 480; }));
  const fs::path piped = tmp.path() / "piped.mkv";
  shell("ffmpeg -nostdin -v error -i " + quoted(jumpy) + " -map_metadata -1 -c copy -f matroska - > " + quoted(piped));
  for (const auto& [footage, clause] :
       {std::pair{twice, "its sound goes back from 0:33 to 0:00 — clips joined without re-timing?"},
        std::pair{piped, "its sound jumps from 0:00 to 8:00, past the 0:34 the file holds"}}) {
    EXPECT_EQ(cutRefusal(footage, tmp.path() / "out"), "The footage is damaged: " + std::string(clause));
    EXPECT_FALSE(fs::exists(tmp.path() / "out"));
  }
}

// Sound no decoder here can open (a track whose codec configuration is wrecked), put at a package's
// footage path, is no media the package can be cut again from.
TEST(DamagedFootage, SoundThatCantBeDecodedAtTheFootagePathIsNoMedia) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  KestraneSession stored;
  stored.source = MediaProbe::probe(MediaProbe::held(sample.string()));
  stored.levels =
      LevelData::fromLevels(0.01, AudioAnalyzer::measureLevels(MediaProbe::held(sample.string())).levelsDBFS);
  // The sound's configuration names a kind of AAC no decoder here reads, at the same rate.
  std::string bytes = test::readFile(sample);
  const std::size_t config = bytes.find(std::string("\x05\x80\x80\x80\x05\x11\x88", 7));
  ASSERT_NE(config, std::string::npos);
  bytes[config + 5] = '\xd9';
  const fs::path wrecked = tmp.path() / "talk.mp4";
  std::ofstream(wrecked, std::ios::binary) << bytes;
  stored.source.path = wrecked.string();
  EXPECT_EQ(Pipeline::footageChange(stored),
            wrecked.string() + " can't be read as media — Audio decode failed: Function not implemented");
}

// Footage written through a pipe (or by a recorder that crashed) states no length: it is as long
// as its sound, and is cut and cut again like any other.
TEST(DamagedFootage, FootageThatStatesNoLengthIsAsLongAsItsSound) {
  test::TempDir tmp;
  const fs::path piped = tmp.path() / "piped.mkv";
  shell("ffmpeg -nostdin -v error -i " + quoted(test::sampleFootage()) + " -c copy -f matroska - > " + quoted(piped));
  Pipeline::Request request;
  request.input = piped;
  request.outputDir = tmp.path() / "out";
  request.settings = test::appSettings();
  const Pipeline::Output output = Pipeline::run(request);
  EXPECT_NEAR(output.session.source.durationSeconds, 33.13, 0.05);
  EXPECT_EQ(output.session.cutList->segments.back().range.end, output.session.source.durationSeconds);
  Pipeline::RecutRequest recut;
  recut.sessionURL = output.sessionURL;
  recut.settings = test::appSettings();
  EXPECT_NO_THROW(Pipeline::recut(recut));
}

TEST(DamagedFootage, DigitalSilenceEndsWithNoSpeechFound) {
  test::TempDir tmp;
  const fs::path silence = tmp.path() / "silence.wav";
  // sox dithers the last bit, as a muted recorder's file often is.
  shell("sox -n -r 48000 -c 2 -b 16 " + quoted(silence) + " trim 0 40");
  try {
    Pipeline::analyze(silence);
    ADD_FAILURE() << "silence was transcribed";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "No speech found in the footage");
  }
}

// Speech on the second sound track only: the first is read, and the message says the file
// has more tracks than the one read.
TEST(DamagedFootage, SilenceOnTheFirstOfSeveralTracksSaysWhichWasRead) {
  test::TempDir tmp;
  const fs::path speech = tmp.path() / "speech.wav", silence = tmp.path() / "silence.wav",
                 both = tmp.path() / "two tracks.mkv";
  shell("flite -voice kal16 -t 'So today I want to show you how the rough cut comes together.' -o " + quoted(speech));
  shell("sox -n -r 16000 -c 1 -b 16 " + quoted(silence) + " trim 0 6");
  shell("ffmpeg -nostdin -y -i " + quoted(silence) + " -i " + quoted(speech) + " -map 0:a -map 1:a -c:a pcm_s16le " +
        quoted(both));
  try {
    Pipeline::analyze(both);
    ADD_FAILURE() << "the silent first track was transcribed";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "No speech found in the footage — the file has 2 audio tracks and only the first was read");
  }
  // The speech alone is heard, so the track is what made the difference.
  EXPECT_FALSE(Pipeline::analyze(speech).transcript.words.empty());
}

TEST(DamagedFootage, FootageNamedInLatin1CanBeCutAgainAndDocumentsStayUtf8) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "caf\xe9.mov";
  Pipeline::Request request;
  request.input = footage;
  request.outputDir = tmp.path() / "out";
  request.settings = test::appSettings();
  Pipeline::Analysis analysis = test::syntheticAnalysis(test::spoken("hello there world", 1));
  analysis.source.path = footage.string();
  ASSERT_TRUE(test::makeSoundingFootage(footage, analysis.source, analysis.levels));
  const Pipeline::Output first = Pipeline::run(request, analysis);

  EXPECT_EQ(KestraneSession::read(first.sessionURL).source.path, footage.string());
  for (const auto& entry : fs::directory_iterator(first.packageDir)) {
    EXPECT_TRUE(Utf8Text::isValid(entry.path().filename().string())) << entry.path();
    EXPECT_TRUE(Utf8Text::isValid(test::readFile(entry.path()))) << entry.path();
  }
  EXPECT_NE(test::readFile(first.transcriptURL).find("caf\xEF\xBF\xBD"), std::string::npos);

  Pipeline::RecutRequest recut;
  recut.sessionURL = first.sessionURL;
  recut.settings = test::appSettings();
  const Pipeline::Output again = Pipeline::recut(recut);
  EXPECT_EQ(again.packageDir, first.packageDir);
  EXPECT_EQ(again.session.source.path, footage.string());
}
