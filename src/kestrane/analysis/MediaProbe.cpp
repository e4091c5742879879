#include "kestrane/analysis/MediaProbe.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::MediaProbe {

namespace {

std::int64_t roundedSize(double v) { return static_cast<std::int64_t>(std::round(v)); }

RationalTime frameDuration(const platform::VideoTrackFacts& v) {
  double rate = 30;
  if (v.nominalFrameRate > 0) {
    rate = v.nominalFrameRate;
  } else if (v.minFrameDurationTimescale > 0 && v.minFrameDurationValue >= 1) {
    rate = static_cast<double>(v.minFrameDurationTimescale) / static_cast<double>(v.minFrameDurationValue);
  }
  return RationalTime::standardFrameDuration(rate);
}

std::int64_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t count) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < count; ++i) v = (v << 8) | bytes[i];
  return count == 4 ? static_cast<std::int64_t>(static_cast<std::int32_t>(v)) : static_cast<std::int64_t>(v);
}

std::optional<StartTimecode> fromTrack(const platform::TimecodeTrackFacts& t) {
  if (t.frameDurationTimescale < 1 || t.frameDurationValue < 1) return std::nullopt;
  std::int64_t frame = 0;
  if (t.subtype == "tmcd" && t.firstSample.size() >= 4) {
    frame = bigEndian(t.firstSample, 4);
  } else if (t.subtype == "tc64" && t.firstSample.size() >= 8) {
    frame = bigEndian(t.firstSample, 8);
  } else {
    return std::nullopt;
  }
  if (frame < 1) return std::nullopt;
  std::int64_t ticks = 0;
  if (__builtin_mul_overflow(frame, t.frameDurationValue, &ticks)) return std::nullopt;
  return StartTimecode{{ticks, t.frameDurationTimescale}, (t.flags & 1u) != 0};
}

std::optional<StartTimecode> fromTag(const std::string& text, const platform::MediaFacts& facts) {
  if (facts.videoTracks.empty()) return std::nullopt;
  const bool drop = text.find_first_of(";.") != std::string::npos;
  const RationalTime frame = frameDuration(facts.videoTracks.front());
  const int fps =
      static_cast<int>(std::lround(static_cast<double>(frame.timescale) / static_cast<double>(frame.value)));
  const auto number = frameNumber(text, fps, drop);
  if (!number || *number < 1) return std::nullopt;
  return StartTimecode{{*number * frame.value, frame.timescale}, drop};
}

}  // namespace

ProbeError ProbeError::noVideoTrack(const std::string& path) {
  return {Kind::noVideoTrack, path, "No video track in " + std::filesystem::path(path).filename().string()};
}

std::optional<std::int64_t> frameNumber(const std::string& timecode, int fps, bool dropFrame) {
  int h = 0, m = 0, s = 0, f = 0;
  char a = 0, b = 0, c = 0;
  if (fps < 1 || std::sscanf(timecode.c_str(), "%d%c%d%c%d%c%d", &h, &a, &m, &b, &s, &c, &f) != 7) return std::nullopt;
  if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59 || f < 0 || f >= fps) return std::nullopt;
  const std::int64_t totalMinutes = 60 * static_cast<std::int64_t>(h) + m;
  std::int64_t frames = (totalMinutes * 60 + s) * fps + f;
  // Drop-frame skips the first frame numbers of every minute except each tenth: two at 30,
  // four at 60.
  if (dropFrame && fps % 30 == 0) frames -= (fps / 15) * (totalMinutes - totalMinutes / 10);
  return frames;
}

std::optional<StartTimecode> startTimecode(const platform::MediaFacts& facts) {
  if (facts.timecodeTrack) return fromTrack(*facts.timecodeTrack);
  if (facts.timecodeTag) return fromTag(*facts.timecodeTag, facts);
  return std::nullopt;
}

std::shared_ptr<const platform::MediaFile> held(const std::string& path) {
  try {
    return platform::MediaFile::open(path);
  } catch (const platform::MediaFileError& e) {
    throw ProbeError::unreadable(path, e.reason());
  }
}

SourceMedia probe(const std::shared_ptr<const platform::MediaFile>& file, std::stop_token stop) {
  auto facts = platform::readMediaFacts(file, std::move(stop));
  if (!facts) throw ProbeError::unreadable(file->path(), "not a video or audio file");
  return sourceMedia(*facts, file->path());
}

SourceMedia sourceMedia(const platform::MediaFacts& facts, const std::string& url) {
  if (facts.audioTracks.empty()) throw ProbeError::noAudioTrack(url);

  SourceMedia media;
  media.path = url;
  media.durationSeconds = facts.durationSeconds;
  media.hasVideo = !facts.videoTracks.empty();
  media.frameDuration = RationalTime{1, 30};
  if (media.hasVideo) {
    const auto& video = facts.videoTracks.front();
    media.frameDuration = frameDuration(video);
    media.width = roundedSize(video.width);
    media.height = roundedSize(video.height);
    // Sound recorded apart and joined to the picture may run on past it; the picture's own end
    // is where the render holds its last picture from.
    media.pictureEndSeconds = video.statedEnd;
  }
  const auto& audio = facts.audioTracks.front();
  media.audioSampleRate = audio.sampleRate.value_or(48000);
  if (audio.sampleRate && audio.channelCount) media.audioChannelCount = *audio.channelCount;
  if (auto tc = startTimecode(facts)) {
    media.startTimecode = tc->time;
    media.timecodeIsDropFrame = tc->dropFrame;
  }
  return media;
}

GraphicMedia probeGraphic(const std::string& url) {
  const std::shared_ptr<const platform::MediaFile> file = held(url);
  std::optional<platform::MediaFacts> found;
  try {
    found = platform::readMediaFacts(file);
  } catch (const platform::FileReadError& e) {
    throw ProbeError::unreadable(url, e.what());
  }
  if (!found) throw ProbeError::unreadable(url, "not a video or audio file");
  const platform::MediaFacts& facts = *found;
  if (facts.videoTracks.empty()) throw ProbeError::noVideoTrack(url);

  const auto& video = facts.videoTracks.front();
  GraphicMedia media;
  media.path = url;
  media.durationSeconds = facts.durationSeconds;
  media.frameDuration = frameDuration(video);
  media.width = roundedSize(video.width);
  media.height = roundedSize(video.height);
  media.hasVideo = true;
  media.hasAudio = !facts.audioTracks.empty();
  if (media.hasAudio) {
    const auto& audio = facts.audioTracks.front();
    if (audio.sampleRate && audio.channelCount) {
      media.audioSampleRate = *audio.sampleRate;
      media.audioChannelCount = *audio.channelCount;
    }
  }
  media.hasAlpha = video.codecTag == "ap4h" || video.codecTag == "ap4x" || video.hasAlphaChannel;
  if (auto tc = startTimecode(facts)) media.startTimecode = tc->time;
  return media;
}

}  // namespace kestrane::MediaProbe
