#include "app/core/KeptRangesDevice.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrane::app {

namespace KeptTimeline {

double playedSeconds(const std::vector<TimeRange>& keeps, double sourceSeconds) {
  double played = 0;
  for (const TimeRange& keep : keeps) {
    if (sourceSeconds < keep.start) break;
    if (sourceSeconds < keep.end) return played + (sourceSeconds - keep.start);
    played += keep.duration();
  }
  return played;
}

std::optional<double> sourceSeconds(const std::vector<TimeRange>& keeps, double playedSeconds) {
  for (const TimeRange& keep : keeps) {
    if (playedSeconds <= keep.duration()) return keep.start + playedSeconds;
    playedSeconds -= keep.duration();
  }
  if (keeps.empty()) return std::nullopt;
  return keeps.back().end;
}

}  // namespace KeptTimeline

KeptRangesDevice::KeptRangesDevice(std::shared_ptr<const AuditionPcm> pcm, const std::vector<TimeRange>& keeps,
                                   QObject* parent)
    : QIODevice(parent), pcm_(std::move(pcm)), keeps_(keeps) {
  const auto available = qint64(pcm_->samples.size());
  const double rate = pcm_->sampleRate;
  for (const TimeRange& keep : keeps_) {
    const qint64 first = std::clamp<qint64>(std::llround(keep.start * rate), 0, available);
    const qint64 last = std::clamp<qint64>(std::llround(keep.end * rate), first, available);
    spans_.push_back({first, last - first, totalFrames_});
    totalFrames_ += last - first;
  }
  open(QIODevice::ReadOnly);
}

void KeptRangesDevice::seekSource(double sourceSeconds) {
  const double played = KeptTimeline::playedSeconds(keeps_, sourceSeconds);
  const qint64 frame = std::clamp<qint64>(std::llround(played * pcm_->sampleRate), 0, totalFrames_);
  seek(frame * qint64(sizeof(std::int16_t)));
}

double KeptRangesDevice::playedSecondsAt(qint64 bytePosition) const {
  return double(bytePosition / qint64(sizeof(std::int16_t))) / pcm_->sampleRate;
}

qint64 KeptRangesDevice::readData(char* data, qint64 maxSize) {
  constexpr auto sampleBytes = qint64(sizeof(std::int16_t));
  qint64 frame = pos() / sampleBytes;
  qint64 wanted = maxSize / sampleBytes;
  qint64 written = 0;
  // The span holding `frame`: the last one starting at or before it.
  auto span =
      std::upper_bound(spans_.begin(), spans_.end(), frame, [](qint64 f, const Span& s) { return f < s.played; });
  if (span != spans_.begin()) --span;
  for (; span != spans_.end() && wanted > 0; ++span) {
    const qint64 offset = frame - span->played;
    if (offset >= span->frames) continue;
    const qint64 count = std::min(wanted, span->frames - offset);
    std::memcpy(data + written * sampleBytes, pcm_->samples.data() + span->first + offset,
                std::size_t(count * sampleBytes));
    written += count;
    wanted -= count;
    frame += count;
  }
  if (frame >= totalFrames_) {
    const qint64 silence = std::clamp<qint64>(totalFrames_ + silenceFrames_ - frame, 0, wanted);
    std::memset(data + written * sampleBytes, 0, std::size_t(silence * sampleBytes));
    written += silence;
  }
  return written * sampleBytes;
}

}  // namespace kestrane::app
