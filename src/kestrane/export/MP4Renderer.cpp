#include "kestrane/export/MP4Renderer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "kestrane/analysis/LevelHearing.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/platform/AudioTrackReader.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/MovieWriter.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/platform/TrackReading.hpp"
#include "kestrane/platform/VideoTrackReader.hpp"

namespace kestrane::MP4Renderer {

RenderError RenderError::compositionFailed(const std::string& detail) {
  return {Kind::compositionFailed, "Couldn't assemble rough cut: " + detail};
}

RenderError RenderError::exportFailed(const std::string& detail) {
  return {Kind::exportFailed, "Export failed: " + detail};
}

RenderError RenderError::nothingToRender() { return {Kind::nothingToRender, "Cut list has no kept segments"}; }

RenderError RenderError::footageRanOut(const std::string& path, double stopped, double needed) {
  const int decimals = decimalsToTell(stopped, needed);
  return exportFailed(
      fmt::format("the footage {} stops at {}, but the cut uses it at {} — no rough cut was made "
                  "of footage that isn't all there",
                  path, lengthText(stopped, decimals), lengthText(needed, decimals)));
}

RenderError RenderError::footageSoundsDifferent(const std::string& path, double at) {
  return exportFailed(
      fmt::format("the footage {} at {} doesn't sound like the footage the package was cut from — no rough cut "
                  "was made of footage that isn't all there",
                  path, timeStamp(at)));
}

Footage openFootage(const SourceMedia& media, std::optional<LevelData> levels) {
  try {
    return {media, platform::MediaFile::open(media.path), std::move(levels)};
  } catch (const platform::MediaFileError& e) {
    throw RenderError::compositionFailed(e.what());
  }
}

namespace {

struct Source {
  Composition composition;
  std::unique_ptr<platform::VideoTrackReader> video;
  std::unique_ptr<platform::AudioTrackReader> audio;
  // How far each track has to reach, never past the footage's length (a cut-off file's is its
  // readable part): the sound as far as the file states it ends, the picture all of it.
  double soundEnd = 0;
  double pictureEnd = 0;
  // Tracks whose end the file doesn't state may end a little apart (see kTracksApartSeconds).
  bool soundEndStated = false;
};

Source open(const Footage& footage, const CutList& cutList, std::stop_token stop = {}) {
  const SourceMedia& source = footage.media;
  if (cutList.keptSegments().empty()) throw RenderError::nothingToRender();
  if (!footage.file) throw RenderError::compositionFailed("no footage to read");
  Source out;
  // The same layout every timeline writer uses, so the movie holds exactly the timeline's frames.
  const RationalTime frameDuration = FrameSnapping::usableFrameDuration(source.frameDuration);
  try {
    out.composition.layout = FrameSnapping::layout(source, cutList);
  } catch (const RationalTimeError&) {
    throw RenderError::compositionFailed("the frame rate or the cut's times are out of range");
  }
  if (out.composition.layout.pieces.empty()) throw RenderError::nothingToRender();
  if (frameDuration.value > INT_MAX) {
    throw RenderError::compositionFailed("the frame rate is out of range");
  }
  try {
    // Every read of the footage stops with the render.
    out.video = std::make_unique<platform::VideoTrackReader>(footage.file, stop);
    out.audio = std::make_unique<platform::AudioTrackReader>(footage.file, stop);
  } catch (const Cancelled&) {
    throw;
  } catch (const std::runtime_error& error) {
    throw RenderError::compositionFailed(error.what());
  }
  out.composition.hasVideo = out.video->hasTrack();
  out.composition.hasAudio = out.audio->hasTrack();
  if (!out.composition.hasVideo && !out.composition.hasAudio) {
    throw RenderError::compositionFailed("no video or audio track in " + source.path);
  }
  const auto reach = [&](std::optional<double> stated) {
    return std::min(source.durationSeconds, stated.value_or(source.durationSeconds));
  };
  if (out.composition.hasAudio) {
    out.soundEnd = reach(out.audio->statedEnd());
    out.soundEndStated = out.audio->statedEnd().has_value();
  }
  // The picture's own stated end says nothing of whether it is all there: a copy whose picture
  // stopped states where it stopped.
  if (out.composition.hasVideo) out.pictureEnd = source.durationSeconds;
  return out;
}

// The movie while it is being written: a hidden file beside the destination, held while it is
// written, that disappears unless it is moved into place.
class PendingFile {
 public:
  explicit PendingFile(const std::filesystem::path& destination) : destination_(destination) {
    try {
      aside_ = AtomicFile::createAside(destination);
    } catch (const AtomicFile::WriteError& e) {
      const std::filesystem::path folder =
          destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
      throw RenderError::exportFailed("can't write in " + folder.string() + " — " + e.reason());
    }
    path_ = aside_.path().string();
    // A forced exit removes the unfinished movie too.
    platform::ScratchFiles::add(path_);
  }
  ~PendingFile() {
    if (!path_.empty()) platform::ScratchFiles::remove(path_);
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& path() const { return path_; }

  // The complete movie, flushed and still under its hidden name, for the caller to move.
  AtomicFile::Aside finish() {
    AtomicFile::share(aside_.fd());
    if (::fsync(aside_.fd()) != 0) {
      throw RenderError::exportFailed("can't write " + destination_.string() + " — " + std::strerror(errno));
    }
    platform::ScratchFiles::forget(path_);
    path_.clear();
    return std::move(aside_);
  }

 private:
  std::filesystem::path destination_;
  AtomicFile::Aside aside_;
  std::string path_;
};

// The last packets of sound a decoder may leave out: two of AAC's 1024 samples.
constexpr double kSoundPacketsSamples = 2048;
// The tracks of one whole recording may end this far apart (a camera stops its picture and sound
// a little apart, and a muxer without per-track lengths states one length for both): the render
// holds the last picture, or leaves the last moment silent, as it always has.
constexpr double kTracksApartSeconds = 0.5;

// Position of the sample at the start of frame `frame`, rounded to the nearest sample.
std::int64_t sampleAt(std::int64_t frame, RationalTime frameDuration, int rate) {
  const __int128 twice = static_cast<__int128>(frame) * frameDuration.value * rate * 2 + frameDuration.timescale;
  const __int128 denominator = static_cast<__int128>(frameDuration.timescale) * 2;
  __int128 quotient = twice / denominator;
  if (twice % denominator != 0 && twice < 0) --quotient;  // floor
  return static_cast<std::int64_t>(quotient);
}

platform::MovieVideoFormat videoFormat(const platform::VideoTrackReader& video, RationalTime frameDuration) {
  const AVCodecParameters& p = video.parameters();
  platform::MovieVideoFormat format;
  format.width = p.width;
  format.height = p.height;
  format.frameDuration = AVRational{static_cast<int>(frameDuration.value), frameDuration.timescale};
  format.sampleAspect = video.sampleAspectRatio();
  format.range = p.format == AV_PIX_FMT_YUVJ420P ? AVCOL_RANGE_JPEG : p.color_range;
  format.primaries = p.color_primaries;
  format.transfer = p.color_trc;
  format.space = p.color_space;
  format.chromaLocation = p.chroma_location;
  format.displayMatrix = video.displayMatrix();
  return format;
}

platform::MovieAudioFormat audioFormat(const platform::AudioTrackReader& audio) {
  platform::MovieAudioFormat format;
  const int rate = audio.trackSampleRate();
  format.sampleRate = platform::MovieWriter::isAACSampleRate(rate) ? rate : 48000;
  // Mono stays mono; anything wider plays everywhere as stereo.
  format.channels = audio.trackChannelCount() == 1 ? 1 : 2;
  return format;
}

// Frames handed from the decoding thread to the encoding one, a bounded number at a time.
class FrameQueue {
 public:
  struct Step {
    platform::ffmpeg::FramePtr picture;
    std::vector<std::vector<float>> samples;  // one plane per channel
    int sampleCount = 0;
  };

