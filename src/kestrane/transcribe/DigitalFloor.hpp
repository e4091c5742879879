#pragma once
// Stretches of 16-bit audio at the digital floor: samples that are zero or within the last bit
// or two of it, as muted, gated or generated silence leaves them. No microphone's room tone
// stays that low, so nothing said can lie there, and the recognizer, fed such a stretch,
// invents words; it is never given one.
#include <cstdint>
#include <vector>

#include "kestrane/transcribe/SpeechChunks.hpp"

namespace kestrane::DigitalFloor {

// Largest sample magnitude that still counts as the floor (about -84 dBFS).
inline constexpr int kFloorMagnitude = 2;
// Shorter floor stretches stay inside the audio around them.
inline constexpr double kMinSeconds = 0.2;

// The parts of each chunk outside floor stretches, in order; a chunk entirely at the floor
// gives none.
std::vector<SpeechChunks::Chunk> withoutFloor(const std::vector<SpeechChunks::Chunk>& chunks,
                                              const std::vector<std::int16_t>& samples, int sampleRate);

}  // namespace kestrane::DigitalFloor
