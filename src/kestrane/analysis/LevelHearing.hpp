#pragma once
// Whether the sound a render takes from its footage, piece by piece, is the sound the stored
// loudness was measured from. The render decodes every kept piece anyway; measured on the stored
// grid as it goes, each piece is held against the stored levels wherever it lies: sound that
// drops away where they show sound (a hole of zeros, damage decoded as near silence), or a
// stretch shaped otherwise (garbage, another recording spliced in) is found, within a piece and
// over the kept sound heard piece after piece. A copy, remux, re-encode, compression or change
// of loudness sounds the same, and so does sound an encoder moved by its delay. Where the stored
// loudness is too even to tell by (steady noise near the voice), the speech band's levels, when
// stored, are heard instead.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "kestrane/analysis/LevelMatch.hpp"
#include "kestrane/analysis/LevelMeter.hpp"

namespace kestrane::AudioAnalyzer {

class LevelHearing {
 public:
  // `stored`: the levels measured of the footage, hop k covering the samples from position
  // k × hop on (positions as startPiece takes them). `sampleRate`: the rate of the samples heard.
  // `storedSpeech`: the speech band's levels on the same hops, where the footage's are stored
  // (LevelData::speechLevelsDBFS).
  LevelHearing(std::vector<float> stored, double hopDuration, int sampleRate, std::vector<float> storedSpeech = {});

  // False when the stored levels lie on another grid than this rate's hops, or hold no sound:
  // nothing is then held against them.
  bool hears() const { return hears_; }

  // A piece begins: the samples pushed next start at position `firstSample`.
  void startPiece(std::int64_t firstSample);
  // The piece's next `frames` samples, one plane per channel.
  void push(const float* const* planes, int channels, std::size_t frames);
  // The piece is done. `soundEnd`: the position where the track's samples ended, once they
  // have (what follows is no sound of the file's, and is not held against the levels). Returns
  // the time, in seconds from position 0, where the sound first doesn't sound as stored (in this
  // piece or, once enough kept sound is heard to judge it by, an earlier one); nothing when it
  // does, or is too short to tell.
  std::optional<double> finishPiece(std::optional<std::int64_t> soundEnd);

  // How each telling stretch of kept sound heard so far sounded, for measuring how far copies and
  // other recordings lie from the bars.
  struct KeptFigure {
    std::size_t hop;  // where it starts
    double likeness;
    double changeLikeness;
  };
  const std::vector<KeptFigure>& keptFigures() const { return keptFigures_; }

 private:
  // Kept sound is heard at the shift the stretches agree on and this many hops either side.
  static constexpr int kKeptLeewayHops = 2;
  static constexpr std::size_t kKeptShifts = 2 * kKeptLeewayHops + 1;
  // One hop of kept sound: its levels and its speech band's, as stored and as heard at each shift.
  struct KeptHop {
    std::size_t hop;
    float stored;
    float storedSpeech;
    std::array<float, kKeptShifts> heard;
    std::array<float, kKeptShifts> heardSpeech;
  };
  // A stretch of kept sound that sounded otherwise than the rest may: judged once enough is heard.
  struct Doubt {
    double changeLikeness;
    std::size_t hop;  // where it starts to sound otherwise
  };

  std::optional<std::size_t> dropout(std::size_t first, const std::vector<float>& heard) const;
  std::optional<std::size_t> otherShape(std::size_t first, const std::vector<float>& heard,
                                        const std::vector<float>& heardSpeech);
  std::optional<std::size_t> keptShape(std::size_t first, const std::vector<float>& heard,
                                       const std::vector<float>& heardSpeech);
  std::optional<std::size_t> doubtConfirmed();
  // `heard` against `stored` by the speech band's levels where they are stored (the whole sound's
  // being too even over much of it) and tell (`bySpeech`), otherwise by the whole sound's.
  LevelMatch matched(const std::vector<float>& stored, const std::vector<float>& heard,
                     const std::vector<float>& storedSpeech, const std::vector<float>& heardSpeech, int maxShift,
                     bool& bySpeech) const;
  std::size_t strayFrom(const std::vector<float>& stored, const std::vector<float>& heard, double loud) const;
  // The shift the stretches heard so far line up at: the middle one.
  int agreedShift() const;
  // How much louder the sound is heard than stored, taken over the sound heard so far: the
  // middle of the differences, which no stretch of damage moves while most of it is whole.
  void noteLoudness(std::size_t first, const std::vector<float>& heard);
  double loudnessChange() const;

  static constexpr long kGainBins = 321;  // whole dB from -160 to +160

  std::vector<float> stored_;
  std::vector<float> storedSpeech_;  // empty when not stored
  double hopDuration_;
  int rate_;
  std::int64_t hop_ = 0;
  std::int64_t window_ = 0;
  bool hears_ = false;
  int margin_ = 0;         // hops the heard sound may lie earlier or later than the stored
  double loud_ = 0;        // the loud level of all the stored sound
  double speechLoud_ = 0;  // and of its speech band
  float soundLevel_ = 0;   // stored levels at or above this are sound, not a pause
  std::optional<LevelMeter> meter_;
  std::int64_t firstHop_ = 0;
  std::int64_t skip_ = 0;  // samples before the piece's first whole hop
  std::vector<float> mono_;
  std::array<std::size_t, kGainBins> changes_{};
  std::size_t changesNoted_ = 0;
  std::vector<int> shifts_;  // where each stretch that sounded as stored lined up, in hops
  // The kept sound heard and not yet held against the stored levels, hop by hop.
  std::vector<KeptHop> kept_;
  std::vector<double> changeLikenesses_;
  std::vector<Doubt> doubts_;
  std::vector<KeptFigure> keptFigures_;
};

}  // namespace kestrane::AudioAnalyzer
