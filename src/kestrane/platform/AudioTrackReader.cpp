#include "kestrane/platform/AudioTrackReader.hpp"

#include "kestrane/platform/TrackReading.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::platform {

namespace {

// Audio decodes far faster than video, so it is worth decoding through longer stretches.
constexpr double seekAheadSeconds = 10.0;
// AAC and its kin need the block before the wanted one to decode it cleanly.
constexpr double firstSeekMargin = 0.25;

}  // namespace

AudioTrackReader::AudioTrackReader(std::shared_ptr<const MediaFile> file, std::stop_token stop)
    : sound_(std::move(file), std::move(stop)) {}

AudioTrackReader::~AudioTrackReader() = default;

int AudioTrackReader::trackSampleRate() const { return sound_.stream()->codecpar->sample_rate; }

int AudioTrackReader::trackChannelCount() const { return sound_.stream()->codecpar->ch_layout.nb_channels; }

void AudioTrackReader::setOutput(int sampleRate, int channels) {
  rate_ = sampleRate;
  channels_ = channels;
  sound_.setOutput({sampleRate, channels, true});
  buffer_.assign(static_cast<std::size_t>(channels), {});
}

std::int64_t AudioTrackReader::bufferedEnd() const {
  return bufferStart_ + static_cast<std::int64_t>(buffer_[0].size());
}

std::optional<double> AudioTrackReader::statedEnd() const { return statedTrackEnd(sound_.format(), sound_.track()); }

std::optional<std::int64_t> AudioTrackReader::end() const {
  if (!ended_) return std::nullopt;
  // Nothing decoded from the track's start means no sound at all.
  return anchored_ ? bufferedEnd() : 0;
}

void AudioTrackReader::dropRead() {
  if (head_ == 0) return;
  for (auto& plane : buffer_) plane.erase(plane.begin(), plane.begin() + static_cast<std::ptrdiff_t>(head_));
  bufferStart_ += static_cast<std::int64_t>(head_);
  silenceFrom_ = bufferStart_;
  head_ = 0;
}

void AudioTrackReader::read(std::int64_t start, int count, float* const* planes) {
  const auto aheadLimit = static_cast<std::int64_t>(seekAheadSeconds * rate_);
  if (anchored_) {
    // What has been read is behind; a gap not yet read through is silence, not behind.
    const std::int64_t covered = head_ > 0 ? bufferStart_ + static_cast<std::int64_t>(head_) : silenceFrom_;
    if (start < covered || (!ended_ && start > bufferedEnd() + aheadLimit)) seekTo(start);
  } else if (fromTrackStart_ && !ended_ && start > aheadLimit) {
    seekTo(start);
  }

  int produced = 0;
  auto fill = [&](int n, const std::vector<float>* from) {
    for (int c = 0; c < channels_; ++c) {
      float* out = planes[c] + produced;
      if (from) std::copy_n(from[c].data() + head_, n, out);
      else std::fill_n(out, n, 0.0f);
    }
    produced += n;
  };

  while (produced < count) {
    const auto size = buffer_[0].size();
    if (!anchored_ || head_ >= size) {
      if (anchored_) dropRead();
      if (ended_ || !decodeMore()) {
        fill(count - produced, nullptr);
        break;
      }
      continue;
    }
    const std::int64_t want = start + produced;
    const std::int64_t available = bufferStart_ + static_cast<std::int64_t>(head_);
    const auto left = static_cast<std::int64_t>(size - head_);
    if (want < available) {
      // Before the track's first sample, or in a gap in it: silence.
      fill(static_cast<int>(std::min<std::int64_t>(available - want, count - produced)), nullptr);
    } else if (want > available) {
      head_ += static_cast<std::size_t>(std::min(want - available, left));
    } else {
      const int n = static_cast<int>(std::min<std::int64_t>(left, count - produced));
      fill(n, buffer_.data());
      head_ += static_cast<std::size_t>(n);
    }
  }

  // Drop what has been read once it outweighs what is left, so the buffer stays small.
  if (head_ > 4096 && head_ * 2 > buffer_[0].size()) dropRead();
}

bool AudioTrackReader::decodeMore() {
  if (!sound_.next(block_)) {
    ended_ = true;
    return false;
  }
  take(block_);
  return true;
}

void AudioTrackReader::take(const PlacedBlock& block) {
  if (!anchored_) {
    anchored_ = true;
    bufferStart_ = block.position;
    // From the track's start, everything before its first sample is known silence.
    silenceFrom_ = fromTrackStart_ ? 0 : block.position;
    if (fromTrackStart_) firstPosition_ = block.position;
  } else if (block.silence > 0) {
    // Decoding goes on only once what was decoded is read, so nothing is buffered here: the gap
    // is remembered, not filled, however long it is.
    dropRead();
    silenceFrom_ = bufferedEnd();
    bufferStart_ = block.position;
    for (auto& plane : buffer_) plane.clear();
  }
  for (int c = 0; c < channels_; ++c) buffer_[c].insert(buffer_[c].end(), block.data[c], block.data[c] + block.frames);
}

void AudioTrackReader::seekTo(std::int64_t position) {
  const auto landedInTime = [&] {
    restart(false);
    decodeMore();
    return anchored_ && bufferStart_ <= position;
  };
  const double seconds = static_cast<double>(position) / rate_;
  if (!seekBefore(sound_.format(), sound_.track(), seconds, firstSeekMargin, landedInTime, "audio")) restart(true);
}

void AudioTrackReader::restart(bool fromTrackStart) {
  sound_.restart(fromTrackStart);
  for (auto& plane : buffer_) plane.clear();
  head_ = 0;
  bufferStart_ = silenceFrom_ = 0;
  anchored_ = false;
  fromTrackStart_ = fromTrackStart;
  ended_ = false;
}

}  // namespace kestrane::platform
