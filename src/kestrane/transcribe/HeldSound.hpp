#pragma once
// Tells a held sound ("uhhh", "mmm") from a stretch of words by how steady it is: a hesitation
// keeps one vowel or hum at an even loudness, while words rise and fall with every syllable and
// noises hiss.
#include <cstddef>
#include <cstdint>

namespace kestrane::HeldSound {

struct Measure {
  double loudnessSpreadDB = 0;    // standard deviation of the 10 ms levels
  double deepestDipDB = 0;        // how far the quietest 10 ms falls below the median
  double crossingsPerSample = 0;  // zero crossings: low for voiced sound, high for hiss
};

Measure measure(const std::int16_t* samples, std::size_t count, int sampleRate);

// True for a steady voiced sound of at least a quarter of a second.
bool isHeld(const std::int16_t* samples, std::size_t count, int sampleRate);

// The held sound inside a stretch the recognizer heard no word in: the longest run of 10 ms
// frames at `minLevelDB` (dBFS) or louder, when it passes isHeld. As samples [first, last) of the
// stretch; last == first when there is none.
struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
};
Span heldWithin(const std::int16_t* samples, std::size_t count, int sampleRate, double minLevelDB);

// Level in dBFS of the 10 ms frame at `fraction` of the way from the quietest (0) to the loudest
// (1).
double frameLevelDB(const std::int16_t* samples, std::size_t count, int sampleRate, double fraction);

}  // namespace kestrane::HeldSound
