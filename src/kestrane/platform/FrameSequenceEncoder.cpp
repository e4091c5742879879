#include "kestrane/platform/FrameSequenceEncoder.hpp"

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::FrameSequenceEncoder {
namespace {

namespace fs = std::filesystem;
using namespace platform::ffmpeg;

[[noreturn]] void writerFailed(const std::string& detail) { throw EncodeError("video encode failed: " + detail); }

[[noreturn]] void writerFailed(const std::string& what, int code) { writerFailed(what + ": " + errorText(code)); }

struct SwsCloser {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

[[noreturn]] void badFrame(const fs::path& file) {
  throw EncodeError("couldn't read captured frame " + file.filename().string());
}

// One decoded frame file, any pixel format the PNG decoder gives.
FramePtr readFrame(const fs::path& file) {
  const auto bad = [&] { badFrame(file); };
  FormatPtr input;
  std::shared_ptr<const platform::MediaFile> held;
  try {
    held = platform::MediaFile::open(file.string());
  } catch (const platform::MediaFileError&) {
    badFrame(file);
  }
  if (openInput(held, input) < 0 || input->nb_streams < 1) bad();
  CodecPtr decoder;
  if (openDecoder(input->streams[0], decoder) < 0) bad();
  PacketPtr packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!packet || !frame) writerFailed("out of memory");
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const int sent = avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0) bad();
    if (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) return frame;
  }
  avcodec_send_packet(decoder.get(), nullptr);
  if (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) return frame;
  badFrame(file);
}

// Both outputs are HD video: BT.709 primaries, transfer and matrix, limited range.
template <typename Tagged>
void tagBt709(Tagged& t) {
  t.color_primaries = AVCOL_PRI_BT709;
  t.color_trc = AVCOL_TRC_BT709;
  t.colorspace = AVCOL_SPC_BT709;
  t.color_range = AVCOL_RANGE_MPEG;
}

// The encoder is opened with this format and every frame is converted to it: ProRes 4444 with
// alpha, or the plain 4:2:0 H.264 takes.
AVPixelFormat pixelFormatOf(const Movie& movie) { return movie.alpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV420P; }

