#include "kestrane/export/MP4Renderer.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/pipeline/RoughCutHearing.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "pipeline/KillAtRename.hpp"
#include "kestrane/analysis/StoredLevels.hpp"
#include "support/NoisyFootage.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

// Recordings are made at test time by the ffmpeg tool. Every picture carries its frame number
// as twelve black-or-white blocks along the top, and the sound during frame n is a tone at
// 500 + 200 × (n mod 16) Hz, so each frame of a render tells which source frame it shows and
// which source frame its sound came from.
constexpr int bandBits = 12;
constexpr int blockWidth = 20;
constexpr int toneCodes = 16;

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

std::string capture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string out;
  std::array<char, 65536> chunk;
  while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) out.append(chunk.data(), n);
  return out;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path scratchFolder() {
  std::string name = (fs::temp_directory_path() / "kestrane-mp4-XXXXXX").string();
  if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp");
  return name;
}

struct Recording {
  std::string rate;  // ffmpeg rate text
  double fps;
  int sampleRate;
  double seconds;
  bool video = true;
  bool audio = true;
  std::string file;  // name with the container's extension
  std::string audioCodec = "aac";
};

fs::path make(const fs::path& folder, const Recording& r) {
  const fs::path out = folder / r.file;
  std::string band = "drawbox=x=0:y=0:w=iw:h=24:color=black:t=fill";
  for (int bit = 0; bit < bandBits; ++bit) {
    band += ",drawbox=x=" + std::to_string(bit * blockWidth) + ":y=0:w=" + std::to_string(blockWidth) +
            ":h=24:color=white:t=fill:enable='mod(floor(n/" + std::to_string(1 << bit) + "),2)'";
  }
  const std::string tone = "aevalsrc=exprs='0.5*sin(2*PI*(500+200*mod(floor(t*" + r.rate + "+0.000001)," +
                           std::to_string(toneCodes) + "))*t)':s=" + std::to_string(r.sampleRate) +
                           ":d=" + std::to_string(r.seconds);
  std::string command = "ffmpeg -v error -y";
  if (r.video) command += " -f lavfi -i " + shellQuote("testsrc2=size=320x240:rate=" + r.rate + "," + band);
  if (r.audio) command += " -f lavfi -i " + shellQuote(tone);
  command += " -t " + std::to_string(r.seconds);
  if (r.video) command += " -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p";
  if (r.audio) command += " -c:a " + r.audioCodec;
  run(command + " " + shellQuote(out.string()));
  return out;
}

SourceMedia sourceFor(const fs::path& path, const Recording& r, RationalTime frameDuration) {
  SourceMedia source;
  source.path = path.string();
  source.durationSeconds = r.seconds;
  source.frameDuration = frameDuration;
  source.width = 320;
  source.height = 240;
  source.hasVideo = r.video;
  source.audioSampleRate = r.sampleRate;
  return source;
}

CutList cutOf(std::initializer_list<std::pair<double, double>> kept, double total) {
  CutList list;
  double at = 0;
  for (const auto& [start, end] : kept) {
    if (start > at) list.segments.push_back({{at, start}, SegmentKind::silence, {}, {}});
    list.segments.push_back({{start, end}, SegmentKind::keep, {}, {}});
    at = end;
  }
  if (at < total) list.segments.push_back({{at, total}, SegmentKind::silence, {}, {}});
  return list;
}

// What the ffmpeg tool reads back from a render.
struct Playback {
  std::vector<int> frameNumbers;  // per picture, from the blocks
  std::vector<float> sound;       // mono
  std::string errors;             // anything the decoder complained about
  double containerSeconds = 0;
};

