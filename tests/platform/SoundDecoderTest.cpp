// The one sound reader on real footage: a whole decode and a reading by position place the same
// sound alike; the counted clock read from packets alone is the one a whole decode finds; a clock
// that goes back or a file that holds far less than its timestamps say is damage, said before
// gigabytes of silence are made; and every reading stops inside a long tail of zeros.
#include "kestrane/platform/SoundDecoder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "kestrane/platform/AudioTrackReader.hpp"
#include "kestrane/platform/SoundPackets.hpp"
#include "pipeline/TestSupport.hpp"
#include "support/BytesRead.hpp"
#include "support/Retimed.hpp"

using namespace kestrane;
using namespace kestrane::platform;
namespace fs = std::filesystem;
using test::quoted;

namespace {

struct Sound {
  std::vector<float> samples;  // interleaved
  int channels = 0;
};

Sound decodedWhole(const fs::path& path) {
  Sound sound;
  decodeAudio(MediaFile::open(path), [&](const AudioBlock& block) {
    sound.channels = block.channels;
    sound.samples.insert(sound.samples.end(), block.interleaved,
                         block.interleaved + block.frames * static_cast<std::size_t>(block.channels));
  });
  return sound;
}

// The whole track read by position from its start, as a check or a render reads stretches.
Sound readWhole(const fs::path& path) {
  AudioTrackReader reader(MediaFile::open(path));
  Sound sound;
  sound.channels = reader.trackChannelCount();
  reader.setOutput(reader.trackSampleRate(), sound.channels);
  constexpr int kChunk = 5000;
  std::vector<std::vector<float>> planes(static_cast<std::size_t>(sound.channels), std::vector<float>(kChunk));
  std::vector<float*> pointers;
  for (auto& plane : planes) pointers.push_back(plane.data());
  for (std::int64_t at = 0; !reader.end() || at < *reader.end(); at += kChunk) {
    reader.read(at, kChunk, pointers.data());
    for (int i = 0; i < kChunk; ++i)
      for (const auto& plane : planes) sound.samples.push_back(plane[static_cast<std::size_t>(i)]);
  }
  sound.samples.resize(static_cast<std::size_t>(*reader.end() * sound.channels));
  return sound;
}

fs::path withDropout(const fs::path& to, double at, double seconds) {
  EXPECT_TRUE(test::retimed(test::sampleFootage(), to, [=](double t, bool sound) -> std::optional<double> {
    if (sound && t >= at && t < at + seconds) return std::nullopt;
    return t;
  }));
  return to;
}

fs::path joined(const fs::path& to, int copies, const fs::path& from) {
  const fs::path list = to.string() + ".txt";
  std::ofstream out(list);
  for (int i = 0; i < copies; ++i) out << "file " << quoted(from) << "\n";
  out.close();
  EXPECT_TRUE(test::ffmpeg("-f concat -safe 0 -i " + quoted(list) + " -c copy " + quoted(to)));
  return to;
}

// Through a pipe, as a recorder streaming to disk writes it: no length stated (nor one carried
// over from the copy's tags).
fs::path piped(const fs::path& from, const fs::path& to) {
  EXPECT_EQ(std::system(("ffmpeg -nostdin -v error -i " + quoted(from) + " -map_metadata -1 -c copy -f matroska - > " +
                         quoted(to))
                            .c_str()),
            0);
  return to;
}

// A Matroska copy of the sample whose clusters from `from` to `to` seconds are stamped `by`
// seconds later, as a muxer that lost its place leaves them; the rest keep their times.
fs::path pushedClusters(const fs::path& to, double from, double until, double by) {
  EXPECT_TRUE(test::ffmpeg("-i " + quoted(test::sampleFootage()) + " -c copy " + quoted(to)));
  std::string bytes = test::readFile(to);
  const std::string cluster = "\x1f\x43\xb6\x75";
  const auto vintLength = [&](std::size_t at) {
    std::size_t n = 1;
    while (n < 8 && !(static_cast<unsigned char>(bytes[at]) & (0x80 >> (n - 1)))) ++n;
    return n;
  };
  for (std::size_t at = bytes.find(cluster); at != std::string::npos; at = bytes.find(cluster, at + 4)) {
    std::size_t element = at + 4 + vintLength(at + 4);
    if (static_cast<unsigned char>(bytes[element]) == 0xbf) element += 6;  // its checksum
    if (static_cast<unsigned char>(bytes[element]) != 0xe7) continue;
    const std::size_t width = static_cast<unsigned char>(bytes[element + 1]) & 0x7f;
    std::uint64_t ms = 0;
    for (std::size_t i = 0; i < width; ++i) ms = ms << 8 | static_cast<unsigned char>(bytes[element + 2 + i]);
    if (ms < from * 1000 || ms >= until * 1000) continue;
    ms += static_cast<std::uint64_t>(by * 1000);
    for (std::size_t i = width; i-- > 0; ms >>= 8) bytes[element + 2 + i] = static_cast<char>(ms & 0xff);
  }
  std::ofstream(to, std::ios::binary) << bytes;
  return to;
}

std::string damage(const fs::path& path, std::size_t& delivered) {
  delivered = 0;
  try {
    decodeAudio(MediaFile::open(path), [&](const AudioBlock& block) { delivered += block.frames; });
    return {};
  } catch (const SoundJumpError& e) {
    return e.what();
  }
}

}  // namespace

