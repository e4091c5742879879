#pragma once
// Reads stretches of a 16-bit mono PCM WAV file (as WavWriter writes them) without loading the
// whole file. Reads are positional, so several threads may read through one reader at once.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrane::platform {

class PcmWavReader {
 public:
  // None when the file cannot be opened or is not 16-bit mono linear PCM.
  static std::optional<PcmWavReader> open(const std::string& path);
  ~PcmWavReader();
  PcmWavReader(PcmWavReader&& other) noexcept;
  PcmWavReader& operator=(PcmWavReader&&) = delete;
  PcmWavReader(const PcmWavReader&) = delete;
  PcmWavReader& operator=(const PcmWavReader&) = delete;

  int sampleRate() const { return rate_; }
  std::size_t sampleCount() const { return count_; }

  // Samples [first, first + count), clipped to the file, into `out` (replacing its contents).
  // Throws std::runtime_error when the file cannot be read.
  void read(std::size_t first, std::size_t count, std::vector<std::int16_t>& out) const;

 private:
  PcmWavReader(int fd, int rate, std::uint64_t dataOffset, std::size_t count)
      : fd_(fd), rate_(rate), dataOffset_(dataOffset), count_(count) {}
  int fd_ = -1;
  int rate_ = 0;
  std::uint64_t dataOffset_ = 0;
  std::size_t count_ = 0;
};

}  // namespace kestrane::platform