Playback play(const fs::path& movie, int sampleRate, bool video = true, bool audio = true) {
  Playback out;
  const fs::path errors = movie.string() + ".errors";
  const std::string input = " -i " + shellQuote(movie.string());
  if (video) {
    const std::string gray =
        capture("ffmpeg -v error" + input + " -map 0:v:0 -f rawvideo -pix_fmt gray - 2>" + shellQuote(errors.string()));
    out.errors += readText(errors);
    for (std::size_t frame = 0; (frame + 1) * 320 * 240 <= gray.size(); ++frame) {
      const char* row = gray.data() + frame * 320 * 240 + 12 * 320;
      int number = 0;
      for (int bit = 0; bit < bandBits; ++bit) {
        if (static_cast<unsigned char>(row[bit * blockWidth + blockWidth / 2]) > 128) number |= 1 << bit;
      }
      out.frameNumbers.push_back(number);
    }
  }
  if (audio) {
    const std::string pcm = capture("ffmpeg -v error" + input + " -map 0:a:0 -f f32le -ac 1 -ar " +
                                    std::to_string(sampleRate) + " - 2>" + shellQuote(errors.string()));
    out.errors += readText(errors);
    out.sound.resize(pcm.size() / sizeof(float));
    std::memcpy(out.sound.data(), pcm.data(), out.sound.size() * sizeof(float));
  }
  out.containerSeconds =
      std::stod(capture("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(movie.string())));
  return out;
}

// Which of the sixteen tones is loudest in sound[from, to).
int toneCode(const std::vector<float>& sound, std::size_t from, std::size_t to, int sampleRate) {
  int best = -1;
  double bestPower = 0;
  for (int code = 0; code < toneCodes; ++code) {
    const double w = 2 * M_PI * (500.0 + 200.0 * code) / sampleRate;
    double re = 0, im = 0;
    for (std::size_t i = from; i < to && i < sound.size(); ++i) {
      re += sound[i] * std::cos(w * static_cast<double>(i));
      im += sound[i] * std::sin(w * static_cast<double>(i));
    }
    if (re * re + im * im > bestPower) {
      bestPower = re * re + im * im;
      best = code;
    }
  }
  return best;
}

// The source frame numbers a render of `layout` shows, in order.
std::vector<int> expectedFrames(const FrameSnapping::Layout& layout) {
  std::vector<int> frames;
  for (const auto& piece : layout.pieces) {
    for (auto f = piece.sourceStartFrame; f < piece.sourceEndFrame; ++f) frames.push_back(static_cast<int>(f));
  }
  return frames;
}

// Renders `cut` and checks the movie frame by frame against the snapped layout: length, the
// pictures shown, and the sound at the start and end of every frame.
void checkRender(const SourceMedia& source, const CutList& cut, int sampleRate, const fs::path& movie) {
  MP4Renderer::render(MP4Renderer::openFootage(source), cut, movie);
  const MP4Renderer::Composition plan = MP4Renderer::composition(MP4Renderer::openFootage(source), cut);
  const FrameSnapping::Layout& layout = plan.layout;
  const Playback got = play(movie, sampleRate);
  EXPECT_EQ(got.errors, "");

  const double frameSeconds = layout.frameDuration.seconds();
  EXPECT_NEAR(got.containerSeconds, layout.totalSeconds(), frameSeconds);
  const std::vector<int> expected = expectedFrames(layout);
  ASSERT_EQ(got.frameNumbers.size(), expected.size());
  EXPECT_EQ(got.frameNumbers, expected);

  const double samplesPerFrame = frameSeconds * sampleRate;
  const auto expectedSamples = static_cast<std::size_t>(std::llround(layout.totalSeconds() * sampleRate));
  EXPECT_GE(got.sound.size() + 2, expectedSamples);
  EXPECT_LE(got.sound.size(), expectedSamples + 2048);

  // Windows of 12 ms just inside each end of the frame: sound shifted by a fifth of a frame
  // or more against the pictures puts the neighbouring frame's tone in one of them.
  const auto edge = static_cast<std::size_t>(0.002 * sampleRate);
  const auto window = static_cast<std::size_t>(0.012 * sampleRate);
  int mismatches = 0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const auto start = static_cast<std::size_t>(std::llround(static_cast<double>(k) * samplesPerFrame));
    const auto end = static_cast<std::size_t>(std::llround(static_cast<double>(k + 1) * samplesPerFrame));
    const int want = expected[k] % toneCodes;
    const int head = toneCode(got.sound, start + edge, start + edge + window, sampleRate);
    const int tail = toneCode(got.sound, end - edge - window, end - edge, sampleRate);
    if (head != want || tail != want) {
      ADD_FAILURE() << "frame " << k << " shows source frame " << expected[k] << " but sounds like codes " << head
                    << " / " << tail;
      if (++mismatches > 5) return;
    }
  }
}

class MP4RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { folder_ = new fs::path(scratchFolder()); }
  static void TearDownTestSuite() {
    fs::remove_all(*folder_);
    delete folder_;
  }
  static fs::path folder() { return *folder_; }
  static fs::path* folder_;
};
fs::path* MP4RendererTest::folder_ = nullptr;

}  // namespace

TEST_F(MP4RendererTest, RendersTheSnappedPiecesWithSoundInStepAtEveryJoin) {
  const Recording pal{"25", 25, 48000, 16, true, true, "pal.mp4"};
  const SourceMedia source = sourceFor(make(folder(), pal), pal, {1, 25});
  // From the first frame; joins between frame boundaries; short gaps decoded through; a gap
  // long enough to seek over; a keep that runs to the end of the footage.
  const CutList cut =
      cutOf({{0.0, 0.93}, {1.013, 1.5}, {1.51, 2.2}, {2.7, 3.345}, {8.1, 9.07}, {9.5, 10.0}, {14.42, 16.0}}, 16.0);
  checkRender(source, cut, 48000, folder() / "pal rough cut.mp4");
}

TEST_F(MP4RendererTest, KeepsNtscFramesAndUnevenSampleCountsInStep) {
  // 1471.47 samples a frame: no whole number of samples fits a frame, so any rounding that
  // accumulates shows up by the last piece.
  const Recording ntsc{"30000/1001", 30000.0 / 1001, 44100, 14, true, true, "ntsc.mov", "pcm_s16le"};
  const SourceMedia source = sourceFor(make(folder(), ntsc), ntsc, {1001, 30000});
  CutList cut;
  for (int i = 0; i < 12; ++i) {
    const double start = 0.3 + i * 1.1;
    cut.segments.push_back({{start, start + 0.71 + 0.013 * i}, SegmentKind::keep, {}, {}});
  }
  checkRender(source, cut, 44100, folder() / "ntsc rough cut.mp4");

  // Pieces out of source order make the readers seek back, and then far ahead.
  CutList backwards;
  backwards.segments = {{{9.0, 10.0}, SegmentKind::keep, {}, {}},
                        {{2.0, 3.0}, SegmentKind::keep, {}, {}},
                        {{0.0, 0.5}, SegmentKind::keep, {}, {}},
                        {{12.5, 13.0}, SegmentKind::keep, {}, {}}};
  checkRender(source, backwards, 44100, folder() / "ntsc backwards.mp4");
}