  explicit FrameQueue(std::size_t capacity) : capacity_(capacity) {}

  // Waits for room; false once the consumer has given up.
  bool push(Step&& step) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return abandoned_ || steps_.size() < capacity_; });
    if (abandoned_) return false;
    steps_.push_back(std::move(step));
    changed_.notify_all();
    return true;
  }

  // The producer is done, with the error that stopped it, if any.
  void finish(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    finished_ = true;
    error_ = std::move(error);
    changed_.notify_all();
  }

  // Waits for the next step; false after the last one. Rethrows the producer's error.
  bool pop(Step& into) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !steps_.empty() || finished_; });
    if (steps_.empty()) {
      if (error_) std::rethrow_exception(error_);
      return false;
    }
    into = std::move(steps_.front());
    steps_.pop_front();
    changed_.notify_all();
    return true;
  }

  void abandon() {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    steps_.clear();
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Step> steps_;
  std::size_t capacity_;
  bool finished_ = false;
  bool abandoned_ = false;
  std::exception_ptr error_;
};

}  // namespace

Composition composition(const Footage& footage, const CutList& cutList) { return open(footage, cutList).composition; }

AtomicFile::Aside renderAside(const Footage& footage, const CutList& cutList, const std::filesystem::path& to,
                              const Progress& progress, std::stop_token stop) {
  Source opened = open(footage, cutList, stop);
  const std::string& path = footage.file->path();
  const auto requireUnchanged = [&] {
    if (!footage.file->unchanged())
      throw RenderError::exportFailed("the footage " + path + " was written to while the cut was made from it");
  };
  const Composition& plan = opened.composition;
  const FrameSnapping::Layout& layout = plan.layout;
  const RationalTime frameDuration = layout.frameDuration;

  std::optional<platform::MovieVideoFormat> video;
  if (plan.hasVideo) video = videoFormat(*opened.video, frameDuration);
  std::optional<platform::MovieAudioFormat> audio;
  if (plan.hasAudio) {
    audio = audioFormat(*opened.audio);
    opened.audio->setOutput(audio->sampleRate, audio->channels);
  }

  // A track that ends more than a frame before the cut needs it ran out (sound may end a packet
  // or two short of where its container says, as decoders drop the last packet's padding, and
  // a track whose end isn't stated may end a little before the other).
  const double frameSeconds = FrameSnapping::seconds(1, frameDuration);
  const double soundSlack =
      audio ? kSoundPacketsSamples / audio->sampleRate + (opened.soundEndStated ? 0 : kTracksApartSeconds) : 0;
  const double pictureSlack = kTracksApartSeconds;
  const auto requireReached = [&](std::optional<double> ended, double needed, double trackEnd, double slack) {
    const double due = std::min(needed, trackEnd);
    if (ended && *ended < due - frameSeconds - slack) throw RenderError::footageRanOut(path, *ended, due);
  };

  // Decoding runs on its own thread, a few frames ahead of the encoder, so neither waits for
  // the other's serial stretches.
  const auto produce = [&](FrameQueue& queue) {
    const int rate = audio ? audio->sampleRate : 0;
    const std::size_t channels = audio ? static_cast<std::size_t>(audio->channels) : 0;
    // The sound taken is measured as it goes and held against the stored levels piece by piece.
    std::optional<AudioAnalyzer::LevelHearing> hearing;
    if (audio && footage.levels) {
      hearing.emplace(footage.levels->levelsDBFS(), footage.levels->hopDuration, rate,
                      footage.levels->speechLevelsDBFS());
    }
    // The stored levels count their hops from source time 0, on the file's clock as the sound
    // is read.
    for (const FrameSnapping::Piece& piece : layout.pieces) {
      const std::int64_t cutSampleStart = audio ? sampleAt(piece.cutStartFrame, frameDuration, rate) : 0;
      const std::int64_t sourceSampleStart = audio ? sampleAt(piece.sourceStartFrame, frameDuration, rate) : 0;
      if (hearing) hearing->startPiece(sourceSampleStart);
      for (std::int64_t i = 0; i < piece.frameCount(); ++i) {
        const double frameStart = FrameSnapping::seconds(piece.sourceStartFrame + i, frameDuration);
        FrameQueue::Step step;
        try {
          if (video) {
            // The picture nearest the grid frame: the last one to start before its middle.
            const AVFrame* picture = opened.video->pictureAt(frameStart + frameSeconds / 2);
            if (!picture) throw RenderError::exportFailed("no picture of the video could be decoded");
            requireReached(opened.video->end(), frameStart + frameSeconds, opened.pictureEnd, pictureSlack);
            step.picture.reset(av_frame_clone(picture));
            if (!step.picture) throw RenderError::exportFailed("out of memory");
          }
          if (audio) {
            const std::int64_t cutFrame = piece.cutStartFrame + i;
            const std::int64_t first = sampleAt(cutFrame, frameDuration, rate);
            step.sampleCount = static_cast<int>(sampleAt(cutFrame + 1, frameDuration, rate) - first);
            step.samples.assign(channels, std::vector<float>(static_cast<std::size_t>(step.sampleCount)));
            std::vector<float*> planes;
            for (auto& plane : step.samples) planes.push_back(plane.data());
            const std::int64_t from = sourceSampleStart + (first - cutSampleStart);
            opened.audio->read(from, step.sampleCount, planes.data());
            const std::optional<std::int64_t> ended = opened.audio->end();
            requireReached(ended ? std::optional(static_cast<double>(*ended) / rate) : std::nullopt,
                           static_cast<double>(from + step.sampleCount) / rate, opened.soundEnd, soundSlack);
            if (hearing) hearing->push(planes.data(), audio->channels, static_cast<std::size_t>(step.sampleCount));
          }
        } catch (const platform::MediaReadError& error) {
          throw RenderError::exportFailed(
              fmt::format("the footage {} can't be read at {} — {}", path, timeStamp(frameStart), error.what()));
        }
        if (!queue.push(std::move(step))) return;
      }
      if (hearing) {
        const std::optional<std::int64_t> end = opened.audio->end();
        if (const std::optional<double> at = hearing->finishPiece(end))
          throw RenderError::footageSoundsDifferent(path, *at);
      }
    }
  };

  PendingFile pending(to);
  try {
    platform::MovieWriter writer(pending.path(), video, audio);
    FrameQueue queue(8);
    std::thread decoder([&] {
      try {
        produce(queue);
        queue.finish(nullptr);
      } catch (...) {
        queue.finish(std::current_exception());
      }
    });
    struct Join {
      FrameQueue& queue;
      std::thread& thread;
      ~Join() {
        queue.abandon();
        thread.join();
      }
    } join{queue, decoder};

    std::int64_t done = 0;
    int reportedPercent = -1;
    std::vector<const float*> planes;
    FrameQueue::Step step;
    while (queue.pop(step)) {
      throwIfStopped(stop);
      if (step.picture) writer.addPicture(step.picture.get());
      if (!step.samples.empty()) {
        planes.clear();
        for (const auto& plane : step.samples) planes.push_back(plane.data());
        writer.addSamples(planes.data(), step.sampleCount);
      }
      ++done;
      const auto percent = static_cast<int>(done * 100 / layout.totalFrames);
      if (progress && percent > reportedPercent && done < layout.totalFrames) {
        reportedPercent = percent;
        progress(static_cast<double>(done) / static_cast<double>(layout.totalFrames));
      }
    }
    throwIfStopped(stop);
    // Footage cut short or rewritten in place while it was read may still have read whole.
    requireUnchanged();
    writer.finish();
  } catch (const platform::MovieWriteError& error) {
    throw RenderError::exportFailed(error.what());
  } catch (const platform::MediaReadError& error) {
    throw RenderError::exportFailed(error.what());
  }
  return pending.finish();
}

void render(const Footage& footage, const CutList& cutList, const std::filesystem::path& to, const Progress& progress,
            std::stop_token stop) {
  const AtomicFile::Aside movie = renderAside(footage, cutList, to, progress, stop);
  if (::rename(movie.path().c_str(), to.c_str()) != 0) {
    const int error = errno;
    ::unlink(movie.path().c_str());
    throw RenderError::exportFailed("can't write " + to.string() + " — " + std::strerror(error));
  }
  if (progress) progress(1.0);
}

}  // namespace kestrane::MP4Renderer
