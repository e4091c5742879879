#include "kestrane/analysis/LevelHearing.hpp"

#include <algorithm>
#include <cmath>

#include "kestrane/analysis/LevelMatch.hpp"

namespace kestrane::AudioAnalyzer {

namespace {

// The most an encoder puts ahead of the sound (AAC's 1024 samples, MP3's 1105 and its decoder's
// 529, HE-AAC's 2048): a copy's sound may lie that much later, or, against levels measured with
// the delay kept, earlier.
constexpr double kEncoderDelaySamples = 2048;
// Heard in stretches of two seconds, a second apart, so that whatever lasts a second lies whole
// in one of them.
constexpr std::size_t kStretchHops = 200;
constexpr std::size_t kStretchStepHops = 100;
// A stretch mostly of pause is not held against its levels by shape: its loud level is the edge
// of a word, which moves with the sound and the codec.
constexpr double kLeastSoundShare = 0.25;
// Sound heard this much quieter than the quietest stored level around it, loudness change set
// aside, for this many hops in a row where the stored levels show sound, is a hole or a dropout:
// a codec keeps the loudness of every stretch of speech to a few dB.
constexpr double kDropDB = 25;
constexpr std::size_t kDropHops = 5;
// Sound: stored levels this close to the loud ones, and never quieter than room tone can be.
constexpr double kSoundRangeDB = 20;
constexpr float kQuietestSoundDBFS = -60;
// Hops the stretches of a copy may lie apart: sound a copy's encoder moved lies at one shift.
constexpr int kAgreeingShiftHops = 1;
// Least likeness of two seconds of kept sound that sounds as stored. Kept pieces are speech, whose
// shape a copy keeps better than the pauses between lines the footage check also hears, so the
// bar is higher than the check's. Measured on decided cuts of the sample presenter and of flite's
// voices, heard piece after piece at the shift the stretches agree on: copies through codecs (AAC
// 32k, Opus, MP3), louder, quieter or 2048 samples later, and through compressors of ratio 20
// from -30 to -50 dB, at 0.824 or more (the least, a -45 dB compressor with 18 dB of make-up over
// awb's voice); another voice reading the same lines with the same pauses, spliced in for three
// seconds, at 0.762 or less.
constexpr double kSameSpeechLikeness = 0.79;
// Where a stretch is shaped otherwise, the first hops heard this far off the stored ones, this
// many in a row, are where it starts.
constexpr double kStrayDB = 10;
constexpr std::size_t kStrayHops = 3;

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return q * b > a ? q - 1 : q;
}

}  // namespace

LevelHearing::LevelHearing(std::vector<float> stored, double hopDuration, int sampleRate)
    : stored_(std::move(stored)), hopDuration_(hopDuration), rate_(sampleRate) {
  if (rate_ <= 0) return;
  const LevelMeter meter(rate_);
  hop_ = static_cast<std::int64_t>(meter.hop());
  window_ = static_cast<std::int64_t>(meter.window());
  std::vector<float> sounding;
  for (const float level : stored_)
    if (level > kLevelFloorDBFS) sounding.push_back(level);
  hears_ = hop_ > 0 && std::abs(meter.hopDuration() - hopDuration_) <= 1e-9 && !sounding.empty();
  if (!hears_) return;
  loud_ = loudLevel(sounding);
  soundLevel_ = std::max(static_cast<float>(loud_ - kSoundRangeDB), kQuietestSoundDBFS);
  margin_ = static_cast<int>(std::ceil(kEncoderDelaySamples / static_cast<double>(hop_))) + 1;
}

void LevelHearing::startPiece(std::int64_t firstSample) {
  if (!hears_) return;
  firstHop_ = floorDivide(firstSample + hop_ - 1, hop_);
  skip_ = firstHop_ * hop_ - firstSample;
  meter_.emplace(rate_);
}

void LevelHearing::push(const float* const* planes, int channels, std::size_t frames) {
  if (!meter_) return;
  mixToMono(planes, frames, channels, mono_);
  const auto skipped = static_cast<std::size_t>(std::min<std::int64_t>(skip_, static_cast<std::int64_t>(frames)));
  skip_ -= static_cast<std::int64_t>(skipped);
  meter_->push(mono_.data() + skipped, frames - skipped);
}

