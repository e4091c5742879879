#pragma once
// Encodes pictures and samples into an MP4 file: H.264 through libx264 and AAC through
// FFmpeg's own encoder, one picture per frame of a fixed frame grid. Internal to the platform
// folder.

#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace kestrane::platform {

// The movie could not be set up, encoded or written; what() is the bare detail.
struct MovieWriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How hard the encoders work. The defaults give a copy that looks like the footage.
struct MovieSettings {
  std::string x264Preset = "fast";
  int x264CRF = 18;
  int audioBitRatePerChannel = 96000;
};

struct MovieVideoFormat {
  int width = 0;  // made even if odd: 4:2:0 pictures need even sizes
  int height = 0;
  AVRational frameDuration{1, 25};
  AVRational sampleAspect{1, 1};
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace space = AVCOL_SPC_UNSPECIFIED;
  AVChromaLocation chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
  std::optional<std::array<std::int32_t, 9>> displayMatrix;
};

struct MovieAudioFormat {
  int sampleRate = 48000;  // one the AAC encoder takes
  int channels = 2;        // 1 or 2
};

class MovieWriter {
 public:
  // Creates the file at `path` (replacing what is there) and writes its header.
  MovieWriter(const std::string& path, const std::optional<MovieVideoFormat>& video,
              const std::optional<MovieAudioFormat>& audio, const MovieSettings& settings = {});
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // Adds the next frame's picture, converted when its size or pixel format differ.
  void addPicture(const AVFrame* picture);
  // Adds the next `count` samples of every channel.
  void addSamples(const float* const* planes, int count);
  // Drains the encoders and completes the file. Nothing may be added afterwards.
  void finish();

  // Sample rates the AAC encoder accepts.
  static bool isAACSampleRate(int rate);

 private:
  struct SwsCloser {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
  };
  struct FifoCloser {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
  };

  void openVideo(const MovieVideoFormat& format, const MovieSettings& settings);
  void openAudio(const MovieAudioFormat& format, const MovieSettings& settings);
  void encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
  void encodeAudio(int count);

  AVFormatContext* output_ = nullptr;
  ffmpeg::CodecPtr video_;
  ffmpeg::CodecPtr audio_;
  AVStream* videoStream_ = nullptr;
  AVStream* audioStream_ = nullptr;
  ffmpeg::PacketPtr packet_;
  ffmpeg::FramePtr picture_;    // what goes to the video encoder
  ffmpeg::FramePtr converted_;  // a picture after conversion
  ffmpeg::FramePtr samples_;    // one block for the audio encoder
  std::unique_ptr<SwsContext, SwsCloser> sws_;
  std::unique_ptr<AVAudioFifo, FifoCloser> fifo_;
  std::int64_t pictures_ = 0;
  std::int64_t samplesSent_ = 0;
  bool finished_ = false;
};

}  // namespace kestrane::platform
