#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <stop_token>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FrameSequenceEncoder.hpp"
#include "platform/MediaFixtures.hpp"
#include "support/HeldProgram.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;

namespace {

std::string capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string probe(const fs::path& movie, const std::string& entries) {
  return capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + entries +
                 " -of default=nw=1 '" + movie.string() + "'");
}

class FrameSequenceEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Five 64x48 frames of red at half opacity.
    kt::make(
        "ffmpeg -v error -f lavfi -i color=c=red@0.5:s=64x48:r=30:d=1,format=rgba "
        "-frames:v 5 '" +
        scratch.file("frame-%d.png") + "'");
    for (int i = 1; i <= 5; ++i) frames.push_back(scratch.path() / ("frame-" + std::to_string(i) + ".png"));
  }
  kt::ScratchFolder scratch;
  std::vector<fs::path> frames;
};

}  // namespace

TEST_F(FrameSequenceEncoderTest, OverlaysAreProRes4444WithTheirAlpha) {
  const fs::path movie = scratch.path() / "overlay.mov";
  FrameSequenceEncoder::encode(frames, {movie, 30, 64, 48, true});
  EXPECT_EQ(probe(movie, "codec_name,profile,codec_tag_string,time_base,nb_read_frames,width,height"),
            "codec_name=prores\nprofile=4444\ncodec_tag_string=ap4h\nwidth=64\nheight=48\n"
            "time_base=1/30\nnb_read_frames=5\n");
  const std::string pixels =
      capture("ffmpeg -v error -i '" + movie.string() + "' -frames:v 1 -f rawvideo -pix_fmt rgba -");
  ASSERT_EQ(pixels.size(), 64u * 48u * 4u);
  const int alpha = static_cast<unsigned char>(pixels[(24 * 64 + 32) * 4 + 3]);
  EXPECT_NEAR(alpha, 128, 2);
}

TEST_F(FrameSequenceEncoderTest, FullFrameGraphicsAreH264HighStretchedToTheCanvas) {
  const fs::path movie = scratch.path() / "full.mp4";
  FrameSequenceEncoder::encode(frames, {movie, 25, 640, 480, false});
  EXPECT_EQ(probe(movie, "codec_name,profile,pix_fmt,time_base,nb_read_frames,width,height"),
            "codec_name=h264\nprofile=High\nwidth=640\nheight=480\npix_fmt=yuv420p\n"
            "time_base=1/25\nnb_read_frames=5\n");
  EXPECT_EQ(FrameSequenceEncoder::averageBitRate(1920, 1080), 16'588'800);
  EXPECT_EQ(FrameSequenceEncoder::averageBitRate(640, 480), 4'000'000);
}

TEST_F(FrameSequenceEncoderTest, AFailedOrStoppedEncodeLeavesTheEarlierFileAndNoPartialOne) {
  const fs::path movie = scratch.path() / "graphic.mov";
  kt::writeFile(movie.string(), "earlier");
  const auto filesNow = [&] { return std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator{}); };
  const auto before = filesNow();

  kt::writeFile(scratch.file("frame-6.png"), "not a picture");
  auto broken = frames;
  broken.push_back(scratch.path() / "frame-6.png");
  try {
    FrameSequenceEncoder::encode(broken, {movie, 30, 64, 48, true});
    ADD_FAILURE() << "a broken frame was encoded";
  } catch (const FrameSequenceEncoder::EncodeError& e) {
    EXPECT_STREQ(e.what(), "couldn't read captured frame frame-6.png");
  }
  std::stop_source stop;
  stop.request_stop();
  EXPECT_THROW(FrameSequenceEncoder::encode(frames, {movie, 30, 64, 48, true}, stop.get_token()), Cancelled);
  try {
    FrameSequenceEncoder::encode({}, {movie, 30, 64, 48, true});
    ADD_FAILURE() << "nothing was encoded";
  } catch (const FrameSequenceEncoder::EncodeError& e) {
    EXPECT_STREQ(e.what(), "no frames were captured");
  }
  EXPECT_EQ(filesNow(), before + 1);  // only the broken frame was added
  std::ifstream in(movie);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier");
}

