#include "kestrane/platform/AudioDecoder.hpp"

#include <algorithm>
#include <vector>

#include "kestrane/platform/FFmpegSupport.hpp"
#include "kestrane/platform/SoundDecoder.hpp"
#include "kestrane/platform/SoundPackets.hpp"

namespace kestrane::platform {

bool isAudioOnlyFile(std::shared_ptr<const MediaFile> file) {
  ffmpeg::FormatPtr format;
  if (ffmpeg::openInput(std::move(file), format) < 0) return false;
  bool audio = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = true;
    // Cover art rides along as a picture stream; it does not make the file a video.
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) return false;
  }
  return audio;
}

DecodeReport decodeAudio(std::shared_ptr<const MediaFile> file, const std::function<void(const AudioBlock&)>& sink,
                         std::stop_token stop) {
  const std::string path = file->path();
  SoundDecoder sound(std::move(file), std::move(stop));
  if (!sound.hasTrack()) throw NoAudioStreamError("No audio track in " + path);
  std::vector<float> silence;
  PlacedBlock block;
  while (sound.next(block)) {
    const SoundConverter& out = sound.output();
    const auto rate = static_cast<double>(out.rate());
    // Zeros stand in for the time the track holds no sound for.
    constexpr std::int64_t kSilenceBlock = 4096;
    silence.resize(static_cast<std::size_t>(kSilenceBlock * out.channels()));
    for (std::int64_t left = block.silence; left > 0; left -= kSilenceBlock) {
      const auto n = static_cast<std::size_t>(std::min(left, kSilenceBlock));
      sink(AudioBlock{silence.data(), n, out.channels(), rate});
    }
    if (block.frames > 0)
      sink(AudioBlock{block.data.front(), static_cast<std::size_t>(block.frames), out.channels(), rate});
  }
  return sound.report();
}

CountedClock countedClock(std::shared_ptr<const MediaFile> file, std::stop_token stop) {
  if (std::optional<CountedClock> counted = packetCountedClock(file, stop)) return std::move(*counted);
  return decodeAudio(
             std::move(file), [](const AudioBlock&) {}, std::move(stop))
      .countedClock;
}

}  // namespace kestrane::platform
