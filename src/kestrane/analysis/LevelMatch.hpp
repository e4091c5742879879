#pragma once
// Whether a stretch of sound heard now is the stretch a stored loudness envelope was measured
// from. Levels are compared by how they rise and fall together, not by their loudness: a copy
// made louder or quieter, squeezed by a compressor, or re-encoded at another bit rate or codec,
// keeps that shape; another recording, the same one played backwards, trimmed at its start or
// played faster does not. Quiet levels far below the recording's loud ones say little (a codec
// wipes room tone away) and are compared only as "quiet".
#include <cstddef>
#include <vector>

namespace kestrane::AudioAnalyzer {

struct LevelMatch {
  // The stored stretch has enough speech, rising and falling enough, for its shape to tell one
  // recording from another; a flat one (a steady hum) or one that is nearly all room tone tells
  // nothing and the rest is left at its defaults.
  bool telling = false;
  // How far, in hops, the heard levels best line up with the stored ones: positive when the
  // heard sound comes later than the stored one.
  int shift = 0;
  // How closely the heard levels follow the stored ones, loudness set aside: their correlation
  // over the compared range, 1 for the same shape; at the best shift and at no shift.
  double likeness = 0;
  double likenessUnshifted = 0;
  // How closely the heard levels follow the stored ones as they change: the correlation of how
  // far each changes over a few hops, at the shift where it is highest (and at no shift). It
  // leaves aside the pauses between words, which another voice reading the same lines with the
  // same pauses shares, and hears the syllables, which it doesn't. A compressor's attack and
  // release blur it alike all through a copy, and move where the levels fit best by a few hops,
  // but not where their changes do.
  int changeShift = 0;
  double changeLikeness = 0;
  double changeLikenessUnshifted = 0;
};

// Least likeness at which a telling stretch is the same sound. Measured on the 2 s stretches the
// footage check hears, over six synthetic reads (four flite voices and festival's, stereo with
// room tone, and the sample presenter), in each one's least like stretch: the same recording
// remuxed or re-encoded (AAC down to 12 kb/s, Opus down to 8, MP3 down to 32) lies at 0.90 or
// more, band-limited, denoised, gated or with an echo at 0.90 or more, normalized or through a
// compressor of ratio 20 from −30 to −50 dB at 0.74 or more (one that also lifts the room tone
// to the speech, by 30 dB, fell to 0.55 and is refused); another voice reading the same lines,
// the recording reversed, or trimmed by a second at 0.42 or less, and the same voice's lines
// moved or read again with other pauses at 0.54 or less where the stretch spans the change. On the
// speech band's levels of footage under steady noise (eight readings with chatter between takes
// under white and brown noise 6 and 4 dB and pink noise 2 and 1 dB below the voice, bench/
// margins), the check takes 622 of 624 copies for the footage (the two it refuses went through a
// -50 dB compressor at 24 kb/s over brown noise) and none of 96 other voices under the very same
// noise; in a quiet room all 104 copies and none of 32 other voices.
inline constexpr double kSameSoundLikeness = 0.65;
// Sound that lines up better moved than in place by at least this much shows a shift; less is a
// compressor's attack or a codec's blur moving the best fit by a hop or two.
inline constexpr double kShownShiftLikeness = 0.05;
// Levels further than this below the loud ones are room tone and codec noise, which a copy need
// not keep: they are compared only as quiet.
inline constexpr double kComparedRangeDB = 35;

// The loud level of `levels` (not empty): nine in ten lie at or below it, so a single click
// moves it no more than a dropout moves the quiet ones.
double loudLevel(const std::vector<float>& levels);

// True when `stored`, a stretch of stored levels whose recording's loud level is `loud`, is long
// enough and has enough speech, rising and falling enough, for its shape to tell one recording
// from another (LevelMatch::telling).
bool tells(const std::vector<float>& stored, double loud);

// Of the two-second stretches, a second apart, of a whole recording's levels that hold speech,
// the share that tell: near 1 for speech in a quiet room, near 0 for speech under steady noise
// near its loudness. 1 when none holds speech.
double tellingShare(const std::vector<float>& levels);

// `stored` is a stretch of stored levels and `loud` the loud level of all of them; `heard` the
// levels measured now over the same stretch widened by `maxShift` hops on each side, so that
// heard[maxShift + i] lies where stored[i] does.
LevelMatch matchLevels(const std::vector<float>& stored, const std::vector<float>& heard, int maxShift, double loud);

// What the telling stretches of one recording say together.
struct Agreement {
  // They line up at shifts further apart than the leeway: the sound drifts against the stored
  // one (played faster or slower) or its parts moved apart (lines moved or read again).
  bool drifts = false;
  // Otherwise the shift they line up at (the middle one), and how much more alike they are
  // there than in place, on average.
  int shift = 0;
  double likenessGained = 0;
};

// Matches that aren't telling are left out; none telling agree on no shift.
Agreement agreementOf(const std::vector<LevelMatch>& matches, int leewayHops);

}  // namespace kestrane::AudioAnalyzer