TEST_F(MP4RendererTest, CarriesOnlyTheTracksTheSourceHas) {
  const CutList cut = cutOf({{0.5, 1.5}, {2.02, 3.0}}, 4.0);
  const auto expectedFrames =
      MP4Renderer::composition(MP4Renderer::openFootage(sourceFor(
                                   make(folder(), {"25", 25, 48000, 4, true, true, "both.mp4"}), {}, {1, 25})),
                               cut)
          .layout.totalFrames;

  const Recording silent{"25", 25, 48000, 4, true, false, "silent.mp4"};
  const SourceMedia pictures = sourceFor(make(folder(), silent), silent, {1, 25});
  const auto picturesPlan = MP4Renderer::composition(MP4Renderer::openFootage(pictures), cut);
  EXPECT_TRUE(picturesPlan.hasVideo);
  EXPECT_FALSE(picturesPlan.hasAudio);
  MP4Renderer::render(MP4Renderer::openFootage(pictures), cut, folder() / "silent rough cut.mp4");
  const Playback seen = play(folder() / "silent rough cut.mp4", 48000, true, false);
  EXPECT_EQ(seen.errors, "");
  EXPECT_EQ(seen.frameNumbers.size(), static_cast<std::size_t>(expectedFrames));
  EXPECT_EQ(capture("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                    shellQuote((folder() / "silent rough cut.mp4").string())),
            "video\n");

  const Recording voice{"25", 25, 22050, 4, false, true, "voice.m4a"};
  const SourceMedia sound = sourceFor(make(folder(), voice), voice, {1, 25});
  const auto soundPlan = MP4Renderer::composition(MP4Renderer::openFootage(sound), cut);
  EXPECT_FALSE(soundPlan.hasVideo);
  EXPECT_TRUE(soundPlan.hasAudio);
  MP4Renderer::render(MP4Renderer::openFootage(sound), cut, folder() / "voice rough cut.mp4");
  const Playback heard = play(folder() / "voice rough cut.mp4", 22050, false, true);
  EXPECT_EQ(heard.errors, "");
  EXPECT_NEAR(heard.containerSeconds, soundPlan.layout.totalSeconds(), 0.04);
  // Sound still follows the grid: the first frame of the second piece is source frame 50.
  const std::size_t secondPiece = static_cast<std::size_t>(soundPlan.layout.pieces[1].cutStartFrame) * 22050 / 25;
  EXPECT_EQ(toneCode(heard.sound, secondPiece + 44, secondPiece + 44 + 264, 22050), 50 % toneCodes);
  EXPECT_EQ(capture("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                    shellQuote((folder() / "voice rough cut.mp4").string())),
            "audio\n");
}

TEST_F(MP4RendererTest, AFailedOrCancelledRenderLeavesTheEarlierFileAndNoPartialOne) {
  const Recording clip{"25", 25, 48000, 6, true, true, "clip.mp4"};
  const SourceMedia source = sourceFor(make(folder(), clip), clip, {1, 25});
  const fs::path package = folder() / "Clip Kestrane.kestrane";
  fs::create_directories(package);
  const fs::path movie = package / "clip rough cut.mp4";
  const auto earlier = [&] { std::ofstream(movie, std::ios::binary) << "earlier rough cut"; };
  const auto untouched = [&] {
    EXPECT_EQ(readText(movie), "earlier rough cut");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(package)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"clip rough cut.mp4"});
  };
  const CutList cut = cutOf({{0.4, 2.0}, {3.0, 5.5}}, 6.0);

  // Cancelled part way: the progress callback asks to stop.
  earlier();
  std::stop_source stopper;
  std::vector<double> fractions;
  EXPECT_THROW(MP4Renderer::render(
                   MP4Renderer::openFootage(source), cut, movie,
                   [&](double f) {
                     fractions.push_back(f);
                     if (f > 0.3) stopper.request_stop();
                   },
                   stopper.get_token()),
               Cancelled);
  EXPECT_FALSE(fractions.empty());
  EXPECT_LT(fractions.back(), 1.0);
  untouched();

  // Nothing kept: refused before the source is even opened.
  CutList removed;
  removed.segments = {{{0.0, 6.0}, SegmentKind::silence, {}, {}}};
  SourceMedia missing = source;
  missing.path = (folder() / "no such file.mov").string();
  try {
    MP4Renderer::render(MP4Renderer::Footage{missing, nullptr}, removed, movie);
    ADD_FAILURE() << "rendered an empty cut";
  } catch (const MP4Renderer::RenderError& error) {
    EXPECT_EQ(error.kind(), MP4Renderer::RenderError::Kind::nothingToRender);
    EXPECT_STREQ(error.what(), "Cut list has no kept segments");
  }
  untouched();

  // A source that is not media.
  try {
    MP4Renderer::render(MP4Renderer::openFootage(sourceFor(package / "clip rough cut.mp4", clip, {1, 25})), cut, movie);
    ADD_FAILURE() << "rendered from a text file";
  } catch (const MP4Renderer::RenderError& error) {
    EXPECT_EQ(error.kind(), MP4Renderer::RenderError::Kind::compositionFailed);
    EXPECT_EQ(std::string(error.what()).rfind("Couldn't assemble rough cut: ", 0), 0u) << error.what();
  }
  untouched();

  // A folder that can't be written to.
  EXPECT_THROW(MP4Renderer::render(MP4Renderer::openFootage(source), cut, folder() / "gone" / "clip rough cut.mp4"),
               MP4Renderer::RenderError);

  // A finished render replaces the earlier file, reporting rising fractions and 1.0 once.
  fractions.clear();
  MP4Renderer::render(MP4Renderer::openFootage(source), cut, movie, [&](double f) { fractions.push_back(f); });
  ASSERT_GE(fractions.size(), 3u);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_EQ(fractions.back(), 1.0);
  EXPECT_EQ(std::count(fractions.begin(), fractions.end(), 1.0), 1);
  EXPECT_EQ(
      play(movie, 48000).frameNumbers.size(),
      static_cast<std::size_t>(MP4Renderer::composition(MP4Renderer::openFootage(source), cut).layout.totalFrames));

  // Made private while it is written, the movie ends with the mode the umask gives a new file.
  for (const mode_t mask : {mode_t{022}, mode_t{027}}) {
    const mode_t was = ::umask(mask);
    MP4Renderer::render(MP4Renderer::openFootage(source), cut, movie);
    ::umask(was);
    EXPECT_EQ(static_cast<unsigned>(fs::status(movie).permissions() & fs::perms::mask), 0666u & ~mask);
  }
}

