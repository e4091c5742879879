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

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/export/FootageFrames.hpp"
#include "kestrane/platform/AudioTrackReader.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/MovieWriter.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
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

RenderError RenderError::footageUnreadable(const std::string& path, double at, const std::string& why) {
  return exportFailed(fmt::format("the footage {} can't be read at {} — {}", path, timeStamp(at), why));
}

RenderError RenderError::footageSoundsDifferent(const std::string& path, double at) {
  return exportFailed(
      fmt::format("the footage {} at {} doesn't sound like the footage the package was cut from — no rough cut "
                  "was made of footage that isn't all there",
                  path, timeStamp(at)));
}

Footage openFootage(const SourceMedia& media, Listening listening) {
  try {
    return {media, platform::MediaFile::open(media.path), std::move(listening)};
  } catch (const platform::MediaFileError& e) {
    throw RenderError::compositionFailed(e.what());
  }
}

namespace {

struct Source {
  Composition composition;
  std::unique_ptr<FootageFrames> frames;
};

Source open(const Footage& footage, const CutList& cutList, std::stop_token stop = {}) {
  const SourceMedia& source = footage.media;
  if (cutList.keptSegments().empty()) throw RenderError::nothingToRender();
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
  out.frames = std::make_unique<FootageFrames>(footage, out.composition.layout.frameDuration, std::move(stop));
  out.composition.hasVideo = out.frames->hasPicture();
  out.composition.hasAudio = out.frames->hasSound();
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

// Position of the sample at the start of frame `frame`, rounded to the nearest sample.
std::int64_t sampleAt(std::int64_t frame, RationalTime frameDuration, int rate) {
  const __int128 twice = static_cast<__int128>(frame) * frameDuration.value * rate * 2 + frameDuration.timescale;
  const __int128 denominator = static_cast<__int128>(frameDuration.timescale) * 2;
  __int128 quotient = twice / denominator;
  if (twice % denominator != 0 && twice < 0) --quotient;  // floor
  return static_cast<std::int64_t>(quotient);
}

// The tracks the movie carries, in the formats it writes them.
struct MovieFormat {
  std::optional<platform::MovieVideoFormat> video;
  std::optional<platform::MovieAudioFormat> audio;
};

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

MovieFormat movieFormat(const FootageFrames& frames, RationalTime frameDuration) {
  MovieFormat format;
  if (frames.hasPicture()) format.video = videoFormat(frames.pictureTrack(), frameDuration);
  if (frames.hasSound()) format.audio = audioFormat(frames.soundTrack());
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

// The frames of every kept piece, read from the footage in cut order and handed to the encoder:
// the picture of each, and its sound, heard piece by piece by the listener when there is one.
class PieceDecoder {
 public:
  PieceDecoder(FootageFrames& frames, const FrameSnapping::Layout& layout, const MovieFormat& format,
               SoundListener* listener)
      : frames_(frames),
        frameDuration_(layout.frameDuration),
        picture_(format.video.has_value()),
        rate_(format.audio ? format.audio->sampleRate : 0),
        channels_(format.audio ? static_cast<std::size_t>(format.audio->channels) : 0),
        listener_(listener) {}

  // Decodes the piece into `queue`; false once the encoder has given up.
  bool decode(const FrameSnapping::Piece& piece, FrameQueue& queue) {
    // The sound of the piece's frames lies as far from its first sample as the frames do from
    // its first frame on the cut's grid, so the rounding of every frame's samples never adds up.
    const std::int64_t cutSampleStart = soundAt(piece.cutStartFrame);
    const std::int64_t sourceSampleStart = soundAt(piece.sourceStartFrame);
    if (listener_) listener_->startPiece(sourceSampleStart);
    for (std::int64_t i = 0; i < piece.frameCount(); ++i) {
      const double frameStart = FrameSnapping::seconds(piece.sourceStartFrame + i, frameDuration_);
      FrameQueue::Step step;
      if (picture_) step.picture = frames_.picture(frameStart);
      if (rate_ > 0) {
        const std::int64_t first = soundAt(piece.cutStartFrame + i);
        takeSound(step, sourceSampleStart + (first - cutSampleStart),
                  static_cast<int>(soundAt(piece.cutStartFrame + i + 1) - first), frameStart);
      }
      if (!queue.push(std::move(step))) return false;
    }
    if (listener_) {
      if (const std::optional<double> at = listener_->finishPiece(frames_.soundEnd()))
        throw RenderError::footageSoundsDifferent(frames_.path(), *at);
    }
    return true;
  }

 private:
  std::int64_t soundAt(std::int64_t frame) const { return rate_ > 0 ? sampleAt(frame, frameDuration_, rate_) : 0; }

  void takeSound(FrameQueue::Step& step, std::int64_t from, int count, double frameStart) {
    step.sampleCount = count;
    step.samples.assign(channels_, std::vector<float>(static_cast<std::size_t>(count)));
    planes_.clear();
    for (auto& plane : step.samples) planes_.push_back(plane.data());
    frames_.sound(from, count, planes_.data(), frameStart);
    if (listener_) listener_->push(planes_.data(), static_cast<int>(channels_), static_cast<std::size_t>(count));
  }

  FootageFrames& frames_;
  RationalTime frameDuration_;
  bool picture_;
  int rate_;
  std::size_t channels_;
  SoundListener* listener_;
  std::vector<float*> planes_;
};

// Runs the decoding on its own thread, a few frames ahead of the encoder, so neither waits for
// the other's serial stretches; the thread's failure reaches the encoder through the queue, and
// the thread is always joined, the queue abandoned first so it never waits for room.
class DecodingThread {
 public:
  DecodingThread(FrameQueue& queue, const std::function<void()>& decode)
      : queue_(queue), thread_([&queue, decode] {
          try {
            decode();
            queue.finish(nullptr);
          } catch (...) {
            queue.finish(std::current_exception());
          }
        }) {}
  ~DecodingThread() {
    queue_.abandon();
    thread_.join();
  }
  DecodingThread(const DecodingThread&) = delete;
  DecodingThread& operator=(const DecodingThread&) = delete;

 private:
  FrameQueue& queue_;
  std::thread thread_;
};

// Tells the fraction done at most once a hundredth, and never the whole: that is told once the
// movie is in place.
class ProgressShare {
 public:
  ProgressShare(const Progress& progress, std::int64_t total) : progress_(progress), total_(total) {}
  void frameDone() {
    ++done_;
    const auto percent = static_cast<int>(done_ * 100 / total_);
    if (progress_ && percent > reported_ && done_ < total_) {
      reported_ = percent;
      progress_(static_cast<double>(done_) / static_cast<double>(total_));
    }
  }

 private:
  const Progress& progress_;
  std::int64_t total_;
  std::int64_t done_ = 0;
  int reported_ = -1;
};

void write(platform::MovieWriter& writer, const FrameQueue::Step& step, std::vector<const float*>& planes) {
  if (step.picture) writer.addPicture(step.picture.get());
  if (step.samples.empty()) return;
  planes.clear();
  for (const auto& plane : step.samples) planes.push_back(plane.data());
  writer.addSamples(planes.data(), step.sampleCount);
}

}  // namespace

Composition composition(const Footage& footage, const CutList& cutList) { return open(footage, cutList).composition; }

AtomicFile::Aside renderAside(const Footage& footage, const CutList& cutList, const std::filesystem::path& to,
                              const Progress& progress, std::stop_token stop) {
  Source opened = open(footage, cutList, stop);
  FootageFrames& frames = *opened.frames;
  const FrameSnapping::Layout& layout = opened.composition.layout;
  const MovieFormat format = movieFormat(frames, layout.frameDuration);
  std::unique_ptr<SoundListener> listener;
  if (format.audio) {
    frames.setSoundOutput(format.audio->sampleRate, format.audio->channels);
    if (footage.listening) listener = footage.listening(format.audio->sampleRate);
  }

  PendingFile pending(to);
  try {
    platform::MovieWriter writer(pending.path(), format.video, format.audio);
    FrameQueue queue(8);
    PieceDecoder pieces(frames, layout, format, listener.get());
    const DecodingThread decoding(queue, [&] {
      for (const FrameSnapping::Piece& piece : layout.pieces) {
        if (!pieces.decode(piece, queue)) return;
      }
    });
    ProgressShare share(progress, layout.totalFrames);
    std::vector<const float*> planes;
    for (FrameQueue::Step step; queue.pop(step); share.frameDone()) {
      throwIfStopped(stop);
      write(writer, step, planes);
    }
    throwIfStopped(stop);
    // Footage cut short or rewritten in place while it was read may still have read whole.
    frames.requireUnchanged();
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