std::optional<double> LevelHearing::finishPiece(std::optional<std::int64_t> soundEnd) {
  if (!meter_) return std::nullopt;
  std::vector<float> heard = meter_->take().levelsDBFS;
  meter_.reset();
  // Hops before the stored levels begin are left out, and so are those past where they end or
  // where the track's own samples did.
  const auto before =
      static_cast<std::size_t>(std::clamp<std::int64_t>(-firstHop_, 0, static_cast<std::int64_t>(heard.size())));
  heard.erase(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(before));
  const std::int64_t first = firstHop_ + static_cast<std::int64_t>(before);
  std::int64_t last = static_cast<std::int64_t>(stored_.size());
  if (soundEnd) last = std::min(last, floorDivide(*soundEnd - window_, hop_) + 1);
  heard.resize(
      static_cast<std::size_t>(std::clamp<std::int64_t>(last - first, 0, static_cast<std::int64_t>(heard.size()))));
  if (heard.empty()) return std::nullopt;

  const auto from = static_cast<std::size_t>(first);
  noteLoudness(from, heard);
  std::optional<std::size_t> found = dropout(from, heard);
  if (!found) found = otherShape(from, heard);
  if (found) return static_cast<double>(from + *found) * hopDuration_;
  if (const std::optional<std::size_t> hop = keptShape(from, heard)) return static_cast<double>(*hop) * hopDuration_;
  return std::nullopt;
}

// The kept sound heard so far, piece after piece at the shift the stretches agree on, held
// against the stored levels in two-second stretches a second apart: pieces of a cut are often
// too short to tell by alone, and speech heard at one shift tells a recording apart more surely
// than any shift a stretch could be moved to. The hop where a stretch first sounds otherwise.
std::optional<std::size_t> LevelHearing::keptShape(std::size_t first, const std::vector<float>& heard) {
  const int shift = shifts_.empty() ? 0 : agreedShift();
  for (std::size_t i = 0; i < heard.size(); ++i) {
    const auto j = static_cast<std::ptrdiff_t>(i) + shift;
    if (j < 0 || j >= static_cast<std::ptrdiff_t>(heard.size())) continue;
    kept_.push_back({first + i, stored_[first + i], heard[static_cast<std::size_t>(j)]});
  }
  while (kept_.size() >= kStretchHops) {
    std::vector<float> stored, sounded;
    for (std::size_t i = 0; i < kStretchHops; ++i) {
      stored.push_back(kept_[i].stored);
      sounded.push_back(kept_[i].heard);
    }
    const auto sound = std::count_if(stored.begin(), stored.end(), [&](float level) { return level >= soundLevel_; });
    const LevelMatch match = static_cast<double>(sound) >= kLeastSoundShare * static_cast<double>(kStretchHops)
                                 ? matchLevels(stored, sounded, 0, loud_)
                                 : LevelMatch{};
    if (match.telling && match.likeness < kSameSpeechLikeness) return keptStrayFrom(stored, sounded);
    kept_.erase(kept_.begin(), kept_.begin() + kStretchStepHops);
  }
  return std::nullopt;
}

// The first of kDropHops heard hops in a row that show sound in the stored levels but are heard,
// with the loudness change set aside, far quieter than any stored level as far either side as
// the sound may have moved.
std::optional<std::size_t> LevelHearing::dropout(std::size_t first, const std::vector<float>& heard) const {
  const auto margin = static_cast<std::size_t>(margin_);
  const double gain = loudnessChange();
  std::size_t run = 0;
  for (std::size_t i = 0; i < heard.size(); ++i) {
    const std::size_t k = first + i;
    bool dropped = stored_[k] >= soundLevel_;
    for (std::size_t j = k > margin ? k - margin : 0; dropped && j <= k + margin && j < stored_.size(); ++j)
      dropped = heard[i] - gain < stored_[j] - kDropDB;
    run = dropped ? run + 1 : 0;
    if (run == kDropHops) return i + 1 - kDropHops;
  }
  return std::nullopt;
}

