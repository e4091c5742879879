#pragma once
// Turns captured PNG frames into one movie: ProRes 4444 with its alpha channel in a QuickTime
// movie for overlays, H.264 High in MP4 for full-frame graphics. Frames of another size are
// stretched to the movie's size.
//
// The movie is written beside the destination under a hidden name, held while it is written
// (AtomicFile::createAside), and renamed into place when complete, so a failed or stopped
// encode leaves any earlier file as it was and no partial one, and one killed outright leaves a
// file the next sweep of the folder takes.
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::FrameSequenceEncoder {

class EncodeError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
};

struct Movie {
  std::filesystem::path destination;
  int fps = 30;  // also the time scale: frame i is shown at i / fps seconds
  int width = 1920;
  int height = 1080;
  bool alpha = false;  // chooses the container and codec, whatever the file's extension
};

// H.264's average bit rate: 8 bits per pixel per second, at least 4 Mbit/s.
long long averageBitRate(int width, int height);

// Throws EncodeError ("no frames were captured", "couldn't read captured frame NAME",
// "video encode failed: ...") and Cancelled once `stop` is requested.
void encode(const std::vector<std::filesystem::path>& frames, const Movie& movie, std::stop_token stop = {});

}  // namespace kestrane::FrameSequenceEncoder