TEST(SoundDecoder, AWholeDecodeAndAReadingByPositionPlaceTheSameFootageAlike) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  const fs::path late = tmp.path() / "late.mp4";
  ASSERT_TRUE(test::retimed(sample, late, [](double t, bool sound) { return sound ? t + 0.5 : t; }));
  // Garbage over a stretch of a Matroska copy: packets that can't be read are skipped, and the
  // sound after them is read on in both.
  const fs::path damaged = tmp.path() / "damaged.mkv";
  ASSERT_TRUE(test::ffmpeg("-i " + quoted(sample) + " -c copy " + quoted(damaged)));
  {
    std::fstream bytes(damaged, std::ios::in | std::ios::out | std::ios::binary);
    bytes.seekp(static_cast<std::streamoff>(fs::file_size(damaged) / 2));
    bytes << std::string(20000, '\xff');
  }
  // Two channels not marked left and right (a recorder's second input taken for bass): kept as
  // they are, not mixed anew.
  const fs::path marked = tmp.path() / "marked.wav";
  ASSERT_TRUE(
      test::ffmpeg("-i " + quoted(sample) + " -af 'pan=FL+LFE|c0=c0|c1=0.5*c0' -c:a pcm_s16le " + quoted(marked)));
  for (const fs::path& footage :
       {withDropout(tmp.path() / "dropout.mp4", 10.0, 0.1), withDropout(tmp.path() / "dropout.mkv", 20.0, 2.0), late,
        joined(tmp.path() / "joined.mp4", 3, sample), damaged, marked}) {
    const Sound whole = decodedWhole(footage);
    const Sound read = readWhole(footage);
    EXPECT_EQ(whole.channels, read.channels) << footage;
    EXPECT_GT(whole.samples.size(), std::size_t{33 * 48000}) << footage;
    EXPECT_EQ(whole.samples.size(), read.samples.size()) << footage;
    EXPECT_TRUE(whole.samples == read.samples) << footage << " is placed otherwise when read by position";
  }
}