void LevelHearing::noteLoudness(std::size_t first, const std::vector<float>& heard) {
  for (std::size_t i = 0; i < heard.size(); ++i) {
    if (stored_[first + i] < soundLevel_ || heard[i] <= kLevelFloorDBFS) continue;
    const auto bin = std::lround(heard[i] - stored_[first + i]) + kGainBins / 2;
    ++changes_[static_cast<std::size_t>(std::clamp<long>(bin, 0, kGainBins - 1))];
    ++changesNoted_;
  }
}

double LevelHearing::loudnessChange() const {
  std::size_t below = 0;
  for (std::size_t bin = 0; bin < changes_.size(); ++bin) {
    below += changes_[bin];
    if (below * 2 > changesNoted_) return static_cast<double>(bin) - kGainBins / 2;
  }
  return 0;
}

// Where a two-second stretch of the heard levels, lined up as well as the sound may have moved,
// is shaped otherwise than the stored one: its first hops heard well off the stored ones.
std::optional<std::size_t> LevelHearing::otherShape(std::size_t first, const std::vector<float>& heard) {
  const auto margin = static_cast<std::size_t>(margin_);
  if (heard.size() <= 2 * margin) return std::nullopt;
  const std::size_t length = std::min(kStretchHops, heard.size() - 2 * margin);
  const std::size_t lastStart = heard.size() - margin - length;
  for (std::size_t start = margin;; start = std::min(start + kStretchStepHops, lastStart)) {
    const auto at = [&](std::size_t i) { return static_cast<std::ptrdiff_t>(i); };
    const std::vector<float> stored(stored_.begin() + at(first + start), stored_.begin() + at(first + start + length));
    const auto sound = std::count_if(stored.begin(), stored.end(), [&](float level) { return level >= soundLevel_; });
    LevelMatch match;
    if (static_cast<double>(sound) >= kLeastSoundShare * static_cast<double>(length)) {
      // A copy lies at one shift all through (none, or an encoder's delay): once stretches have
      // shown it, each is heard at that shift alone, where another recording can't be lined up
      // with its levels by moving it as far as a copy may lie.
      const int leeway = shifts_.empty() ? margin_ : kAgreeingShiftHops;
      const int centre = shifts_.empty() ? 0 : std::clamp(agreedShift(), leeway - margin_, margin_ - leeway);
      const std::vector<float> around(heard.begin() + at(start) + centre - leeway,
                                      heard.begin() + at(start + length) + centre + leeway);
      match = matchLevels(stored, around, leeway, loud_);
      match.shift += centre;
    }
    if (match.telling && match.likeness < kSameSoundLikeness) {
      const std::vector<float> lined(heard.begin() + at(start), heard.begin() + at(start + length));
      const double loud = loudLevel(stored);
      const double gain = loudLevel(lined) - loud;
      const double floor = std::max(loud - kComparedRangeDB, kLevelFloorDBFS - std::min(gain, 0.0));
      std::size_t run = 0;
      for (std::size_t i = 0; i < length; ++i) {
        const double h = std::max<double>(heard[static_cast<std::size_t>(at(i + start) + match.shift)] - gain, floor);
        run = std::abs(h - std::max<double>(stored[i], floor)) > kStrayDB ? run + 1 : 0;
        if (run == kStrayHops) return start + i + 1 - kStrayHops;
      }
      return start;
    }
    if (match.telling) shifts_.push_back(match.shift);
    if (start == lastStart) return std::nullopt;
  }
}

// Where a stretch of kept sound that sounds otherwise starts: its first hops heard well off the
// stored ones, loudness change set aside; its first hop when no such run stands out.
std::size_t LevelHearing::keptStrayFrom(const std::vector<float>& stored, const std::vector<float>& heard) const {
  const double floor = loud_ - kComparedRangeDB;
  const double gain = loudnessChange();
  std::size_t run = 0;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const double h = std::max(heard[i] - gain, floor);
    run = std::abs(h - std::max<double>(stored[i], floor)) > kStrayDB ? run + 1 : 0;
    if (run == kStrayHops) return kept_[i + 1 - kStrayHops].hop;
  }
  return kept_.front().hop;
}

int LevelHearing::agreedShift() const {
  std::vector<int> sorted = shifts_;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  return sorted[sorted.size() / 2];
}

}  // namespace kestrane::AudioAnalyzer