class Writer {
 public:
  Writer(const fs::path& path, const Movie& movie) {
    int rc = avformat_alloc_output_context2(&output_, nullptr, movie.alpha ? "mov" : "mp4", path.c_str());
    if (rc < 0 || !output_) writerFailed("can't set up the movie file", rc < 0 ? rc : AVERROR(ENOMEM));
    const AVCodec* codec = avcodec_find_encoder_by_name(movie.alpha ? "prores_ks" : "libx264");
    if (!codec)
      writerFailed(movie.alpha ? "the ProRes encoder is not available" : "the H.264 encoder is not available");
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_) writerFailed("out of memory");
    AVCodecContext* c = codec_.get();
    c->width = movie.width;
    c->height = movie.height;
    c->time_base = AVRational{1, movie.fps};
    c->framerate = AVRational{movie.fps, 1};
    c->sample_aspect_ratio = AVRational{1, 1};
    c->thread_count = 0;
    c->pix_fmt = pixelFormatOf(movie);
    AVDictionary* options = nullptr;
    if (movie.alpha) {
      c->codec_tag = MKTAG('a', 'p', '4', 'h');
      av_dict_set(&options, "profile", "4444", 0);
      av_dict_set(&options, "alpha_bits", "16", 0);
      // The finest quantiser, fixed: at this profile's bit budget the encoder's own per-slice
      // search settles there almost everywhere anyway (same size, same fidelity), and skipping
      // the search takes about two thirds off the encoder's time.
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = FF_QP2LAMBDA;
    } else {
      c->bit_rate = averageBitRate(movie.width, movie.height);
      av_dict_set(&options, "profile", "high", 0);
      av_dict_set(&options, "preset", "fast", 0);
    }
    tagBt709(*c);
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (rc < 0)
      writerFailed("the writer rejected a " + std::to_string(movie.width) + "x" + std::to_string(movie.height) +
                   " video input");
    stream_ = avformat_new_stream(output_, nullptr);
    if (!stream_) writerFailed("out of memory");
    stream_->time_base = c->time_base;
    stream_->avg_frame_rate = c->framerate;
    if ((rc = avcodec_parameters_from_context(stream_->codecpar, c)) < 0)
      writerFailed("can't describe the video track", rc);
    if ((rc = avio_open(&output_->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
      writerFailed("can't create " + path.filename().string(), rc);
    AVDictionary* muxing = nullptr;
    // Keeps the track's time scale at the frame rate instead of the muxer's finer default.
    av_dict_set_int(&muxing, "video_track_timescale", movie.fps, 0);
    rc = avformat_write_header(output_, &muxing);
    av_dict_free(&muxing);
    if (rc < 0) writerFailed("startWriting failed", rc);

    packet_.reset(av_packet_alloc());
    if (!packet_) writerFailed("out of memory");
  }

  ~Writer() {
    codec_.reset();
    if (output_) {
      avio_closep(&output_->pb);
      avformat_free_context(output_);
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void add(AVFrame* picture, std::int64_t index) {
    picture->pts = index;
    send(picture, index);
  }

  void finish() {
    send(nullptr, -1);
    if (const int rc = av_write_trailer(output_); rc < 0) writerFailed("unknown", rc);
    if (const int rc = avio_closep(&output_->pb); rc < 0) writerFailed("unknown", rc);
  }

 private:
  void send(const AVFrame* frame, std::int64_t index) {
    int rc = avcodec_send_frame(codec_.get(), frame);
    if (rc < 0) writerFailed(frame ? "frame " + std::to_string(index) + " rejected" : "unknown");
    while ((rc = avcodec_receive_packet(codec_.get(), packet_.get())) >= 0) {
      av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      if ((rc = av_interleaved_write_frame(output_, packet_.get())) < 0) writerFailed("couldn't write the movie", rc);
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) writerFailed("couldn't encode", rc);
  }

  AVFormatContext* output_ = nullptr;
  CodecPtr codec_;
  AVStream* stream_ = nullptr;
  PacketPtr packet_;
};

// Converts decoded frames to the movie's pixel format and size, each into a picture of its own
// so the encoder may keep it while the next one is made.
class Converter {
 public:
  explicit Converter(const Movie& movie) : width_(movie.width), height_(movie.height), format_(pixelFormatOf(movie)) {}

  FramePtr convert(const AVFrame* source) {
    FramePtr picture(av_frame_alloc());
    if (!picture) writerFailed("out of memory");
    picture->format = format_;
    picture->width = width_;
    picture->height = height_;
    // ProRes writes the frame's own tags into its frame headers, and decoders read those.
    tagBt709(*picture);
    if (av_frame_get_buffer(picture.get(), 0) < 0) writerFailed("couldn't allocate a pixel buffer");
    // Stretched to the movie's size; a source without alpha converts to opaque.
    sws_.reset(sws_getCachedContext(sws_.release(), source->width, source->height,
                                    static_cast<AVPixelFormat>(source->format), width_, height_, format_, SWS_BICUBIC,
                                    nullptr, nullptr, nullptr));
    if (!sws_) writerFailed("couldn't build a drawing context");
    const SourceShape shape{source->width, source->height, source->format};
    if (shape != configured_) {
      // Full-range RGB in, limited-range BT.709 out: what the tags promise and what editors
      // assume for HD. swscale's default matrix is BT.601, which shifts every brand colour.
      const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
      if (sws_setColorspaceDetails(sws_.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0)
        writerFailed("couldn't build a drawing context");
      configured_ = shape;
    }
    sws_scale(sws_.get(), source->data, source->linesize, 0, source->height, picture->data, picture->linesize);
    return picture;
  }

 private:
  int width_, height_;
  AVPixelFormat format_;
  std::unique_ptr<SwsContext, SwsCloser> sws_;
  // The source shape the context's matrix was last set for; a new shape gets a new context.
  struct SourceShape {
    int width = 0, height = 0, format = -1;
    friend bool operator==(const SourceShape&, const SourceShape&) = default;
  };
  SourceShape configured_;
};

// Reads and converts the frames on threads of their own, a few ahead of the encoder, so that
// decoding PNGs overlaps encoding the frames before them; one reader alone could not keep up
// with the encoder. At most kAhead pictures are read ahead of the one the encoder waits for,
// which bounds the memory (a 1080p ProRes picture is 16 MB).
class FramesAhead {
 public:
  static constexpr std::size_t kReaders = 2;
  static constexpr std::size_t kAhead = 4;

  FramesAhead(const std::vector<fs::path>& frames, const Movie& movie) {
    for (std::size_t i = 0; i < kReaders; ++i) readers_.emplace_back([this, &frames, movie] { read(frames, movie); });
  }
  ~FramesAhead() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
    for (std::thread& reader : readers_) reader.join();
  }
  FramesAhead(const FramesAhead&) = delete;
  FramesAhead& operator=(const FramesAhead&) = delete;

  // The next picture in order; a reader's failure once the pictures before it are taken.
  FramePtr next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.contains(taken_) || failedAt_ == taken_; });
    const auto found = ready_.find(taken_);
    if (found == ready_.end()) std::rethrow_exception(failure_);
    FramePtr picture = std::move(found->second);
    ready_.erase(found);
    ++taken_;
    changed_.notify_all();
    return picture;
  }

 private:
  void read(const std::vector<fs::path>& frames, const Movie& movie) {
    std::size_t index = 0;
    try {
      Converter converter(movie);
      for (;;) {
        {
          std::unique_lock lock(mutex_);
          changed_.wait(lock, [this] { return closed_ || claimed_ < taken_ + kAhead; });
          if (closed_ || claimed_ >= frames.size() || claimed_ >= failedAt_) return;
          index = claimed_++;
        }
        FramePtr picture = converter.convert(readFrame(frames[index]).get());
        {
          std::lock_guard lock(mutex_);
          ready_.emplace(index, std::move(picture));
        }
        changed_.notify_all();
      }
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        // The earliest failure is the one the encoder meets first.
        if (index < failedAt_) {
          failedAt_ = index;
          failure_ = std::current_exception();
        }
      }
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::size_t, FramePtr> ready_;
  std::size_t claimed_ = 0;  // frames handed to a reader
  std::size_t taken_ = 0;    // pictures handed to the encoder
  std::size_t failedAt_ = std::numeric_limits<std::size_t>::max();
  std::exception_ptr failure_;
  bool closed_ = false;
  std::vector<std::thread> readers_;
};

// The movie is written under a hidden name beside its place, made and held as the package's
// other staged files are: a run killed mid-encode leaves a file the next run's sweep takes, and
// a forced exit takes it at once.
AtomicFile::Aside temporaryBeside(const fs::path& destination) {
  try {
    AtomicFile::Aside aside = AtomicFile::createAside(destination);
    platform::ScratchFiles::add(aside.path().string());
    return aside;
  } catch (const AtomicFile::WriteError& e) {
    writerFailed("can't create a file beside " + destination.filename().string() + ": " + e.reason());
  }
}

}  // namespace

long long averageBitRate(int width, int height) {
  return std::max<long long>(static_cast<long long>(width) * height * 8, 4'000'000);
}

void encode(const std::vector<fs::path>& frames, const Movie& movie, std::stop_token stop) {
  if (frames.empty()) throw EncodeError("no frames were captured");
  if (movie.width <= 0 || movie.height <= 0 || movie.fps <= 0)
    writerFailed("the writer rejected a " + std::to_string(movie.width) + "x" + std::to_string(movie.height) +
                 " video input");
  const AtomicFile::Aside aside = temporaryBeside(movie.destination);
  const fs::path& temporary = aside.path();
  try {
    {
      Writer writer(temporary, movie);
      FramesAhead pictures(frames, movie);
      for (std::size_t i = 0; i < frames.size(); ++i) {
        throwIfStopped(stop);
        writer.add(pictures.next().get(), static_cast<std::int64_t>(i));
      }
      writer.finish();
    }
    AtomicFile::share(aside.fd());
    std::error_code error;
    fs::rename(temporary, movie.destination, error);
    if (error) writerFailed("couldn't move the movie into place: " + error.message());
    platform::ScratchFiles::forget(temporary.string());
  } catch (...) {
    platform::ScratchFiles::remove(temporary.string());
    throw;
  }
}

}  // namespace kestrane::FrameSequenceEncoder