// The render never finishes over footage that isn't all there: footage already cut off where a
// kept piece lies, footage cut short in place or written to while it renders fails, naming the
// footage and where it stopped, with the earlier movie kept; another file renamed over the
// footage's path meanwhile is never read, as the footage is held open.
TEST_F(MP4RendererTest, RendersOnlyFootageThatIsAllThere) {
  const Recording clip{"25", 25, 48000, 8, true, true, "all there.mp4"};
  const fs::path whole = make(folder(), clip);
  const fs::path footage = folder() / "footage.mp4";
  // The index first, as a camera writes it, so a copy cut off partway still opens.
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -c copy -movflags +faststart " +
      shellQuote(footage.string()));
  const SourceMedia source = sourceFor(footage, clip, {1, 25});
  const fs::path package = folder() / "All There Kestrane.kestrane";
  fs::create_directories(package);
  const fs::path movie = package / "footage rough cut.mp4";
  std::ofstream(movie, std::ios::binary) << "earlier rough cut";
  const auto untouched = [&] {
    EXPECT_EQ(readText(movie), "earlier rough cut");
    EXPECT_EQ(std::distance(fs::directory_iterator(package), fs::directory_iterator()), 1);
  };
  const CutList cut = cutOf({{0.5, 2.0}, {5.0, 7.5}}, 8.0);
  const auto failure = [&](const std::function<void(double)>& whileRendering) {
    try {
      MP4Renderer::render(MP4Renderer::openFootage(source), cut, movie, whileRendering);
    } catch (const MP4Renderer::RenderError& error) {
      EXPECT_EQ(error.kind(), MP4Renderer::RenderError::Kind::exportFailed);
      return std::string(error.what());
    }
    return std::string("rendered");
  };
  const std::string stopsAt = "Export failed: the footage " + footage.string() + " stops at ";

  const std::uintmax_t size = fs::file_size(footage);
  fs::resize_file(footage, size / 2);
  EXPECT_TRUE(failure({}).starts_with(stopsAt + "0:0")) << failure({});
  EXPECT_NE(failure({}).find(", but the cut uses it at 0:05"), std::string::npos) << failure({});
  untouched();

  const auto restore = [&] { fs::copy_file(whole, footage, fs::copy_options::overwrite_existing); };
  const auto once = [](const std::function<void()>& act) {
    return [act, done = std::make_shared<bool>(false)](double fraction) {
      if (fraction > 0.1 && !*done) {
        *done = true;
        act();
      }
    };
  };
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -c copy -movflags +faststart " +
      shellQuote(footage.string()));
  EXPECT_TRUE(failure(once([&] { fs::resize_file(footage, size / 3); })).starts_with(stopsAt)) << "cut short";
  untouched();

  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -c copy -movflags +faststart " +
      shellQuote(footage.string()));
  // The same bytes written back over themselves: nothing can say they are still the footage's.
  const auto rewrite = [&] {
    const std::string bytes = readText(footage);
    std::fstream(footage, std::ios::binary | std::ios::in | std::ios::out).write(bytes.data(), 4096);
  };
  EXPECT_EQ(failure(once(rewrite)),
            "Export failed: the footage " + footage.string() + " was written to while the cut was made from it");
  untouched();

  // Another recording renamed over the path as the render goes: the movie is the footage's.
  const fs::path other = folder() / "other.mp4";
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -vf negate -c:v libx264 -preset ultrafast -c:a copy " +
      shellQuote(other.string()));
  EXPECT_EQ(failure(once([&] { fs::rename(other, footage); })), "rendered");
  const FrameSnapping::Layout layout =
      MP4Renderer::composition(MP4Renderer::openFootage(sourceFor(whole, clip, {1, 25})), cut).layout;
  EXPECT_EQ(play(movie, 48000).frameNumbers, expectedFrames(layout));
  restore();
}

// Sound-only footage is held to its sound as footage with a picture is: a WAV copy cut off
// before the render, and an M4A cut short in place while it renders, fail where the cut needs
// what is no longer there.
TEST_F(MP4RendererTest, SoundOnlyFootageThatRunsOutFails) {
  const Recording voice{"25", 25, 48000, 8, false, true, "voice only.m4a"};
  const fs::path whole = make(folder(), voice);
  const CutList cut = cutOf({{0.5, 2.0}, {5.0, 7.5}}, 8.0);
  const auto failure = [&](const fs::path& footage, const std::function<void(double)>& whileRendering) {
    try {
      MP4Renderer::render(MP4Renderer::openFootage(sourceFor(footage, voice, {1, 25})), cut,
                          folder() / "voice only rough cut.mp4", whileRendering);
    } catch (const MP4Renderer::RenderError& error) {
      return std::string(error.what());
    }
    return std::string("rendered");
  };

  const fs::path wav = folder() / "voice only.wav";
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -c:a pcm_s16le " + shellQuote(wav.string()));
  fs::resize_file(wav, fs::file_size(wav) / 2);
  EXPECT_TRUE(failure(wav, {}).starts_with("Export failed: the footage " + wav.string() + " stops at 0:0"))
      << failure(wav, {});

  const fs::path m4a = folder() / "voice only copy.m4a";
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -c copy -movflags +faststart " +
      shellQuote(m4a.string()));
  bool cutShort = false;
  const std::string ranOut = failure(m4a, [&](double fraction) {
    if (fraction > 0.1 && !cutShort) fs::resize_file(m4a, fs::file_size(m4a) / 3);
    cutShort = cutShort || fraction > 0.1;
  });
  EXPECT_TRUE(ranOut.starts_with("Export failed: the footage " + m4a.string() + " stops at 0:0")) << ranOut;
}

