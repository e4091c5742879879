#pragma once
// Streams mono float samples at one rate into 16-bit samples at another rate.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct SwrContext;

namespace kestrane::platform {

class MonoResampler {
 public:
  MonoResampler(int inputRate, int outputRate);
  ~MonoResampler();
  MonoResampler(const MonoResampler&) = delete;
  MonoResampler& operator=(const MonoResampler&) = delete;

  // Appends the converted samples to `out`.
  void push(const float* samples, std::size_t count, std::vector<std::int16_t>& out);
  // Appends what the filter still holds; call once at the end.
  void flush(std::vector<std::int16_t>& out);

 private:
  void run(const float* samples, int count, std::vector<std::int16_t>& out);
  SwrContext* swr_ = nullptr;
};

}  // namespace kestrane::platform
