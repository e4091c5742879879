#include "kestrane/platform/MovieWriter.hpp"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>

namespace kestrane::platform {

namespace {

[[noreturn]] void fail(const std::string& what, int code) {
  throw MovieWriteError(what + ": " + ffmpeg::errorText(code));
}

}  // namespace

bool MovieWriter::isAACSampleRate(int rate) {
  static constexpr int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                  22050, 16000, 12000, 11025, 8000,  7350};
  return std::find(std::begin(rates), std::end(rates), rate) != std::end(rates);
}

MovieWriter::MovieWriter(const std::string& path, const std::optional<MovieVideoFormat>& video,
                         const std::optional<MovieAudioFormat>& audio, const MovieSettings& settings) {
  try {
    int rc = avformat_alloc_output_context2(&output_, nullptr, "mp4", path.c_str());
    if (rc < 0 || !output_) fail("can't set up an MP4 file", rc < 0 ? rc : AVERROR(ENOMEM));
    packet_.reset(av_packet_alloc());
    if (!packet_) throw MovieWriteError("out of memory");
    if (video) openVideo(*video, settings);
    if (audio) openAudio(*audio, settings);
    rc = avio_open(&output_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) fail("can't create " + path, rc);
    rc = avformat_write_header(output_, nullptr);
    if (rc < 0) fail("can't start the movie", rc);
  } catch (...) {
    if (output_) {
      avio_closep(&output_->pb);
      avformat_free_context(output_);
    }
    throw;
  }
}

MovieWriter::~MovieWriter() {
  // Encoders go first: they may still hold references to frames.
  video_.reset();
  audio_.reset();
  if (output_) {
    avio_closep(&output_->pb);
    avformat_free_context(output_);
  }
}

void MovieWriter::openVideo(const MovieVideoFormat& format, const MovieSettings& settings) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) throw MovieWriteError("the H.264 encoder (libx264) is not available");
  video_.reset(avcodec_alloc_context3(codec));
  if (!video_) throw MovieWriteError("out of memory");
  AVCodecContext* ctx = video_.get();
  ctx->width = format.width & ~1;
  ctx->height = format.height & ~1;
  if (ctx->width <= 0 || ctx->height <= 0) throw MovieWriteError("the video has no usable picture size");
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = format.frameDuration;
  ctx->framerate = av_inv_q(format.frameDuration);
  ctx->sample_aspect_ratio = format.sampleAspect.num > 0 ? format.sampleAspect : AVRational{1, 1};
  ctx->color_range = format.range;
  ctx->color_primaries = format.primaries;
  ctx->color_trc = format.transfer;
  ctx->colorspace = format.space;
  ctx->chroma_sample_location = format.chromaLocation;
  ctx->thread_count = 0;  // every core, as the ffmpeg tool does
  if (output_->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "preset", settings.x264Preset.c_str(), 0);
  av_dict_set_int(&options, "crf", settings.x264CRF, 0);
  const int rc = avcodec_open2(ctx, codec, &options);
  av_dict_free(&options);
  if (rc < 0) fail("can't start the H.264 encoder", rc);

  videoStream_ = avformat_new_stream(output_, nullptr);
  if (!videoStream_) throw MovieWriteError("out of memory");
  if (int r = avcodec_parameters_from_context(videoStream_->codecpar, ctx); r < 0)
    fail("can't describe the video track", r);
  videoStream_->time_base = ctx->time_base;
  videoStream_->avg_frame_rate = ctx->framerate;
  videoStream_->sample_aspect_ratio = ctx->sample_aspect_ratio;
  if (format.displayMatrix) {
    // Keeps a phone's portrait footage upright, as the source is shown.
    std::uint8_t* data = av_stream_new_side_data(videoStream_, AV_PKT_DATA_DISPLAYMATRIX, sizeof *format.displayMatrix);
    if (!data) throw MovieWriteError("out of memory");
    std::memcpy(data, format.displayMatrix->data(), sizeof *format.displayMatrix);
  }
  picture_.reset(av_frame_alloc());
  converted_.reset(av_frame_alloc());
  if (!picture_ || !converted_) throw MovieWriteError("out of memory");
}

