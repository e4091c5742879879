#pragma once
// Turns whatever a sound decoder gives into the float samples a reader wants, at one rate and
// channel count throughout. Internal to the platform folder.
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrane::platform {

// Float samples at `rate` with `channels` channels, interleaved or one plane per channel; a
// rate or channel count of 0 is the first decoded frame's.
struct SoundFormat {
  int rate = 0;
  int channels = 0;
  bool planar = false;
};

class SoundConverter {
 public:
  explicit SoundConverter(SoundFormat wanted) : format_(wanted) {}
  ~SoundConverter();
  SoundConverter(const SoundConverter&) = delete;
  SoundConverter& operator=(const SoundConverter&) = delete;

  // Converts the frame; returns how many samples it gives now (none while the resampler holds
  // them). They are at data() until the next call. Throws AudioDecodeError.
  int convert(const AVFrame* frame);
  // The samples: one pointer when interleaved, one per channel when planar.
  const std::vector<const float*>& data() const { return data_; }

  // The output's, once the first frame is converted.
  int rate() const { return format_.rate; }
  int channels() const { return format_.channels; }
  bool planar() const { return format_.planar; }

  // Decoding goes on elsewhere: what the resampler holds from before is dropped.
  void reset() { swr_.reset(); }

 private:
  struct SwrCloser {
    void operator()(SwrContext* s) const { swr_free(&s); }
  };

  bool passesThrough(const AVFrame* frame) const;
  void ensureResampler(const AVFrame* frame);

  SoundFormat format_;
  std::unique_ptr<SwrContext, SwrCloser> swr_;
  AVChannelLayout inLayout_{};  // of the frames the resampler was made for
  int inFormat_ = -1;
  int inRate_ = 0;
  std::vector<std::vector<float>> buffers_;
  std::vector<std::uint8_t*> out_;
  std::vector<const float*> data_;
};

}  // namespace kestrane::platform
