#pragma once
// Splits a recording at its pauses into stretches the recognizer decodes independently, so that
// several decoders can work side by side. The split depends on the audio alone, never on the
// number of decoders, so every run yields the same words.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane::SpeechChunks {

struct Chunk {
    std::size_t begin = 0;  // first sample
    std::size_t end = 0;    // one past the last sample
};

struct Limits {
    double minSeconds = 3;     // no cut closer than this to the chunk's start
    double maxSeconds = 30;    // a cut is forced by then
    double minPause = 0.25;    // quiet stretch that counts as a pause
};

// Chunks covering [0, samples.size()) in order, cut in the middle of the longest pause within
// each chunk's allowed span (at its quietest 10 ms when there is no pause).
std::vector<Chunk> atPauses(const std::vector<std::int16_t>& samples, int sampleRate, const Limits& limits = {});

}  // namespace kestrane::SpeechChunks
