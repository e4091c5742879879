#pragma once
// Writes a 16-bit linear PCM, single-channel WAV file from float samples.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {

struct WavWriteError : UserFacingError {
  using UserFacingError::UserFacingError;
};

class WavWriter {
 public:
  // Creates (or truncates) the file; throws WavWriteError when it cannot.
  WavWriter(const std::string& path, int sampleRate);
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Appends samples in [-1, 1]; values outside are clipped.
  void write(const float* samples, std::size_t count);
  void write(const std::int16_t* samples, std::size_t count);
  // Completes the header. Further writes are refused. Safe to call twice.
  void close();

  std::uint64_t framesWritten() const { return frames_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::uint64_t frames_ = 0;
  int rate_ = 0;
};

}  // namespace kestrane::platform
