#pragma once
// What hears the sound a render takes from its footage, piece by piece, as it is rendered: the
// renderer decodes every kept piece anyway, so whoever knows how the footage should sound holds
// it against that on the way, and the render fails where it doesn't.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kestrane::MP4Renderer {

class SoundListener {
 public:
  virtual ~SoundListener() = default;

  // A piece begins: the samples pushed next start at position `firstSample` of the footage's
  // sound (position p lies at p / the sample rate seconds of source time).
  virtual void startPiece(std::int64_t firstSample) = 0;
  // The piece's next `frames` samples, one plane per channel.
  virtual void push(const float* const* planes, int channels, std::size_t frames) = 0;
  // The piece is done. `soundEnd`: the position where the track's samples ended, once they have
  // (what follows is no sound of the footage's). Returns the time, in seconds of source time,
  // where the piece first doesn't sound as it should; nothing when it does.
  virtual std::optional<double> finishPiece(std::optional<std::int64_t> soundEnd) = 0;
};

// Makes the listener for sound taken at `sampleRate`, which is only known once the movie's format
// is chosen; nothing when there is nothing to hear it against.
using Listening = std::function<std::unique_ptr<SoundListener>(int sampleRate)>;

}  // namespace kestrane::MP4Renderer
