// What tells other footage from the footage a package was cut from, and how the difference is
// said.
#include "kestrane/pipeline/FootageCheck.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "kestrane/analysis/MediaProbe.hpp"
#include "pipeline/TestSupport.hpp"

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

// What is said of `stored` and the footage it becomes after `edit`.
std::string change(const SourceMedia& stored, const std::function<void(SourceMedia&)>& edit) {
  SourceMedia found = stored;
  edit(found);
  return Pipeline::footageDifference(stored, found).value_or("the same");
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
}

// Real copies of generated footage into other containers, and back, as ffmpeg makes them: each is
// the footage; a second trimmed off is not. Only footage can be told apart: no file, or one that
// isn't media, is left to the messages of the runs that use it.
TEST(FootageCheck, CopiesInOtherContainersAreTheFootageAndATrimIsNot) {
  test::TempDir tmp;
  const auto make = [&](const std::string& name, const std::string& inputs) {
    const fs::path path = tmp.path() / name;
    EXPECT_TRUE(ffmpeg(inputs + " -t 7.3 " + quoted(path))) << name;
    return path;
  };
  const std::vector<fs::path> clips = {
      test::sampleFootage(),
      make("fast.mov", "-f lavfi -i testsrc=s=320x180:r=60000/1001 -f lavfi -i sine=r=44100 -c:a aac"),
      make("phone.mp4", "-f lavfi -i testsrc=s=320x180:r=25 -f lavfi -i sine=r=8000 -c:a aac"),
      make("voice.m4a", "-f lavfi -i sine=r=16000 -c:a aac"),
      make("voice.mp3", "-f lavfi -i sine=r=22050 -c:a libmp3lame"),
  };
  for (const fs::path& clip : clips) {
    const fs::path footage = tmp.path() / ("footage" + clip.extension().string());
    fs::copy_file(clip, footage, fs::copy_options::overwrite_existing);
    SourceMedia stored = MediaProbe::probe(footage.string());
    const std::string other = clip.extension() == ".mp4" ? ".mov" : ".mp4";
    for (const std::string& container : {std::string(".mkv"), other}) {
      const fs::path copy = tmp.path() / ("copy" + container);
      if (!ffmpeg("-i " + quoted(clip) + " -map 0 -c copy " + quoted(copy))) continue;  // no MP3 in MP4
      fs::copy_file(copy, footage, fs::copy_options::overwrite_existing);
      EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt) << clip << " as " << container;
      ASSERT_TRUE(ffmpeg("-i " + quoted(copy) + " -map 0 -c copy " + quoted(footage)));
      EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt) << clip << " there and back through " << container;
    }
    ASSERT_TRUE(ffmpeg("-i " + quoted(clip) + " -t " + std::to_string(stored.durationSeconds - 1) + " -c copy " +
                       quoted(footage)));
    EXPECT_NE(Pipeline::footageChange(stored), std::nullopt) << clip << " trimmed";
  }

  const fs::path gone = tmp.path() / "gone.mp4";
  SourceMedia stored = MediaProbe::probe(test::sampleFootage().string());
  stored.path = gone.string();
  EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt);
  std::ofstream(gone) << "not media";
  EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt);
  ASSERT_TRUE(ffmpeg("-i " + quoted(test::sampleFootage()) + " -an -c copy " + quoted(gone)));
  EXPECT_EQ(Pipeline::footageChange(stored),
            stored.path + " is 0:33 with no sound, the package was cut from 0:33 with sound");
}
