#include "kestrane/transcribe/ChunkWords.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrane;
using kestrane::SpeechChunks::Chunk;

namespace {
constexpr int kRate = 16000;

Chunk at(double begin, double end) {
  return {static_cast<std::size_t>(std::lround(begin * kRate)), static_cast<std::size_t>(std::lround(end * kRate)),
          true};
}

std::vector<TimeRange> ranges(const std::vector<TranscriptWord>& words) {
  std::vector<TimeRange> out;
  for (const auto& w : words) out.push_back(w.range);
  return out;
}
}  // namespace

// Two decoders over loud music, each hearing a little past the border between their chunks.
TEST(ChunkWords, WordsOverlappingAcrossABorderMeetThereAndOneHeardTwiceIsKeptOnce) {
  const std::vector<Chunk> touching = {at(0, 22.72), at(22.72, 36)};
  EXPECT_EQ(ranges(ChunkWords::joined(touching,
                                      {{{"on", {22.13, 22.41}}, {"bird", {22.44, 22.74}}},
                                       {{"card", {22.71, 23.21}}, {"bit", {23.21, 24.49}}}},
                                      kRate)),
            (std::vector<TimeRange>{{22.13, 22.41}, {22.44, 22.72}, {22.72, 23.21}, {23.21, 24.49}}));
  // A first word reaching back over two words of the chunk before takes neither away.
  EXPECT_EQ(ranges(ChunkWords::joined(touching, {{{"a", {22.3, 22.5}}, {"b", {22.5, 22.7}}}, {{"long", {22.2, 23.3}}}},
                                      kRate)),
            (std::vector<TimeRange>{{22.3, 22.5}, {22.5, 22.7}, {22.72, 23.3}}));
  // Chunks apart, an empty one between: the middle of the overlap, held inside the gap.
  EXPECT_EQ(ranges(ChunkWords::joined({at(0, 4.0), at(4.0, 4.1), at(4.4, 9)},
                                      {{{"doesn't", {3.0, 4.1}}}, {}, {{"uh", {3.2, 6.0}}}}, kRate)),
            (std::vector<TimeRange>{{3.0, 4.0}, {4.0, 6.0}}));

  // The same word heard by both: the copy deeper inside its own chunk stays as it was heard.
  const std::vector<Chunk> chunks = {at(0, 4.25), at(4.25, 8.25)};
  const auto later = ChunkWords::joined(chunks, {{{"but", {3.95, 4.54}}}, {{"but", {4.22, 4.72}}}}, kRate);
  EXPECT_EQ(later, (std::vector<TranscriptWord>{{"but", {4.22, 4.72}}}));
  const auto earlier = ChunkWords::joined(chunks, {{{"but", {3.7, 4.3}}}, {{"but", {4.0, 4.6}}}}, kRate);
  EXPECT_EQ(earlier, (std::vector<TranscriptWord>{{"but", {3.7, 4.3}}}));
  // Said twice, with no overlap, it stays twice.
  EXPECT_EQ(ChunkWords::joined(chunks, {{{"but", {3.9, 4.2}}}, {{"but", {4.3, 4.6}}}}, kRate).size(), 2u);
}
