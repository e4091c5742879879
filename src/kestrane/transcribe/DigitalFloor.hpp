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
// Shorter floor stretches are pauses inside speech and stay in the audio around them: cutting
// there would decode each side as an utterance of its own, which changes the words heard.
inline constexpr double kMinSeconds = 2.0;
// Beside sound a floor stretch keeps this much, so the recognizer hears each onset from quiet
// as it would have without the cut.
inline constexpr double kMarginSeconds = 0.25;

// The parts of each chunk outside floor stretches (less the margins beside sound), in order; a
// chunk entirely at the floor gives none.
std::vector<SpeechChunks::Chunk> withoutFloor(const std::vector<SpeechChunks::Chunk>& chunks,
                                              const std::vector<std::int16_t>& samples, int sampleRate);

}  // namespace kestrane::DigitalFloor
