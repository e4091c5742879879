#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/log.h>
}

#include <mutex>

namespace kestrane::platform::ffmpeg {

namespace {
void quietLogs() {
  static std::once_flag once;
  // Library chatter on stderr is noise for the user; errors come back as return codes.
  std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}
}  // namespace

std::string errorText(int code) {
  char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buffer, sizeof buffer);
  return buffer;
}

bool isDamagedData(int code) {
  return code < 0 && code != AVERROR(ENOMEM) && code != AVERROR(EINVAL) && code != AVERROR(EAGAIN) &&
         code != AVERROR_EOF;
}

int openInput(const std::string& path, FormatPtr& out) {
  quietLogs();
  AVFormatContext* raw = nullptr;
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (rc < 0) return rc;
  FormatPtr ctx(raw);
  rc = avformat_find_stream_info(ctx.get(), nullptr);
  if (rc < 0) return rc;
  out = std::move(ctx);
  return 0;
}

int openDecoder(const AVStream* stream, CodecPtr& out, int threads) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return AVERROR_DECODER_NOT_FOUND;
  CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return AVERROR(ENOMEM);
  int rc = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
  if (rc < 0) return rc;
  ctx->pkt_timebase = stream->time_base;
  ctx->thread_count = threads;
  rc = avcodec_open2(ctx.get(), codec, nullptr);
  if (rc < 0) return rc;
  out = std::move(ctx);
  return 0;
}

}  // namespace kestrane::platform::ffmpeg
