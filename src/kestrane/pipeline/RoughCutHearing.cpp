#include "kestrane/pipeline/RoughCutHearing.hpp"

#include <memory>
#include <utility>
#include <vector>

#include "kestrane/analysis/LevelHearing.hpp"

namespace kestrane::Pipeline {

namespace {

// The stored levels count their hops from source time 0, on the file's clock as the renderer
// reads the sound.
class LevelListener : public MP4Renderer::SoundListener {
 public:
  LevelListener(std::vector<float> stored, double hopDuration, int sampleRate, std::vector<float> speech)
      : hearing_(std::move(stored), hopDuration, sampleRate, std::move(speech)) {}

  void startPiece(std::int64_t firstSample) override { hearing_.startPiece(firstSample); }
  void push(const float* const* planes, int channels, std::size_t frames) override {
    hearing_.push(planes, channels, frames);
  }
  std::optional<double> finishPiece(std::optional<std::int64_t> soundEnd) override {
    return hearing_.finishPiece(soundEnd);
  }

 private:
  AudioAnalyzer::LevelHearing hearing_;
};

}  // namespace

MP4Renderer::Listening roughCutHearing(const std::optional<LevelData>& levels) {
  if (!levels) return {};
  return [stored = levels->levelsDBFS(), hop = levels->hopDuration, speech = levels->speechLevelsDBFS()](
             int sampleRate) { return std::make_unique<LevelListener>(stored, hop, sampleRate, speech); };
}

}  // namespace kestrane::Pipeline