TEST(SoundDecoder, ThePacketsOfASoundTrackGiveTheCountedClockOfAWholeDecode) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  std::vector<fs::path> footage;
  for (const char* kind : {".mp4", ".mkv"}) {
    const std::string name = std::string("dropouts") + kind;
    // Dropouts anywhere: near the start, in the middle, two close together, near the end.
    ASSERT_TRUE(test::retimed(sample, tmp.path() / name, [](double t, bool sound) -> std::optional<double> {
      const bool lost = (t >= 0.5 && t < 0.55) || (t >= 12.0 && t < 14.0) || (t >= 20.0 && t < 20.3) ||
                        (t >= 20.5 && t < 21.0) || (t >= 32.0 && t < 32.2);
      if (sound && lost) return std::nullopt;
      return t;
    }));
    footage.push_back(tmp.path() / name);
    const std::string offset = std::string("offset") + kind;
    ASSERT_TRUE(test::retimed(sample, tmp.path() / offset, [](double t, bool sound) { return sound ? t + 2.0 : t; }));
    footage.push_back(tmp.path() / offset);
  }
  footage.push_back(joined(tmp.path() / "joined.mp4", 12, sample));
  footage.push_back(joined(tmp.path() / "joined dropouts.mkv", 11, tmp.path() / "dropouts.mkv"));
  // An encoder's priming the decoder trims from a frame (LAME's 1105 of MP3's 1152 samples): the
  // sound starts where the file says, with no step.
  const fs::path mp3 = tmp.path() / "voice.mp3";
  ASSERT_TRUE(test::ffmpeg("-i " + quoted(sample) + " -vn -c:a libmp3lame -b:a 64k " + quoted(mp3)));
  footage.push_back(mp3);
  for (const fs::path& path : footage) {
    const std::optional<CountedClock> counted = packetCountedClock(MediaFile::open(path), {});
    const CountedClock decoded = decodeAudio(MediaFile::open(path), [](const AudioBlock&) {}).countedClock;
    ASSERT_TRUE(counted) << path << " was not read from its packets";
    ASSERT_EQ(counted->steps.size(), decoded.steps.size()) << path;
    for (std::size_t i = 0; i < decoded.steps.size(); ++i) {
      EXPECT_EQ(counted->steps[i].counted, decoded.steps[i].counted) << path << " step " << i;
      EXPECT_EQ(counted->steps[i].offset, decoded.steps[i].offset) << path << " step " << i;
    }
    EXPECT_EQ(decoded.agrees(), path == mp3) << path;
  }
  // Sound whose packets don't say what the decoder gives (PCM, whose packets are no frame of a
  // fixed size) is decoded whole.
  const fs::path pcm = tmp.path() / "pcm.mkv";
  ASSERT_TRUE(test::ffmpeg("-i " + quoted(sample) + " -c:v copy -c:a pcm_s16le " + quoted(pcm)));
  EXPECT_FALSE(packetCountedClock(MediaFile::open(pcm), {}));
  EXPECT_TRUE(countedClock(MediaFile::open(pcm)).agrees());
}

TEST(SoundDecoder, SoundWhoseClockGoesBackIsDamageSaidWhereItIs) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  // Copies of a transport stream joined with cat: each starts its clock again.
  const fs::path ts = tmp.path() / "take.ts";
  ASSERT_TRUE(test::ffmpeg("-i " + quoted(sample) + " -c copy " + quoted(ts)));
  const fs::path twice = tmp.path() / "twice.ts";
  ASSERT_EQ(std::system(("cat " + quoted(ts) + " " + quoted(ts) + " > " + quoted(twice)).c_str()), 0);
  std::size_t delivered = 0;
  EXPECT_EQ(damage(twice, delivered), "its sound goes back from 0:33 to 0:00 — clips joined without re-timing?");
  // A Matroska cluster (0:14.7 to 0:19.3) pushed five seconds forward, then the sound after it
  // where it belongs.
  const fs::path pushed = pushedClusters(tmp.path() / "pushed.mkv", 10, 15, 5);
  EXPECT_EQ(damage(pushed, delivered), "its sound goes back from 0:24 to 0:19 — clips joined without re-timing?");
  // The same read by position, on through the cluster.
  AudioTrackReader reader(MediaFile::open(pushed));
  reader.setOutput(48000, 1);
  std::vector<float> samples(48000);
  float* planes[] = {samples.data()};
  const auto readOn = [&] {
    for (std::int64_t second = 0; second < 30; ++second) reader.read(second * 48000, 48000, planes);
  };
  EXPECT_THROW(readOn(), SoundJumpError);
}

