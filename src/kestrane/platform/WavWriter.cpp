#include "kestrane/platform/WavWriter.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrane::platform {

namespace {

void putLE(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The canonical 44-byte header; sizes are patched on close.
void header(std::uint8_t* h, int rate, std::uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  putLE(h + 4, 36 + dataBytes, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  putLE(h + 16, 16, 4);
  putLE(h + 20, 1, 2);  // PCM
  putLE(h + 22, 1, 2);  // mono
  putLE(h + 24, static_cast<std::uint32_t>(rate), 4);
  putLE(h + 28, static_cast<std::uint32_t>(rate) * 2, 4);
  putLE(h + 32, 2, 2);
  putLE(h + 34, 16, 2);
  std::memcpy(h + 36, "data", 4);
  putLE(h + 40, dataBytes, 4);
}

std::string reason() { return std::strerror(errno); }

}  // namespace

WavWriter::WavWriter(const std::string& path, int sampleRate) : path_(path) {
  if (sampleRate <= 0) throw WavWriteError("Can't write " + path + ": invalid sample rate");
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) throw WavWriteError("Can't create " + path + ": " + reason());
  std::uint8_t h[44];
  header(h, sampleRate, 0);
  if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
    std::fclose(file_);
    file_ = nullptr;
    throw WavWriteError("Can't write " + path + ": " + reason());
  }
  rate_ = sampleRate;
}

WavWriter::~WavWriter() {
  try {
    close();
  } catch (...) {
  }
}

void WavWriter::write(const float* samples, std::size_t count) {
  if (!file_) throw WavWriteError("Can't write " + path_ + ": the file is closed");
  std::vector<std::int16_t> pcm(count);
  for (std::size_t i = 0; i < count; ++i) {
    float v = samples[i];
    if (!(v == v)) v = 0;  // NaN
    v = std::clamp(v, -1.0f, 1.0f);
    pcm[i] = static_cast<std::int16_t>(std::lrint(v * 32767.0f));
  }
  write(pcm.data(), count);
}

void WavWriter::write(const std::int16_t* samples, std::size_t count) {
  if (!file_) throw WavWriteError("Can't write " + path_ + ": the file is closed");
  // WAV is little-endian; this code runs on little-endian hosts only (x86-64, arm64).
  if (std::fwrite(samples, sizeof(std::int16_t), count, file_) != count)
    throw WavWriteError("Can't write " + path_ + ": " + reason());
  frames_ += count;
}

void WavWriter::close() {
  if (!file_) return;
  std::FILE* f = file_;
  file_ = nullptr;
  const std::uint64_t bytes = frames_ * 2;
  std::uint8_t h[44];
  header(h, rate_, static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 0xFFFFFFFFull - 36)));
  bool ok = std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, f) == sizeof h;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) throw WavWriteError("Can't finish " + path_ + ": " + reason());
}

}  // namespace kestrane::platform
