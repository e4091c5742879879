#pragma once
// Splits a recording into the stretches the recognizer decodes, each on its own, so that several
// decoders can work side by side. Long pauses are not decoded at all: a stretch keeps only a
// little of the pause on either side. The split depends on the audio alone, never on the number
// of decoders, so every run yields the same words.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane::SpeechChunks {

struct Chunk {
  std::size_t begin = 0;  // first sample
  std::size_t end = 0;    // one past the last sample
  // Holds a fifth of a second or more at the recording's speech level.
  bool speech = false;
};

struct Limits {
  double minSeconds = 3;      // no cut closer than this to the chunk's start
  double maxSeconds = 30;     // a cut is forced by then
  double minPause = 0.25;     // quiet stretch that counts as a pause
  double skippedPause = 0.5;  // a pause this long is left out of the decoding...
  double keptOfPause = 0.2;   // ...but for this much of it next to the speech on either side
};

// Level in dB of each 10 ms frame, measured while the audio streams past.
class FrameLevels {
 public:
  explicit FrameLevels(int sampleRate);
  void push(const std::int16_t* samples, std::size_t count);
  // The levels, the last partial frame included.
  std::vector<float> take();
  std::size_t frameSamples() const { return frame_; }

 private:
  std::size_t frame_;
  std::size_t filled_ = 0;
  double sum_ = 0;
  std::vector<float> levels_;
};

// The frames worth decoding, as [first, last) frame ranges in order: everything but the middle of
// long pauses. The one place that decides which audio the recognizer never hears.
struct FrameRange {
  std::size_t first = 0;
  std::size_t last = 0;  // one past
};
std::vector<FrameRange> audibleStretches(const std::vector<float>& levels, const Limits& limits = {});

// Chunks inside the audible stretches, in order, none longer than `maxSeconds`: a longer stretch
// is cut in the middle of the longest pause within each chunk's allowed span (at its quietest
// 10 ms when there is no pause). `levels` are 10 ms frames of `frameSamples` samples each over
// `sampleCount` samples.
std::vector<Chunk> atPauses(const std::vector<float>& levels, std::size_t frameSamples, std::size_t sampleCount,
                            const Limits& limits = {});

}  // namespace kestrane::SpeechChunks