void MovieWriter::openAudio(const MovieAudioFormat& format, const MovieSettings& settings) {
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) throw MovieWriteError("the AAC encoder is not available");
  audio_.reset(avcodec_alloc_context3(codec));
  if (!audio_) throw MovieWriteError("out of memory");
  AVCodecContext* ctx = audio_.get();
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ctx->sample_rate = format.sampleRate;
  av_channel_layout_default(&ctx->ch_layout, format.channels);
  ctx->bit_rate = static_cast<std::int64_t>(settings.audioBitRatePerChannel) * format.channels;
  ctx->time_base = AVRational{1, format.sampleRate};
  if (output_->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (int rc = avcodec_open2(ctx, codec, nullptr); rc < 0) fail("can't start the AAC encoder", rc);

  audioStream_ = avformat_new_stream(output_, nullptr);
  if (!audioStream_) throw MovieWriteError("out of memory");
  if (int rc = avcodec_parameters_from_context(audioStream_->codecpar, ctx); rc < 0)
    fail("can't describe the audio track", rc);
  audioStream_->time_base = ctx->time_base;
  fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, format.channels, 2 * ctx->frame_size));
  samples_.reset(av_frame_alloc());
  if (!fifo_ || !samples_) throw MovieWriteError("out of memory");
}

void MovieWriter::addPicture(const AVFrame* picture) {
  if (!video_) return;
  AVCodecContext* ctx = video_.get();
  av_frame_unref(picture_.get());
  const auto format = static_cast<AVPixelFormat>(picture->format);
  const bool fits = (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) && picture->width == ctx->width &&
                    picture->height == ctx->height;
  if (fits) {
    if (int rc = av_frame_ref(picture_.get(), picture); rc < 0) fail("can't take a picture", rc);
    if (format == AV_PIX_FMT_YUVJ420P) {
      // Same planes; the full range travels as a flag.
      picture_->format = AV_PIX_FMT_YUV420P;
      picture_->color_range = AVCOL_RANGE_JPEG;
    }
  } else {
    sws_.reset(sws_getCachedContext(sws_.release(), picture->width, picture->height, format, ctx->width, ctx->height,
                                    AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws_) throw MovieWriteError("can't convert the pictures");
    // A fresh buffer each time: the encoder may still hold the previous one.
    av_frame_unref(converted_.get());
    converted_->format = AV_PIX_FMT_YUV420P;
    converted_->width = ctx->width;
    converted_->height = ctx->height;
    if (int rc = av_frame_get_buffer(converted_.get(), 0); rc < 0) fail("can't convert a picture", rc);
    sws_scale(sws_.get(), picture->data, picture->linesize, 0, picture->height, converted_->data, converted_->linesize);
    av_frame_copy_props(converted_.get(), picture);
    if (int rc = av_frame_ref(picture_.get(), converted_.get()); rc < 0) fail("can't take a picture", rc);
  }
  picture_->pts = pictures_++;
  // The source's frame types would force the encoder's hand; it chooses its own.
  picture_->pict_type = AV_PICTURE_TYPE_NONE;
  encode(ctx, videoStream_, picture_.get());
}

void MovieWriter::addSamples(const float* const* planes, int count) {
  if (!audio_ || count <= 0) return;
  auto data = const_cast<void**>(reinterpret_cast<const void* const*>(planes));
  if (int rc = av_audio_fifo_write(fifo_.get(), data, count); rc < count)
    fail("can't queue the audio", rc < 0 ? rc : AVERROR(ENOMEM));
  while (av_audio_fifo_size(fifo_.get()) >= audio_->frame_size) encodeAudio(audio_->frame_size);
}

void MovieWriter::encodeAudio(int count) {
  AVFrame* frame = samples_.get();
  av_frame_unref(frame);
  frame->nb_samples = count;
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->sample_rate = audio_->sample_rate;
  av_channel_layout_copy(&frame->ch_layout, &audio_->ch_layout);
  if (int rc = av_frame_get_buffer(frame, 0); rc < 0) fail("can't encode the audio", rc);
  av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), count);
  frame->pts = samplesSent_;
  samplesSent_ += count;
  encode(audio_.get(), audioStream_, frame);
}

void MovieWriter::encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
  int rc = avcodec_send_frame(codec, frame);
  if (rc < 0) fail("can't encode the movie", rc);
  while (true) {
    rc = avcodec_receive_packet(codec, packet_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0) fail("can't encode the movie", rc);
    av_packet_rescale_ts(packet_.get(), codec->time_base, stream->time_base);
    packet_->stream_index = stream->index;
    rc = av_interleaved_write_frame(output_, packet_.get());
    if (rc < 0) fail("can't write the movie", rc);
  }
}

void MovieWriter::finish() {
  if (finished_) return;
  if (audio_) {
    if (const int left = av_audio_fifo_size(fifo_.get()); left > 0) encodeAudio(left);
    encode(audio_.get(), audioStream_, nullptr);
  }
  if (video_) encode(video_.get(), videoStream_, nullptr);
  if (int rc = av_write_trailer(output_); rc < 0) fail("can't complete the movie", rc);
  if (int rc = avio_closep(&output_->pb); rc < 0) fail("can't complete the movie", rc);
  finished_ = true;
}

}  // namespace kestrane::platform
