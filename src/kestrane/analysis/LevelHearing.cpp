#include "kestrane/analysis/LevelHearing.hpp"

#include <algorithm>
#include <cmath>

#include "kestrane/model/CodecSlack.hpp"

namespace kestrane::AudioAnalyzer {

namespace {

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
// The renderer's bars are measured (bench/margins) on eight readings with false starts, retakes
// and chatter between takes off the microphone, in flite's awb, kal, kal16 (kal's timing at
// another rate, so never another voice to it), rms and slt voices and festival's, each in a quiet
// room and under steady white and brown noise 6 and 4 dB and pink noise 2 and 1 dB below the
// voice: 56 footages, heard through pieces of three seconds, one and a third of one, 0.4 s
// apart, as a decided cut's are. Their copies are AAC at 24 and 32 kb/s, Opus at 16 and 24, MP3
// at 32, a remux, 8 dB louder, 15 dB quieter, and compressors of ratio 20 at -30, -40, -45 and
// -50 dB with 10 to 20 dB of make-up, the last also at 24 kb/s: all 728 render. The others are
// another voice reading the same lines with the same pauses, spliced in for three seconds at 6,
// 12 and 18 s: all 96 in a quiet room fail, and 132 of 144 under noise (the same noise, sample
// for sample, spliced in with the other voice). Of the 12 that render, 11 replace a false start,
// chatter off the microphone and a pause under noise as loud as them, where the stored sound is
// the noise itself; one lies under pink noise 1 dB below the voice.
//
// Two seconds of heard sound less alike than this are another recording whatever the rest sounds
// like: copies lie at 0.82 or more in a quiet room and 0.57 or more under noise (the least a
// -50 dB compressor at 24 kb/s over brown noise, which the footage check refuses twice in eight);
// a splice below it needs no more, and one above it dips (below).
constexpr double kOtherSoundLikeness = 0.45;
// Two seconds of kept sound are told by how their levels change (LevelMatch::changeLikeness),
// against how alike the rest of the kept sound is heard: a copy is alike all through, a
// compressor's or a low bit rate's blur lowering every stretch together, while another recording
// spliced in dips where it lies. Copies lie at most 0.22 below the middle of their own kept
// stretches; splices at least 0.48 below it in a quiet room, and at least 0.41 under noise where
// the voice stands out of it.
constexpr double kChangeDip = 0.35;
// Stretches that may dip are judged once this many telling stretches of kept sound are heard,
// so that the two a splice of three seconds lies across whole never make the middle they are held
// against; under noise, where as few as a third of them tell, half a minute of kept sound has about
// so many.
constexpr std::size_t kJudgingStretches = 6;
// Where a stretch is shaped otherwise, the first hops heard this far off the stored ones, this
// many in a row, are where it starts.
constexpr double kStrayDB = 10;
constexpr std::size_t kStrayHops = 3;

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return q * b > a ? q - 1 : q;
}

double middle(std::vector<double> values) {
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

// `levels` from hop `first` on, `count` of them.
std::vector<float> slice(const std::vector<float>& levels, std::size_t first, std::size_t count) {
  const auto from = levels.begin() + static_cast<std::ptrdiff_t>(first);
  return {from, from + static_cast<std::ptrdiff_t>(count)};
}

}  // namespace

LevelHearing::LevelHearing(std::vector<float> stored, double hopDuration, int sampleRate,
                           std::vector<float> storedSpeech)
    : stored_(std::move(stored)), storedSpeech_(std::move(storedSpeech)), hopDuration_(hopDuration), rate_(sampleRate) {
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
  margin_ = static_cast<int>(std::ceil(CodecSlack::kEncoderDelaySamples / static_cast<double>(hop_))) + 1;
  // Speech levels on other hops than the levels' are none.
  if (storedSpeech_.size() != stored_.size()) storedSpeech_.clear();
  if (!storedSpeech_.empty()) speechLoud_ = loudLevel(storedSpeech_);
}

void LevelHearing::startPiece(std::int64_t firstSample) {
  if (!hears_) return;
  firstHop_ = floorDivide(firstSample + hop_ - 1, hop_);
  skip_ = firstHop_ * hop_ - firstSample;
  meter_.emplace(rate_, !storedSpeech_.empty());
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
  LevelTrack track = meter_->take();
  meter_.reset();
  std::vector<float>& heard = track.levelsDBFS;
  std::vector<float>& heardSpeech = track.speechLevelsDBFS;
  // Hops before the stored levels begin are left out, and so are those past where they end or
  // where the track's own samples did.
  const auto before =
      static_cast<std::size_t>(std::clamp<std::int64_t>(-firstHop_, 0, static_cast<std::int64_t>(heard.size())));
  const std::int64_t first = firstHop_ + static_cast<std::int64_t>(before);
  std::int64_t last = static_cast<std::int64_t>(stored_.size());
  if (soundEnd) last = std::min(last, floorDivide(*soundEnd - window_, hop_) + 1);
  const auto kept = static_cast<std::size_t>(
      std::clamp<std::int64_t>(last - first, 0, static_cast<std::int64_t>(heard.size() - before)));
  for (std::vector<float>* levels : {&heard, &heardSpeech}) {
    if (levels->empty()) continue;
    levels->erase(levels->begin(), levels->begin() + static_cast<std::ptrdiff_t>(before));
    levels->resize(kept);
  }
  if (heard.empty()) return std::nullopt;

  const auto from = static_cast<std::size_t>(first);
  noteLoudness(from, heard);
  std::optional<std::size_t> found = dropout(from, heard);
  if (!found) found = otherShape(from, heard, heardSpeech);
  // The kept sound is heard whole, whatever the piece showed.
  const std::optional<std::size_t> stray = keptShape(from, heard, heardSpeech);
  if (found) return static_cast<double>(from + *found) * hopDuration_;
  if (stray) return static_cast<double>(*stray) * hopDuration_;
  return std::nullopt;
}

LevelMatch LevelHearing::matched(const std::vector<float>& stored, const std::vector<float>& heard,
                                 const std::vector<float>& storedSpeech, const std::vector<float>& heardSpeech,
                                 int maxShift, bool& bySpeech) const {
  bySpeech = !storedSpeech.empty();
  if (bySpeech) {
    LevelMatch match = matchLevels(storedSpeech, heardSpeech, maxShift, speechLoud_);
    if (match.telling) return match;
    bySpeech = false;
  }
  return matchLevels(stored, heard, maxShift, loud_);
}

// The kept sound heard so far, piece after piece at the shift the stretches agree on (give or
// take the hop or two a compressor's attack moves it), held against the stored levels in
// two-second stretches a second apart: pieces of a cut are often too short to tell by alone, and
// speech heard at one shift tells a recording apart more surely than any shift a stretch could be
// moved to. The hop where a stretch first sounds otherwise: one less alike than any copy at once,
// one that dips below the rest of the kept sound once enough of it is heard.
std::optional<std::size_t> LevelHearing::keptShape(std::size_t first, const std::vector<float>& heard,
                                                   const std::vector<float>& heardSpeech) {
  const int shift = shifts_.empty() ? 0 : agreedShift();
  const bool speech = !storedSpeech_.empty();
  const auto size = static_cast<std::ptrdiff_t>(heard.size());
  for (std::ptrdiff_t i = 0; i < size; ++i) {
    if (i + shift < 0 || i + shift >= size) continue;
    const auto k = first + static_cast<std::size_t>(i);
    KeptHop hop{k, stored_[k], speech ? storedSpeech_[k] : 0.0f, {}, {}};
    // Each shift's hop, or the piece's nearest where it lies past the piece.
    for (std::size_t s = 0; s < kKeptShifts; ++s) {
      const auto at = static_cast<std::size_t>(
          std::clamp<std::ptrdiff_t>(i + shift + static_cast<int>(s) - kKeptLeewayHops, 0, size - 1));
      hop.heard[s] = heard[at];
      if (speech) hop.heardSpeech[s] = heardSpeech[at];
    }
    kept_.push_back(hop);
  }
  std::optional<std::size_t> found;
  while (kept_.size() >= kStretchHops) {
    std::vector<float> stored, storedSpeech;
    for (std::size_t i = 0; i < kStretchHops; ++i) {
      stored.push_back(kept_[i].stored);
      if (speech) storedSpeech.push_back(kept_[i].storedSpeech);
    }
    const auto sound = std::count_if(stored.begin(), stored.end(), [&](float level) { return level >= soundLevel_; });
    if (static_cast<double>(sound) >= kLeastSoundShare * static_cast<double>(kStretchHops)) {
      // Each rule takes the shift that fits it best.
      LevelMatch best;
      std::vector<float> lined, linedSpeech;
      bool bySpeech = false;
      for (std::size_t s = 0; s < kKeptShifts; ++s) {
        std::vector<float> sounded, soundedSpeech;
        for (std::size_t i = 0; i < kStretchHops; ++i) {
          sounded.push_back(kept_[i].heard[s]);
          if (speech) soundedSpeech.push_back(kept_[i].heardSpeech[s]);
        }
        bool told = false;
        const LevelMatch match = matched(stored, sounded, storedSpeech, soundedSpeech, 0, told);
        if (!match.telling) continue;
        best.changeLikeness = best.telling ? std::max(best.changeLikeness, match.changeLikeness) : match.changeLikeness;
        if (!best.telling || match.likeness > best.likeness) {
          best.likeness = match.likeness;
          bySpeech = told;
          lined = std::move(sounded);
          linedSpeech = std::move(soundedSpeech);
        }
        best.telling = true;
      }
      if (best.telling) {
        const auto stray = [&] {
          return bySpeech ? strayFrom(storedSpeech, linedSpeech, speechLoud_) : strayFrom(stored, lined, loud_);
        };
        keptFigures_.push_back({kept_.front().hop, best.likeness, best.changeLikeness});
        if (best.likeness < kOtherSoundLikeness) {
          if (!found) found = stray();
        } else {
          changeLikenesses_.push_back(best.changeLikeness);
          // One that can't lie far enough below the rest needs no judging.
          if (best.changeLikeness < 1 - kChangeDip) doubts_.push_back({best.changeLikeness, stray()});
        }
      }
    }
    kept_.erase(kept_.begin(), kept_.begin() + kStretchStepHops);
  }
  const std::optional<std::size_t> confirmed = doubtConfirmed();
  return found ? found : confirmed;
}

// The first doubtful stretch of kept sound that lies far below the middle of all heard, once
// enough is heard to judge by.
std::optional<std::size_t> LevelHearing::doubtConfirmed() {
  if (doubts_.empty() || changeLikenesses_.size() < kJudgingStretches) return std::nullopt;
  const double bar = middle(changeLikenesses_) - kChangeDip;
  for (const Doubt& doubt : doubts_)
    if (doubt.changeLikeness < bar) return doubt.hop;
  doubts_.clear();
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
// is shaped otherwise than the stored one, as the footage check holds its stretches: its first
// hops heard well off the stored ones. Every stretch that tells, whole or of a shorter piece, shows
// where the sound lies.
std::optional<std::size_t> LevelHearing::otherShape(std::size_t first, const std::vector<float>& heard,
                                                    const std::vector<float>& heardSpeech) {
  const auto margin = static_cast<std::size_t>(margin_);
  if (heard.size() <= 2 * margin) return std::nullopt;
  const std::size_t length = std::min(kStretchHops, heard.size() - 2 * margin);
  const std::size_t lastStart = heard.size() - margin - length;
  for (std::size_t start = margin;; start = std::min(start + kStretchStepHops, lastStart)) {
    const std::vector<float> stored = slice(stored_, first + start, length);
    const std::vector<float> storedSpeech =
        storedSpeech_.empty() ? std::vector<float>{} : slice(storedSpeech_, first + start, length);
    const auto sound = std::count_if(stored.begin(), stored.end(), [&](float level) { return level >= soundLevel_; });
    // The heard levels `shift` hops later than the stored, and `leeway` either side.
    const auto around = [&](const std::vector<float>& levels, int shift, int leeway) {
      return levels.empty() ? levels
                            : slice(levels, static_cast<std::size_t>(static_cast<int>(start) + shift - leeway),
                                    length + 2 * static_cast<std::size_t>(leeway));
    };
    if (static_cast<double>(sound) < kLeastSoundShare * static_cast<double>(length)) {
      if (start == lastStart) return std::nullopt;
      continue;
    }
    bool bySpeech = false;
    LevelMatch match =
        matched(stored, around(heard, 0, margin_), storedSpeech, around(heardSpeech, 0, margin_), margin_, bySpeech);
    if (!match.telling) {
      if (start == lastStart) return std::nullopt;
      continue;
    }
    // Where its syllables line up shows where the sound lies: a compressor's attack and release
    // move where the levels fit best, not that.
    const bool moved = match.changeLikeness - match.changeLikenessUnshifted >= kShownShiftLikeness;
    shifts_.push_back(moved ? match.changeShift : 0);
    // A copy lies at one shift all through (none, or an encoder's delay): once stretches have
    // shown it, each is heard at that shift alone, where another recording can't be lined up
    // with its levels by moving it as far as a copy may lie.
    if (shifts_.size() > 1) {
      const int centre = std::clamp(agreedShift(), kAgreeingShiftHops - margin_, margin_ - kAgreeingShiftHops);
      match = matched(stored, around(heard, centre, kAgreeingShiftHops), storedSpeech,
                      around(heardSpeech, centre, kAgreeingShiftHops), kAgreeingShiftHops, bySpeech);
      match.shift += centre;
    }
    // A stretch of a shorter piece only shows where the sound lies: the footage check's bar is
    // for two seconds, and less of a squeezed copy's speech can lie below it.
    if (match.telling && match.likeness < kOtherSoundLikeness && length == kStretchHops) {
      const std::vector<float>& levels = bySpeech ? heardSpeech : heard;
      const std::vector<float>& told = bySpeech ? storedSpeech : stored;
      const std::vector<float> lined =
          slice(levels, static_cast<std::size_t>(static_cast<int>(start) + match.shift), length);
      const double loud = loudLevel(told);
      const double gain = loudLevel(lined) - loud;
      const double floor = std::max(loud - kComparedRangeDB, kLevelFloorDBFS - std::min(gain, 0.0));
      std::size_t run = 0;
      for (std::size_t i = 0; i < length; ++i) {
        const double h = std::max<double>(lined[i] - gain, floor);
        run = std::abs(h - std::max<double>(told[i], floor)) > kStrayDB ? run + 1 : 0;
        if (run == kStrayHops) return start + i + 1 - kStrayHops;
      }
      return start;
    }
    if (start == lastStart) return std::nullopt;
  }
}

// Where a stretch of kept sound that sounds otherwise starts: its first hops heard well off the
// stored ones, loudness change set aside; its first hop when no such run stands out.
std::size_t LevelHearing::strayFrom(const std::vector<float>& stored, const std::vector<float>& heard,
                                    double loud) const {
  const double floor = loud - kComparedRangeDB;
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
