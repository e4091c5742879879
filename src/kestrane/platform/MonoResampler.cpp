#include "kestrane/platform/MonoResampler.hpp"

#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <stdexcept>

namespace kestrane::platform {

MonoResampler::MonoResampler(int inputRate, int outputRate) {
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  int rc =
      swr_alloc_set_opts2(&swr_, &mono, AV_SAMPLE_FMT_S16, outputRate, &mono, AV_SAMPLE_FMT_FLT, inputRate, 0, nullptr);
  if (rc >= 0) rc = swr_init(swr_);
  if (rc < 0) {
    swr_free(&swr_);
    throw std::runtime_error("Can't convert audio from " + std::to_string(inputRate) + " Hz: " + ffmpeg::errorText(rc));
  }
}

MonoResampler::~MonoResampler() { swr_free(&swr_); }

void MonoResampler::run(const float* samples, int count, std::vector<std::int16_t>& out) {
  const int capacity = swr_get_out_samples(swr_, count);
  if (capacity <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(capacity));
  auto* dst = reinterpret_cast<uint8_t*>(out.data() + at);
  const auto* src = reinterpret_cast<const uint8_t*>(samples);
  const int made = swr_convert(swr_, &dst, capacity, samples ? &src : nullptr, count);
  if (made < 0) {
    out.resize(at);
    throw std::runtime_error("Audio conversion failed: " + ffmpeg::errorText(made));
  }
  out.resize(at + static_cast<std::size_t>(made));
}

void MonoResampler::push(const float* samples, std::size_t count, std::vector<std::int16_t>& out) {
  constexpr std::size_t step = 1 << 16;
  for (std::size_t i = 0; i < count; i += step) run(samples + i, static_cast<int>(std::min(step, count - i)), out);
}

void MonoResampler::flush(std::vector<std::int16_t>& out) { run(nullptr, 0, out); }

}  // namespace kestrane::platform