#if defined(__x86_64__)
// A drive that starts failing partway through the footage fails the render at once, saying the
// footage can't be read and where, and the earlier movie stays: a read error is never taken for
// the end of a track, which would leave the rest of the movie frozen and silent.
TEST_F(MP4RendererTest, AReadErrorPartwayFailsTheRender) {
  const Recording clip{"25", 25, 48000, 8, true, true, "failing drive.mp4"};
  const fs::path footage = folder() / "failing drive faststart.mp4";
  run("ffmpeg -v error -y -i " + shellQuote(make(folder(), clip).string()) + " -c copy -movflags +faststart " +
      shellQuote(footage.string()));
  const fs::path package = folder() / "Failing Kestrane.kestrane";
  fs::create_directories(package);
  const fs::path movie = package / "failing rough cut.mp4";
  std::ofstream(movie, std::ios::binary) << "earlier rough cut";
  const fs::path said = folder() / "failing drive.txt";
  const MP4Renderer::Footage held = MP4Renderer::openFootage(sourceFor(footage, clip, {1, 25}));
  const auto half = static_cast<std::uint32_t>(fs::file_size(footage) / 2);

  const int ended = test::inChild([&] {
    // From now on every read of the held footage past its middle fails as a failing drive's does.
    if (!test::withFailingReads(held.file->fd(), half)) ::_exit(3);
    std::string failure = "rendered";
    try {
      MP4Renderer::render(held, cutOf({{0.5, 2.0}, {3.0, 7.5}}, 8.0), movie);
    } catch (const MP4Renderer::RenderError& error) {
      failure = error.what();
    }
    std::ofstream(said) << failure;
    ::_exit(0);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't filter system calls here";
  const std::string failure = readText(said);
  EXPECT_TRUE(failure.starts_with("Export failed: the footage " + footage.string() + " can't be read at 0:0"))
      << failure;
  EXPECT_NE(failure.find("Input/output error"), std::string::npos) << failure;
  EXPECT_EQ(readText(movie), "earlier rough cut");
  EXPECT_EQ(std::distance(fs::directory_iterator(package), fs::directory_iterator()), 1);
}
#endif

namespace {

// The sample presenter read by a flite voice (its false start, retake and long pauses over a
// quiet room, AAC sound, the index first), with the levels a first cut stores of it. Made once
// per voice.
struct SpokenFootage {
  fs::path path;
  SourceMedia media;
  LevelData levels;
};

// What a first cut stores of the footage at `path`.
SpokenFootage firstCutOf(const fs::path& path) {
  return {path, MediaProbe::probe(MediaProbe::held(path.string())),
          AudioAnalyzer::storedLevels(AudioAnalyzer::measureLevels(MediaProbe::held(path.string())))};
}

SpokenFootage speak(const fs::path& folder, const std::string& voice) {
  const fs::path path = folder / (voice + ".mp4");
  if (!fs::exists(path))
    run("KESTRANE_SAMPLE_VOICE=" + voice + " " KESTRANE_SOURCE_DIR "/fixtures/make-sample.sh " +
        shellQuote(path.string()) + " >/dev/null");
  return firstCutOf(path);
}

// `voice` (a flite voice, or "festival") reading script `script` of fixtures/make-reading.sh, with
// false starts, retakes and chatter between takes off the microphone. Made once per reading.
SpokenFootage read(const fs::path& folder, const std::string& voice, int script) {
  const fs::path path = folder / (voice + " reading " + std::to_string(script) + ".mp4");
  if (!fs::exists(path))
    run(KESTRANE_SOURCE_DIR "/fixtures/make-reading.sh " + voice + " " + std::to_string(script) + " " +
        shellQuote(path.string()) + " >/dev/null 2>&1");
  return firstCutOf(path);
}

// `spoken` with the file at `path` in its place: what a re-cut renders once the file there is
// proven the footage.
MP4Renderer::Footage footageAt(const SpokenFootage& spoken, const fs::path& path) {
  SourceMedia media = spoken.media;
  media.path = path.string();
  return MP4Renderer::openFootage(media, Pipeline::roughCutHearing(spoken.levels));
}

// Pieces of a second, and now and then of a third of one, a little apart: the whole length is
// heard.
CutList decidedPieces(double seconds) {
  CutList cut;
  double at = 0.3;
  for (int i = 0; at + 1.0 < seconds; ++i) {
    const double kept = i % 3 == 2 ? 0.3 : 1.0;
    cut.segments.push_back({{at, at + kept}, SegmentKind::keep, {}, {}});
    at += kept + 0.4;
  }
  return cut;
}

// The time the sentence "… at m:ss doesn't sound like …" names, in seconds; -1 for another.
int namedSecond(const std::string& sentence) {
  std::smatch at;
  if (!std::regex_search(sentence, at, std::regex(" at (\\d+):(\\d\\d) doesn't sound like "))) return -1;
  return std::stoi(at[1]) * 60 + std::stoi(at[2]);
}

// The byte offset of the first sound packet at or after `seconds`.
std::uintmax_t soundBytesAt(const fs::path& file, double seconds) {
  std::istringstream packets(capture(
      "ffprobe -v error -select_streams a -show_entries packet=pts_time,pos -of csv=p=0 " + shellQuote(file.string())));
  std::string line;
  double time = 0;
  std::uintmax_t position = 0;
  while (std::getline(packets, line)) {
    if (std::sscanf(line.c_str(), "%lf,%ju", &time, &position) == 2 && time >= seconds) return position;
  }
  return fs::file_size(file);
}

}  // namespace

// The sound of every kept piece is held against the levels the cut was made from: footage with a
// stretch of zeroed bytes, as a download stopped partway leaves it, or with another voice spliced
// into its sound, fails where it no longer sounds as it did, naming the footage and the time,
// and the earlier movie stays. The footage itself renders.
TEST_F(MP4RendererTest, HearsEveryKeptPieceAgainstTheStoredLevels) {
  const fs::path package = folder() / "Heard Kestrane.kestrane";
  fs::create_directories(package);
  const fs::path movie = package / "heard rough cut.mp4";
  for (const auto& [voice, other] : {std::pair{"rms", "slt"}, std::pair{"kal", "awb"}}) {
    SCOPED_TRACE(voice);
    const SpokenFootage spoken = speak(folder(), voice);
    const SpokenFootage intruder = speak(folder(), other);
    const CutList cut = decidedPieces(spoken.media.durationSeconds);
    std::ofstream(movie, std::ios::binary) << "earlier rough cut";
    const auto failure = [&](const fs::path& footage) {
      try {
        MP4Renderer::render(footageAt(spoken, footage), cut, movie);
      } catch (const MP4Renderer::RenderError& error) {
        EXPECT_EQ(error.kind(), MP4Renderer::RenderError::Kind::exportFailed);
        EXPECT_EQ(readText(movie), "earlier rough cut");
        EXPECT_EQ(std::distance(fs::directory_iterator(package), fs::directory_iterator()), 1);
        return std::string(error.what());
      }
      return std::string("rendered");
    };

    // Zeros over the bytes of the sound from 4 s to 7 s.
    const fs::path holed = folder() / (std::string(voice) + " holed.mp4");
    fs::copy_file(spoken.path, holed, fs::copy_options::overwrite_existing);
    const std::uintmax_t from = soundBytesAt(holed, 4.0), to = soundBytesAt(holed, 7.0);
    run("dd if=/dev/zero of=" + shellQuote(holed.string()) + " bs=1 seek=" + std::to_string(from) +
        " count=" + std::to_string(to - from) + " conv=notrunc status=none");
    const std::string hole = failure(holed);
    EXPECT_TRUE(hole.starts_with("Export failed: the footage " + holed.string() + " at ")) << hole;
    EXPECT_GE(namedSecond(hole), 4) << hole;
    EXPECT_LE(namedSecond(hole), 7) << hole;

    // Another voice's sound from 6 s to 9 s.
    const fs::path spliced = folder() / (std::string(voice) + " spliced.mp4");
    run("ffmpeg -v error -y -i " + shellQuote(spoken.path.string()) + " -i " + shellQuote(intruder.path.string()) +
        " -filter_complex '[0:a]atrim=0:6,asetpts=PTS-STARTPTS[a];[1:a]atrim=6:9,asetpts=PTS-STARTPTS[b];"
        "[0:a]atrim=start=9,asetpts=PTS-STARTPTS[c];[a][b][c]concat=n=3:v=0:a=1[s]' -map 0:v -map '[s]' -c:v copy "
        "-c:a aac -movflags +faststart " +
        shellQuote(spliced.string()));
    const std::string splice = failure(spliced);
    EXPECT_TRUE(splice.starts_with("Export failed: the footage " + spliced.string() + " at ")) << splice;
    EXPECT_GE(namedSecond(splice), 5) << splice;
    EXPECT_LE(namedSecond(splice), 9) << splice;

    EXPECT_EQ(failure(spoken.path), "rendered");
  }
}

// Where a fifth of a second lies wholly in loud speech inside a kept piece of `cut`, after 3 s.
double loudKeptSpeech(const CutList& cut, const LevelData& levels) {
  const std::vector<float> dbfs = levels.levelsDBFS();
  const float loudest = *std::max_element(dbfs.begin(), dbfs.end());
  const auto hops = static_cast<std::size_t>(0.2 / levels.hopDuration);
  for (const Segment& kept : cut.keptSegments()) {
    for (double at = std::max(kept.range.start, 3.0) + 0.1; at + 0.3 < kept.range.end; at += levels.hopDuration) {
      const auto first = static_cast<std::size_t>(at / levels.hopDuration);
      if (first + hops < dbfs.size() &&
          std::all_of(dbfs.begin() + first, dbfs.begin() + first + hops, [&](float l) { return l > loudest - 12; }))
        return at;
    }
  }
  return -1;
}

// Zeros written over a tenth of a second of loud kept speech in a copy whose sound is stored as
// plain samples (a hole, as a failing copy leaves it, that decodes without a complaint and is too
// short to change how the seconds around it are shaped) fail where the hole is.
TEST_F(MP4RendererTest, AHoleInKeptSpeechFailsWhereItIs) {
  const SpokenFootage spoken = speak(folder(), "kal");
  const CutList cut = decidedPieces(spoken.media.durationSeconds);
  const double at = loudKeptSpeech(cut, spoken.levels);
  ASSERT_GT(at, 0) << "no loud speech kept";
  const fs::path holed = folder() / "kal holed.wav";
  run("ffmpeg -v error -y -i " + shellQuote(spoken.path.string()) + " -vn -ac 1 -c:a pcm_s16le " +
      shellQuote(holed.string()));
  const std::string bytes = readText(holed);
  const std::size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  const int rate = static_cast<int>(spoken.media.audioSampleRate);
  const std::size_t from = data + 8 + static_cast<std::size_t>(at * rate) * 2;
  const std::size_t length = static_cast<std::size_t>(0.1 * rate) * 2;
  run("dd if=/dev/zero of=" + shellQuote(holed.string()) + " bs=1 seek=" + std::to_string(from) +
      " count=" + std::to_string(length) + " conv=notrunc status=none");
  try {
    MP4Renderer::render(footageAt(spoken, holed), cut, folder() / "holed rough cut.mp4");
    ADD_FAILURE() << "rendered kept speech with a hole at " << at;
  } catch (const MP4Renderer::RenderError& error) {
    const std::string hole = error.what();
    EXPECT_TRUE(hole.starts_with("Export failed: the footage " + holed.string() + " at ")) << hole;
    EXPECT_NEAR(namedSecond(hole), at, 1.0) << hole;
  }
}

// Footage under steady noise a few dB below the voice, whose loudness is too even to hear by, is
// heard by its speech band's levels, which its first cut stores: it and a 24 kb/s copy of it
// render, and another voice spliced in under the very same noise fails where it lies.
TEST_F(MP4RendererTest, HearsNoisyFootageByItsSpeechBand) {
  const SpokenFootage clean = speak(folder(), "rms"), other = speak(folder(), "slt");
  for (const auto& [colour, below] : {std::pair{"white", 4.0}, std::pair{"brown", 6.0}, std::pair{"pink", 2.0}}) {
    SCOPED_TRACE(colour);
    const fs::path noisy = folder() / (std::string(colour) + " noisy.mp4");
    const fs::path intruder = folder() / (std::string(colour) + " intruder.mp4");
    ASSERT_TRUE(test::underNoise(clean.path, colour, below, 7, noisy));
    ASSERT_TRUE(test::underNoise(other.path, colour, below, 7, intruder));
    const SpokenFootage spoken = firstCutOf(noisy);
    ASSERT_FALSE(spoken.levels.speechBase64.empty());
    const CutList cut = decidedPieces(spoken.media.durationSeconds);
    const fs::path movie = folder() / "noisy rough cut.mp4";
    EXPECT_NO_THROW(MP4Renderer::render(footageAt(spoken, noisy), cut, movie));
    const fs::path copy = folder() / (std::string(colour) + " noisy aac24.mp4");
    run("ffmpeg -v error -y -i " + shellQuote(noisy.string()) + " -c:v copy -c:a aac -b:a 24k " +
        shellQuote(copy.string()));
    EXPECT_NO_THROW(MP4Renderer::render(footageAt(spoken, copy), cut, movie));

    const fs::path spliced = folder() / (std::string(colour) + " spliced.mp4");
    run("ffmpeg -v error -y -i " + shellQuote(noisy.string()) + " -i " + shellQuote(intruder.string()) +
        " -filter_complex '[0:a]atrim=0:12,asetpts=PTS-STARTPTS[a];[1:a]atrim=12:15,asetpts=PTS-STARTPTS[b];"
        "[0:a]atrim=start=15,asetpts=PTS-STARTPTS[c];[a][b][c]concat=n=3:v=0:a=1[s]' -map 0:v -map '[s]' -c:v copy "
        "-c:a aac -movflags +faststart " +
        shellQuote(spliced.string()));
    try {
      MP4Renderer::render(footageAt(spoken, spliced), cut, movie);
      ADD_FAILURE() << "another voice spliced in rendered";
    } catch (const MP4Renderer::RenderError& error) {
      const std::string said = error.what();
      EXPECT_TRUE(said.starts_with("Export failed: the footage " + spliced.string() + " at ")) << said;
      EXPECT_GE(namedSecond(said), 11) << said;
      EXPECT_LE(namedSecond(said), 15) << said;
    }
  }
}

// What changes the bytes but not the sound renders: another container, a re-encode to a small
// AAC, Opus or MP3 (down to 24 and 16 kb/s), a louder, quieter or hard-compressed copy, and sound
// an encoder put 2048 samples later, in pieces as long and as short as a decided cut's, in several
// voices and readings with chatter between takes: one footage a case, so they are heard side by side.
class RendersCopies : public MP4RendererTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RendersCopies, ThatSoundAsTheFootageDid) {
  // A flite voice reading the sample, or a voice and a reading of fixtures/make-reading.sh.
  const std::string footage = GetParam();
  const std::size_t space = footage.find(' ');
  const SpokenFootage spoken = space == std::string::npos
                                   ? speak(folder(), footage)
                                   : read(folder(), footage.substr(0, space), std::stoi(footage.substr(space + 1)));
  const std::string voice = spoken.path.stem().string();
  // Of the readings, the copies that squeeze or thin their sound most.
  const bool reading = voice.find("reading") != std::string::npos;
  const CutList cut = decidedPieces(spoken.media.durationSeconds);
  const std::string samples =
      capture("ffprobe -v error -select_streams a -show_entries stream=duration_ts -of csv=p=0 " +
              shellQuote(spoken.path.string()));
  const std::pair<std::string, std::string> copies[] = {
      {"remux.mkv", "-c copy"},
      {"aac32.mp4", "-c:v copy -c:a aac -b:a 32k"},
      {"aac24.mp4", "-c:v copy -c:a aac -b:a 24k"},
      {"opus.mkv", "-c:v copy -c:a libopus -b:a 24k"},
      {"opus16.mkv", "-c:v copy -c:a libopus -b:a 16k"},
      {"mp3.mp4", "-c:v copy -c:a libmp3lame -b:a 64k"},
      {"louder.mp4", "-c:v copy -af volume=8dB -c:a aac"},
      {"quieter.mp4", "-c:v copy -af volume=-15dB -c:a aac"},
      {"squeezed.mp4", "-c:v copy -af acompressor=threshold=-45dB:ratio=20:makeup=18 -c:a aac"},
      {"squeezed hard.mp4", "-c:v copy -af acompressor=threshold=-50dB:ratio=20:makeup=20 -c:a aac -b:a 24k"},
      {"later.mp4",
       "-c:v copy -af adelay=2048S:all=1,atrim=end_sample=" + samples.substr(0, samples.find('\n')) + " -c:a aac"},
  };
  for (const auto& [name, arguments] : copies) {
    if (reading && !name.starts_with("squeezed") && name != "aac24.mp4" && name != "opus16.mkv") continue;
    const fs::path copy = folder() / (voice + " " + name);
    run("ffmpeg -v error -y -i " + shellQuote(spoken.path.string()) + " " + arguments + " " +
        shellQuote(copy.string()));
    try {
      MP4Renderer::render(footageAt(spoken, copy), cut, folder() / "copy rough cut.mp4");
    } catch (const MP4Renderer::RenderError& error) {
      ADD_FAILURE() << name << ": " << error.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(MP4RendererTest, RendersCopies, ::testing::Values("slt", "awb", "kal", "festival 2", "rms 3"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// Footage whose sound starts half a second after its picture, heard against its own levels as its
// first cut renders it.
TEST_F(MP4RendererTest, RendersSoundThatStartsAfterItsPicture) {
  const fs::path late = folder() / "late.mp4";
  run("ffmpeg -v error -y -i " + shellQuote(speak(folder(), "slt").path.string()) + " -itsoffset 0.5 -i " +
      shellQuote(speak(folder(), "slt").path.string()) + " -map 0:v -map 1:a -c copy " + shellQuote(late.string()));
  const SourceMedia media = MediaProbe::probe(MediaProbe::held(late.string()));
  const AudioAnalyzer::LevelTrack levels = AudioAnalyzer::measureLevels(MediaProbe::held(late.string()));
  EXPECT_NO_THROW(MP4Renderer::render(MP4Renderer::openFootage(media, Pipeline::roughCutHearing(LevelData::fromLevels(
                                                                          levels.hopDuration, levels.levelsDBFS))),
                                      decidedPieces(media.durationSeconds), folder() / "late rough cut.mp4"));
}

// The picture has to reach where the cut measured that it ends, wherever its own track now says
// it ends: a copy whose picture stopped seconds early since fails rather than freeze, saying when.
// Sound recorded apart that runs on past the picture renders with the last picture held, as does
// the same footage in a session that stored no picture's end, where the file's own account of it
// stands in. Tracks of a whole recording that end a few tenths of a second apart, in Matroska that
// states no length per track, render to the end as they always did. Two times in one second are
// told apart by their decimals.
TEST_F(MP4RendererTest, ThePictureReachesWhereTheCutMeasuredItEnds) {
  const Recording clip{"25", 25, 48000, 10, true, true, "ten.mp4"};
  const fs::path whole = make(folder(), clip);
  const CutList toTheEnd = cutOf({{1.0, 3.0}, {5.0, 10.0}}, 10.0);

  const fs::path stopped = folder() / "stopped.mp4";
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -t 6 -i " + shellQuote(whole.string()) +
      " -map 1:v -map 0:a -c copy " + shellQuote(stopped.string()));
  SourceMedia measured = sourceFor(stopped, clip, {1, 25});
  measured.pictureEndSeconds = 10.0;
  try {
    MP4Renderer::render(MP4Renderer::openFootage(measured), toTheEnd, folder() / "stopped rough cut.mp4");
    ADD_FAILURE() << "rendered a picture that stops at 0:06 to 0:10";
  } catch (const MP4Renderer::RenderError& error) {
    EXPECT_TRUE(
        std::string(error.what()).starts_with("Export failed: the footage " + stopped.string() + " stops at 0:06"))
        << error.what();
  }

  // The sound muxed two seconds after the picture: it ends at 0:12, the picture at 0:10.
  const fs::path late = folder() / "late sound.mp4";
  run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " -itsoffset 2 -i " + shellQuote(whole.string()) +
      " -map 0:v -map 1:a -c copy " + shellQuote(late.string()));
  SourceMedia lateSound = MediaProbe::probe(MediaProbe::held(late.string()));
  ASSERT_GT(lateSound.durationSeconds, 11.9);
  ASSERT_TRUE(lateSound.pictureEndSeconds);
  EXPECT_NEAR(*lateSound.pictureEndSeconds, 10.0, 0.05);
  const CutList pastThePicture = cutOf({{1.0, 3.0}, {8.0, lateSound.durationSeconds}}, lateSound.durationSeconds);
  for (const bool stored : {true, false}) {
    SCOPED_TRACE(stored ? "the picture's end stored" : "a session that stored none");
    if (!stored) lateSound.pictureEndSeconds.reset();
    const fs::path movie = folder() / "late sound rough cut.mp4";
    ASSERT_NO_THROW(MP4Renderer::render(MP4Renderer::openFootage(lateSound), pastThePicture, movie));
    const FrameSnapping::Layout layout =
        MP4Renderer::composition(MP4Renderer::openFootage(lateSound), pastThePicture).layout;
    std::vector<int> held = expectedFrames(layout);
    for (int& frame : held) frame = std::min(frame, 249);
    EXPECT_EQ(play(movie, 48000).frameNumbers, held);
  }

  // The per-track lengths the muxer wrote renamed away, as a recorder that writes none leaves them.
  const auto unstated = [&](const std::string& name, const std::string& arguments) {
    const fs::path mkv = folder() / name;
    run("ffmpeg -v error -y -i " + shellQuote(whole.string()) + " " + arguments + " " + shellQuote(mkv.string()) +
        " && sed -i s/DURATION/DURATIXN/g " + shellQuote(mkv.string()));
    return mkv;
  };
  for (const fs::path& apart :
       {unstated("sound short.mkv", "-c:v copy -c:a aac -af atrim=end=9.85"),
        unstated("picture short.mkv", "-c:a copy -c:v libx264 -preset ultrafast -vf trim=end=9.8")}) {
    SCOPED_TRACE(apart.filename().string());
    const SourceMedia source = MediaProbe::probe(MediaProbe::held(apart.string()));
    const fs::path movie = folder() / "apart rough cut.mp4";
    EXPECT_NO_THROW(MP4Renderer::render(MP4Renderer::openFootage(source), toTheEnd, movie));
    EXPECT_EQ(play(movie, 48000).frameNumbers.size(),
              static_cast<std::size_t>(
                  MP4Renderer::composition(MP4Renderer::openFootage(source), toTheEnd).layout.totalFrames));
  }

  EXPECT_EQ(std::string(MP4Renderer::RenderError::footageRanOut("f.mkv", 29.95, 29.99).what()),
            "Export failed: the footage f.mkv stops at 0:29.95, but the cut uses it at 0:29.99 — no rough cut was made "
            "of footage that isn't all there");
}
