#pragma once
// What a held file's packets say of its sound without decoding it: how long a file that states
// no length holds sound and picture, and the counted clock of earlier builds where the packets
// say exactly what the decoder gives. Internal to the platform folder.
#include <memory>
#include <optional>
#include <stop_token>

#include "kestrane/model/CountedClock.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/SoundClock.hpp"

struct AVFormatContext;

namespace kestrane::platform {

// The clock of the held file's sound at `rate`, opened as `format`: bounded by the length the
// container states, or else by what the file holds (heldLength, read once it is needed).
SoundClock fileClock(const AVFormatContext* format, int rate, std::shared_ptr<const MediaFile> file,
                     std::stop_token stop);

// What the file holds (SoundClock::Held): how long its sound and picture last — the longer of its
// first sound track, from its first timestamp on for as many samples as its packets hold, and its
// picture, from its first frame to its last with a jump between two frames counted for as long as
// the frame before it lasts — and where that sound ends. Reads every packet of both. Throws AudioDecodeError when
// the file no longer opens, FileReadError when the system fails to read it, and Cancelled once
// `stop` is requested.
SoundClock::Held heldLength(std::shared_ptr<const MediaFile> file, std::stop_token stop);

// DecodeReport::countedClock of a whole decode, from the sound's packets alone; none where they
// may not say what the decoder gives: a codec without one fixed frame size, or that holds frames
// back, a packet shorter than a frame but for the last, or one that is damaged or changes the
// track's parameters. Packets the decoder drops or trims (an encoder's priming) are dropped and
// trimmed alike. Throws SoundJumpError where decoding would, FileReadError and Cancelled.
std::optional<CountedClock> packetCountedClock(std::shared_ptr<const MediaFile> file, std::stop_token stop);

}  // namespace kestrane::platform
