#include "kestrane/platform/FFmpegSupport.hpp"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/MediaFile.hpp"

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

namespace {

// One container's reading of a held file: its own position, so several readers of the one
// descriptor never move each other's.
struct FileReading {
  std::shared_ptr<const MediaFile> file;
  std::stop_token stop;
  std::int64_t position = 0;
  std::optional<int> failure;
};

constexpr int kReadBufferBytes = 64 << 10;

int readFile(void* opaque, std::uint8_t* buffer, int size) {
  auto* reading = static_cast<FileReading*>(opaque);
  if (reading->stop.stop_requested()) {
    reading->failure = ECANCELED;
    return AVERROR_EXIT;
  }
  while (true) {
    const ssize_t got = ::pread(reading->file->fd(), buffer, static_cast<std::size_t>(size), reading->position);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      reading->failure = errno;
      return AVERROR(errno);
    }
    if (got == 0) return AVERROR_EOF;
    reading->position += got;
    return static_cast<int>(got);
  }
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence) {
  auto* reading = static_cast<FileReading*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE || whence == SEEK_END) {
    struct stat st {};
    if (::fstat(reading->file->fd(), &st) != 0) return AVERROR(errno);
    if (whence == AVSEEK_SIZE) return st.st_size;
    offset += st.st_size;
  } else if (whence == SEEK_CUR) {
    offset += reading->position;
  } else if (whence != SEEK_SET) {
    return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  reading->position = offset;
  return offset;
}

void freeFileIO(AVIOContext* io) {
  delete static_cast<FileReading*>(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
}

}  // namespace

void FormatCloser::operator()(AVFormatContext* ctx) const {
  AVIOContext* io = (ctx->flags & AVFMT_FLAG_CUSTOM_IO) ? ctx->pb : nullptr;
  avformat_close_input(&ctx);
  if (io) freeFileIO(io);
}

int openInput(std::shared_ptr<const MediaFile> file, FormatPtr& out, std::stop_token stop) {
  quietLogs();
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kReadBufferBytes));
  if (!buffer) return AVERROR(ENOMEM);
  const std::string path = file->path();
  auto* reading = new FileReading{std::move(file), std::move(stop)};
  const std::stop_token heard = reading->stop;
  AVIOContext* io = avio_alloc_context(buffer, kReadBufferBytes, 0, reading, readFile, nullptr, seekFile);
  if (!io) {
    delete reading;
    av_free(buffer);
    return AVERROR(ENOMEM);
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) {
    freeFileIO(io);
    return AVERROR(ENOMEM);
  }
  raw->pb = io;
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  // The path's extension still helps tell formats without a signature (raw AAC, say).
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    // The container is freed on failure; the reading is ours.
    const std::optional<int> failure = reading->failure;
    freeFileIO(io);
    throwIfStopped(heard);
    if (failure) throw FileReadError(std::string("can't read the file: ") + std::strerror(*failure));
    return rc;
  }
  FormatPtr ctx(raw);
  rc = avformat_find_stream_info(ctx.get(), nullptr);
  if (rc < 0) {
    if (const std::optional<int> failure = readFailure(ctx.get()))
      throw FileReadError(std::string("can't read the file: ") + std::strerror(*failure));
    return rc;
  }
  out = std::move(ctx);
  return 0;
}

std::optional<int> readFailure(const AVFormatContext* format) {
  if (!(format->flags & AVFMT_FLAG_CUSTOM_IO) || !format->pb) return std::nullopt;
  const std::optional<int> failure = static_cast<const FileReading*>(format->pb->opaque)->failure;
  if (failure == ECANCELED) throw Cancelled();
  return failure;
}

double lengthSeconds(const AVFormatContext* format) {
  if (format->duration > 0 && format->duration != AV_NOPTS_VALUE)
    return static_cast<double>(format->duration) / AV_TIME_BASE;
  double longest = 0;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->duration > 0 && s->duration != AV_NOPTS_VALUE)
      longest = std::max(longest, static_cast<double>(s->duration) * av_q2d(s->time_base));
  }
  return longest;
}

std::optional<double> statedLength(const AVFormatContext* format) {
  const double length = lengthSeconds(format);
  if (!(length > 0) || format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return std::nullopt;
  return length;
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
