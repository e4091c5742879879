#include "kestrane/analysis/SpeechBand.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::AudioAnalyzer {

namespace {

// Butterworth sections of a fourth-order slope: two of Q 0.54 and 1.31.
constexpr std::array<double, 2> kQualities = {0.5412, 1.3066};

}  // namespace

SpeechBand::SpeechBand(double sampleRate, double lowHz, double highHz) {
  // A rate too low for the band passes what it can.
  highHz = std::min(highHz, 0.45 * sampleRate);
  lowHz = std::min(lowHz, highHz / 2);
  for (std::size_t i = 0; i < 4; ++i) {
    const bool highPass = i < 2;
    const double w = 2 * M_PI * (highPass ? lowHz : highHz) / sampleRate;
    const double alpha = std::sin(w) / (2 * kQualities[i % 2]);
    const double cosw = std::cos(w);
    const double a0 = 1 + alpha;
    Section& s = sections_[i];
    if (highPass) {
      s.b0 = (1 + cosw) / 2 / a0;
      s.b1 = -(1 + cosw) / a0;
      s.b2 = s.b0;
    } else {
      s.b0 = (1 - cosw) / 2 / a0;
      s.b1 = (1 - cosw) / a0;
      s.b2 = s.b0;
    }
    s.a1 = -2 * cosw / a0;
    s.a2 = (1 - alpha) / a0;
  }
}

void SpeechBand::filter(float* samples, std::size_t count) {
  // Sample by sample through every section, so that one section's work on a sample overlaps the
  // next section's on the one before.
  for (std::size_t i = 0; i < count; ++i) {
    double x = samples[i];
    for (Section& s : sections_) {
      const double y = s.b0 * x + s.z1;
      s.z1 = s.b1 * x - s.a1 * y + s.z2;
      s.z2 = s.b2 * x - s.a2 * y;
      x = y;
    }
    samples[i] = static_cast<float>(x);
  }
}

}  // namespace kestrane::AudioAnalyzer
