#include "kestrane/transcribe/DigitalFloor.hpp"

#include <algorithm>
#include <cstdlib>

namespace kestrane::DigitalFloor {

std::vector<SpeechChunks::Chunk> withoutFloor(const std::vector<SpeechChunks::Chunk>& chunks,
                                              const std::vector<std::int16_t>& samples, int sampleRate) {
  const auto minRun = static_cast<std::size_t>(kMinSeconds * std::max(sampleRate, 1));
  const auto margin = static_cast<std::size_t>(kMarginSeconds * std::max(sampleRate, 1));
  std::vector<SpeechChunks::Chunk> parts;
  for (const auto& chunk : chunks) {
    const std::size_t end = std::min(chunk.end, samples.size());
    std::size_t partStart = chunk.begin;
    std::size_t at = chunk.begin;
    while (at < end) {
      if (std::abs(static_cast<int>(samples[at])) > kFloorMagnitude) {
        ++at;
        continue;
      }
      std::size_t runEnd = at;
      while (runEnd < end && std::abs(static_cast<int>(samples[runEnd])) <= kFloorMagnitude) ++runEnd;
      if (runEnd - at >= minRun) {
        const std::size_t cutFrom = at == chunk.begin ? at : at + margin;
        const std::size_t cutTo = runEnd == end ? end : runEnd - margin;
        if (cutFrom > partStart) parts.push_back({partStart, cutFrom});
        partStart = cutTo;
      }
      at = runEnd;
    }
    if (end > partStart) parts.push_back({partStart, end});
  }
  return parts;
}

}  // namespace kestrane::DigitalFloor
