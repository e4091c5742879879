#include "kestrane/transcribe/SpeechChunks.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::SpeechChunks {

namespace {

// Level in dB of each 10 ms frame.
std::vector<float> frameLevels(const std::vector<std::int16_t>& samples, std::size_t frame) {
    std::vector<float> levels;
    levels.reserve(samples.size() / frame + 1);
    for (std::size_t at = 0; at < samples.size(); at += frame) {
        const std::size_t n = std::min(frame, samples.size() - at);
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i) sum += double(samples[at + i]) * samples[at + i];
        const double rms = std::sqrt(sum / double(n)) / 32768.0;
        levels.push_back(rms > 1e-6 ? static_cast<float>(20 * std::log10(rms)) : -120.0f);
    }
    return levels;
}

float percentile(std::vector<float> values, double p) {
    if (values.empty()) return -120;
    const auto k = static_cast<std::size_t>(p * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

struct Pause {
    std::size_t first = 0;  // frames
    std::size_t last = 0;   // inclusive
    std::size_t length() const { return last - first + 1; }
    std::size_t middle() const { return (first + last) / 2; }
};

}  // namespace

std::vector<Chunk> atPauses(const std::vector<std::int16_t>& samples, int sampleRate, const Limits& limits) {
    std::vector<Chunk> chunks;
    if (samples.empty() || sampleRate <= 0) return chunks;
    const std::size_t frame = std::max<std::size_t>(1, static_cast<std::size_t>(sampleRate / 100));
    const std::vector<float> levels = frameLevels(samples, frame);

    // Quiet relative to this recording: near its noise floor and far below its speech.
    const float floorLevel = percentile(levels, 0.10);
    const float speechLevel = percentile(levels, 0.90);
    const float quiet = std::max(floorLevel + 10.0f, speechLevel - 30.0f);

    std::vector<Pause> pauses;
    const auto minFrames = static_cast<std::size_t>(limits.minPause * 100);
    for (std::size_t i = 0; i < levels.size();) {
        if (levels[i] >= quiet) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < levels.size() && levels[j + 1] < quiet) ++j;
        if (j - i + 1 >= minFrames) pauses.push_back({i, j});
        i = j + 1;
    }

    const auto minFrame = static_cast<std::size_t>(limits.minSeconds * 100);
    const auto maxFrame = static_cast<std::size_t>(limits.maxSeconds * 100);
    std::size_t start = 0;  // frames
    while (levels.size() - start > maxFrame) {
        const std::size_t lo = start + minFrame, hi = start + maxFrame;
        std::size_t cut = 0;
        std::size_t best = 0;
        for (const Pause& p : pauses) {
            const std::size_t m = p.middle();
            if (m < lo || m > hi) continue;
            if (p.length() > best) best = p.length(), cut = m;
        }
        if (best == 0) {
            cut = lo;
            // The quietest frame, the latest of equals, so chunks stay as long as allowed.
            for (std::size_t f = lo; f <= hi; ++f)
                if (levels[f] <= levels[cut]) cut = f;
        }
        chunks.push_back({start * frame, cut * frame});
        start = cut;
    }
    chunks.push_back({start * frame, samples.size()});
    return chunks;
}

}  // namespace kestrane::SpeechChunks
