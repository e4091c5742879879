#pragma once
// Tells a held sound ("uhhh", "mmm") from a stretch of words by how steady it is: a hesitation
// keeps one vowel or hum at an even loudness, while words rise and fall with every syllable and
// noises hiss.
#include <cstddef>
#include <cstdint>

namespace kestrane::HeldSound {

struct Measure {
    double loudnessSpreadDB = 0;  // standard deviation of the 10 ms levels
    double deepestDipDB = 0;      // how far the quietest 10 ms falls below the median
    double crossingsPerSample = 0;  // zero crossings: low for voiced sound, high for hiss
};

Measure measure(const std::int16_t* samples, std::size_t count, int sampleRate);

// True for a steady voiced sound of at least a quarter of a second.
bool isHeld(const std::int16_t* samples, std::size_t count, int sampleRate);

}  // namespace kestrane::HeldSound