TEST(SoundDecoder, AFileThatStatesNoLengthHoldsNoMoreThanItsPacketsHold) {
  test::TempDir tmp;
  const fs::path sample = test::sampleFootage();
  // Every track jumping eight minutes every tenth of a second: hours on its clock, 33 s held.
  const fs::path jumpy = tmp.path() / "jumpy.mkv";
  ASSERT_TRUE(test::retimed(sample, jumpy, [](double t, bool) { return t + std::floor(t / 0.1) * 480; }));
  piped(jumpy, tmp.path() / "jumpy piped.mkv");
  std::size_t delivered = 0;
  EXPECT_EQ(damage(tmp.path() / "jumpy piped.mkv", delivered),
            "its sound jumps from 0:00 to 8:00, past the 0:34 the file holds");
  EXPECT_LT(delivered, std::size_t{48000}) << "silence was made for the jump";

  // A dropout of two seconds in a recording streamed to disk is a dropout: the picture holds it.
  piped(withDropout(tmp.path() / "dropout.mkv", 20.0, 2.0), tmp.path() / "dropout piped.mkv");
  EXPECT_EQ(damage(tmp.path() / "dropout piped.mkv", delivered), "");
  EXPECT_NEAR(static_cast<double>(delivered) / 48000, 33.16, 0.05);
  // Sound alone holds what its packets hold, and a second more.
  const fs::path voice = tmp.path() / "voice.mka";
  ASSERT_TRUE(test::retimed(sample, voice, [](double t, bool sound) -> std::optional<double> {
    if (!sound) return std::nullopt;
    if (t >= 20.0 && t < 20.5) return std::nullopt;
    return t < 25 ? t : t + 0.8;
  }));
  piped(voice, tmp.path() / "voice piped.mka");
  EXPECT_EQ(damage(tmp.path() / "voice piped.mka", delivered),
            "its sound jumps from 0:25.0 to 0:25.8, past the 0:32.6 the file holds");
}

namespace {

// Runs `read` of a file with a long tail of zeros (a recorder that preallocated its file and
// crashed) and stops it once it is well into them: true when it then ends at once, Cancelled.
bool stopsInsideTheTail(const std::function<void(std::stop_token)>& read) {
  std::stop_source stop;
  std::exception_ptr ended;
  const std::uint64_t before = test::bytesRead();
  std::thread reading([&] {
    try {
      read(stop.get_token());
    } catch (...) {
      ended = std::current_exception();
    }
  });
  while (test::bytesRead() - before < (256u << 20)) std::this_thread::yield();
  const std::uint64_t atStop = test::bytesRead();
  stop.request_stop();
  reading.join();
  if (!ended) return false;
  try {
    std::rethrow_exception(ended);
  } catch (const Cancelled&) {
    return test::bytesRead() - atStop < (std::uint64_t{64} << 20);
  } catch (...) {
    return false;
  }
}

}  // namespace

TEST(SoundDecoder, EveryReadingStopsInsideALongTailOfZeros) {
  test::TempDir tmp;
  const fs::path footage = piped(test::sampleFootage(), tmp.path() / "talk.mkv");
  fs::resize_file(footage, fs::file_size(footage) + (std::uintmax_t{16} << 30));  // sparse: no disk is filled
  const auto file = MediaFile::open(footage.string());
  // The stretches a check hears at the sound's end, read on to where the track ends.
  EXPECT_TRUE(stopsInsideTheTail([&](std::stop_token stop) {
    AudioTrackReader reader(file, stop);
    reader.setOutput(48000, 1);
    std::vector<float> samples(48000);
    float* planes[] = {samples.data()};
    reader.read(33 * 48000, 48000, planes);
  }));
  EXPECT_TRUE(stopsInsideTheTail([&](std::stop_token stop) {
    decodeAudio(
        file, [](const AudioBlock&) {}, stop);
  }));
  EXPECT_TRUE(stopsInsideTheTail([&](std::stop_token stop) { countedClock(file, stop); }));
  EXPECT_TRUE(stopsInsideTheTail([&](std::stop_token stop) { heldLength(file, stop); }));
}
