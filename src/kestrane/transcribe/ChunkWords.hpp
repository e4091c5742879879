#pragma once
// Makes one transcript of the words of stretches decoded each on its own. A stretch is decoded
// with a little of the audio beyond its borders, so both decoders hear the words near a border
// and each times them its own way; over loud music they disagree by up to a second.
#include <cstddef>
#include <vector>

#include "kestrane/model/Transcript.hpp"
#include "kestrane/transcribe/SpeechChunks.hpp"

namespace kestrane::ChunkWords {

// Whether a word the decoder heard belongs to `chunk`: its middle lies inside it, so of two
// decoders that time it alike only one keeps it.
bool owns(const SpeechChunks::Chunk& chunk, const TranscriptWord& word, int sampleRate);

// The chunks' own words, in order, as one transcript in which each word starts no earlier than
// the one before ends. `perChunk[i]` holds the words chunk i owns, in order; the chunks are in
// order and never overlap. Where the last word before a border overlaps the first word after it:
// - with the same text, it is one word both decoders heard: the copy whose middle lies farther
//   inside its chunk, where its decoder heard more around it, stays;
// - otherwise the words meet in the middle of their overlap, held between the two chunks' edges
//   (at the border itself when the chunks touch), so each keeps its own side. Words that do not
//   overlap keep their times.
std::vector<TranscriptWord> joined(const std::vector<SpeechChunks::Chunk>& chunks,
                                   std::vector<std::vector<TranscriptWord>> perChunk, int sampleRate);

}  // namespace kestrane::ChunkWords
