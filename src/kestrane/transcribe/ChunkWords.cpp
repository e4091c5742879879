#include "kestrane/transcribe/ChunkWords.hpp"

#include <algorithm>

namespace kestrane::ChunkWords {

namespace {

double middle(const TranscriptWord& word) { return (word.range.start + word.range.end) / 2; }

}  // namespace

bool owns(const SpeechChunks::Chunk& chunk, const TranscriptWord& word, int sampleRate) {
  const double at = middle(word) * sampleRate;
  return at >= double(chunk.begin) && at < double(chunk.end);
}

std::vector<TranscriptWord> joined(const std::vector<SpeechChunks::Chunk>& chunks,
                                   std::vector<std::vector<TranscriptWord>> perChunk, int sampleRate) {
  std::vector<TranscriptWord> out;
  // Where the chunk that gave the last word kept so far ends (seconds).
  double keptTo = 0;
  for (std::size_t i = 0; i < chunks.size() && i < perChunk.size(); ++i) {
    std::vector<TranscriptWord>& words = perChunk[i];
    if (words.empty()) continue;
    const double begin = double(chunks[i].begin) / sampleRate;
    std::size_t first = 0;
    if (!out.empty() && words.front().range.overlaps(out.back().range) && words.front().text == out.back().text) {
      if (middle(words.front()) - begin > keptTo - middle(out.back())) out.pop_back();
      else first = 1;
    }
    if (!out.empty() && first < words.size() && words[first].range.start < out.back().range.end) {
      // Every word kept so far has its middle before `keptTo`, and every word of this chunk at
      // or after `begin`: meeting between them leaves each word a part of its own.
      const double meet = std::clamp((words[first].range.start + out.back().range.end) / 2, keptTo, begin);
      for (auto w = out.rbegin(); w != out.rend() && w->range.end > meet; ++w) w->range.end = meet;
      for (std::size_t j = first; j < words.size() && words[j].range.start < meet; ++j) words[j].range.start = meet;
    }
    out.insert(out.end(), std::make_move_iterator(words.begin() + static_cast<std::ptrdiff_t>(first)),
               std::make_move_iterator(words.end()));
    if (first < words.size()) keptTo = double(chunks[i].end) / sampleRate;
  }
  return out;
}

}  // namespace kestrane::ChunkWords