// Brand colours must reach the editor unchanged: both movies carry BT.709 tags, and decoding
// them with the BT.709 matrix an editor applies to HD gives back the source pixels.
TEST_F(FrameSequenceEncoderTest, SolidColoursSurviveBothMoviesAsTaggedBt709) {
  struct Rgb {
    const char* hex;
    int r, g, b;
  };
  const Rgb colours[] = {
      {"FF5500", 255, 85, 0}, {"A855F7", 168, 85, 247}, {"101010", 16, 16, 16}, {"2E8B57", 46, 139, 87}};
  for (const Rgb& colour : colours) {
    for (const bool alpha : {true, false}) {
      SCOPED_TRACE(std::string(colour.hex) + (alpha ? " in ProRes 4444" : " in H.264"));
      const std::string name = std::string(colour.hex) + (alpha ? "-" : "+");
      // Opaque frames, in both layouts the PNG decoder hands over.
      kt::make("ffmpeg -v error -f lavfi -i color=c=0x" + std::string(colour.hex) + ":s=96x64:r=30:d=1,format=" +
               (alpha ? "rgba" : "rgb24") + " -frames:v 3 '" + scratch.file(name + "%d.png") + "'");
      std::vector<fs::path> solid;
      for (int i = 1; i <= 3; ++i) solid.push_back(scratch.path() / (name + std::to_string(i) + ".png"));
      const fs::path movie = scratch.path() / (name + (alpha ? ".mov" : ".mp4"));
      FrameSequenceEncoder::encode(solid, {movie, 30, 96, 64, alpha});

      EXPECT_EQ(probe(movie, "color_range,color_space,color_transfer,color_primaries"),
                "color_range=tv\ncolor_space=bt709\ncolor_transfer=bt709\ncolor_primaries=bt709\n");
      const std::string pixels =
          capture("ffmpeg -v error -i '" + movie.string() +
                  "' -frames:v 1 -vf scale=in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24"
                  " -f rawvideo -");
      ASSERT_EQ(pixels.size(), 96u * 64u * 3u);
      for (const std::size_t at : {std::size_t{0}, std::size_t{(32 * 96 + 48) * 3}, pixels.size() - 3}) {
        EXPECT_NEAR(static_cast<unsigned char>(pixels[at]), colour.r, 2) << at;
        EXPECT_NEAR(static_cast<unsigned char>(pixels[at + 1]), colour.g, 2) << at;
        EXPECT_NEAR(static_cast<unsigned char>(pixels[at + 2]), colour.b, 2) << at;
      }
    }
  }
}

// Frames are read a few ahead of the encoder: every one still arrives once and in its place,
// and the same frames make the same movie byte for byte.
TEST_F(FrameSequenceEncoderTest, FramesReadAheadKeepTheirOrderAndTheMovieItsBytes) {
  const int greys[] = {0x10, 0xF0, 0x40, 0xC0, 0x70, 0xA0, 0x20, 0xE0};
  std::vector<fs::path> ramp;
  for (const int grey : greys) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X", grey, grey, grey);
    ramp.push_back(scratch.path() / ("grey-" + std::string(hex) + ".png"));
    kt::make("ffmpeg -v error -f lavfi -i color=c=0x" + std::string(hex) +
             ":s=32x32:r=30:d=1,format=rgba -frames:v 1 '" + ramp.back().string() + "'");
  }
  for (const bool alpha : {true, false}) {
    SCOPED_TRACE(alpha ? "ProRes 4444" : "H.264");
    const fs::path first = scratch.path() / (alpha ? "a.mov" : "a.mp4");
    const fs::path second = scratch.path() / (alpha ? "b.mov" : "b.mp4");
    FrameSequenceEncoder::encode(ramp, {first, 30, 32, 32, alpha});
    FrameSequenceEncoder::encode(ramp, {second, 30, 32, 32, alpha});
    std::ifstream a(first, std::ios::binary), b(second, std::ios::binary);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}));

    const std::string pixels =
        capture("ffmpeg -v error -i '" + first.string() +
                "' -vf scale=in_color_matrix=bt709:in_range=tv:out_range=pc,format=gray -f rawvideo -");
    ASSERT_EQ(pixels.size(), 8u * 32u * 32u);
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_NEAR(static_cast<unsigned char>(pixels[i * 32 * 32 + 16 * 32 + 16]), greys[i], 4) << "frame " << i;
    }
  }
}

// The movie is written under the hidden name the package's staged files take, held while it is
// written: a sweep of the folder leaves it to a running encoder and takes it once the encoder
// was killed, so nothing of it stays.
TEST_F(FrameSequenceEncoderTest, AnEncodeKilledMidwayLeavesOnlyWhatTheSweepTakes) {
  if (!test::kCanHoldPrograms) GTEST_SKIP() << "the encoder can't be held in a call on this machine";
  const fs::path folder = scratch.path() / "assets";
  fs::create_directories(folder);
  // Held at its first call that makes or moves a file once its hidden file is there, and
  // killed there, however fast or slow the machine.
  std::optional<fs::path> temporary;
  std::size_t sweptWhileRunning = 0;
  const int status = test::inHeldChild(
      [&] {
        FrameSequenceEncoder::encode(frames, {folder / "long.mov", 30, 64, 48, true});
      },
      [&](test::HeldProgram& encoder, int) {
        if (temporary) return;
        for (const auto& e : fs::directory_iterator(folder)) temporary = e.path();
        if (!temporary) return;
        sweptWhileRunning = AtomicFile::sweepAbandoned(folder);
        encoder.signal(SIGKILL);
      });
  ASSERT_TRUE(WIFSIGNALED(status)) << "the encode ended before it was caught";
  ASSERT_TRUE(temporary);
  EXPECT_TRUE(AtomicFile::isAsideName(temporary->filename().string())) << *temporary;
  EXPECT_EQ(sweptWhileRunning, 0u);
  EXPECT_TRUE(fs::exists(*temporary));
  EXPECT_EQ(AtomicFile::sweepAbandoned(folder), 1u);
  EXPECT_TRUE(fs::is_empty(folder));
}
