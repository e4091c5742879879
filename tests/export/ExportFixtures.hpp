#pragma once
// Cut lists and footage descriptions the writers' tests build alike.
#include <string>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::test {

inline Segment seg(double start, double end, SegmentKind kind = SegmentKind::keep) {
  return Segment{{start, end}, kind, {}, {}};
}

// A video file with 48 kHz stereo sound.
inline SourceMedia videoSource(const std::string& path, double seconds, RationalTime frameDuration,
                               std::int64_t width = 1920, std::int64_t height = 1080) {
  SourceMedia s;
  s.path = path;
  s.durationSeconds = seconds;
  s.frameDuration = frameDuration;
  s.width = width;
  s.height = height;
  s.hasVideo = true;
  s.audioSampleRate = 48000;
  s.audioChannelCount = 2;
  return s;
}

// `count` kept pieces of 1.013 s, one every 3 s from 0.017 s, with silence between: at 29.97
// fps every edge falls between frames, so each piece grows on the frame grid and the error of
// timing anything on the plain cut adds up to seconds.
inline CutList offGridPieces(int count) {
  CutList list;
  for (int i = 0; i < count; ++i) {
    const double start = i * 3.0 + 0.017;
    list.segments.push_back(seg(start, start + 1.013));
    list.segments.push_back(seg(start + 1.013, start + 3.0, SegmentKind::silence));
  }
  return list;
}

}  // namespace kestrane::test
