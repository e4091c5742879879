#pragma once
// How far a sound codec moves the same recording's sound, in samples at the sound's own rate.
// Whatever compares a copy of the footage with what was measured of it allows for these.
namespace kestrane::CodecSlack {

// The last packets of sound a container counts whole and a decoder may leave out, or another
// container cuts to the sample: copying footage into Matroska and back moves its stated length by
// up to an AAC packet or two. Two packets of 1024 samples cover every copy measured.
inline constexpr double kLastPacketsSamples = 2048;

// The most an encoder puts ahead of the sound: AAC's 1024 samples, MP3's 1105 and its decoder's
// 529, HE-AAC's 2048. A copy's sound may lie that much later, or, against levels measured with
// the delay kept, earlier.
inline constexpr double kEncoderDelaySamples = 2048;

}  // namespace kestrane::CodecSlack
