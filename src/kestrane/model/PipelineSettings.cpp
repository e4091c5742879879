#include "kestrane/model/PipelineSettings.hpp"

#include <algorithm>

namespace kestrane {

std::string PipelineSettings::graphicsLimitRefusal(std::string_view given) {
  return "takes a whole number from 1 to " + std::to_string(mostGraphics) + " — “" + std::string(given) +
         "” is not one";
}

double speechPadding(CutTightness tightness) {
  static constexpr std::array<double, 4> values{0.30, 0.15, 0.10, 0.05};
  return values[static_cast<std::size_t>(tightness)];
}

double minSilenceDuration(CutTightness tightness) {
  static constexpr std::array<double, 4> values{1.2, 0.8, 0.5, 0.35};
  return values[static_cast<std::size_t>(tightness)];
}

std::string_view label(Thoroughness thoroughness) {
  static constexpr std::array<std::string_view, 4> labels{"Silences only", "Fast", "Balanced", "Meticulous"};
  return labels[static_cast<std::size_t>(thoroughness)];
}

std::string_view hint(Thoroughness thoroughness) {
  static constexpr std::array<std::string_view, 4> hints{
      "Every word you said is kept — only the gaps close. No AI, nothing to review. For a podcast, "
      "or a read you know you nailed.",
      "Cuts flubs and repeated takes, no self-review round.",
      "Cuts flubs and repeated takes, keeping the best rendition of every line, then reviews its own "
      "work once. The usual choice.",
      "The same, but it re-reviews until its checks come back clean. Slower; worth it on long or "
      "messy footage.",
  };
  return hints[static_cast<std::size_t>(thoroughness)];
}

int maxCorrectionRounds(Thoroughness thoroughness) {
  static constexpr std::array<int, 4> rounds{0, 0, 1, 4};
  return rounds[static_cast<std::size_t>(thoroughness)];
}

double reviewBudget(Thoroughness thoroughness) {
  static constexpr std::array<double, 4> budgets{0, 0, 600, 900};
  return budgets[static_cast<std::size_t>(thoroughness)];
}

bool silenceOnly(Thoroughness thoroughness) { return thoroughness == Thoroughness::silencesOnly; }
bool measuresFraming(Thoroughness thoroughness) { return thoroughness == Thoroughness::meticulous; }

std::vector<Thoroughness> selectableThoroughness() {
  return {Thoroughness::silencesOnly, Thoroughness::balanced, Thoroughness::meticulous};
}

std::string_view label(ExportTarget target) {
  static constexpr std::array<std::string_view, 3> labels{"Final Cut Pro", "DaVinci Resolve", "Adobe Premiere"};
  return labels[static_cast<std::size_t>(target)];
}

PipelineSettings PipelineSettings::make(double silenceThresholdDBFS, double minSilenceDuration, double speechPadding,
                                        bool removeFillers) {
  PipelineSettings s;
  s.silenceThresholdDBFS = silenceThresholdDBFS;
  s.minSilenceDuration = minSilenceDuration;
  s.speechPadding = speechPadding;
  s.removeFillers = removeFillers;
  s.dedupRepeatedLines = true;
  s.aiAdjudication = true;
  s.thoroughness = Thoroughness::balanced;
  return s;
}

void PipelineSettings::apply(CutTightness tightness) {
  minSilenceDuration = kestrane::minSilenceDuration(tightness);
  speechPadding = kestrane::speechPadding(tightness);
}

Thoroughness PipelineSettings::resolvedThoroughness() const { return thoroughness.value_or(Thoroughness::balanced); }
bool PipelineSettings::resolvedEmbedCaptions() const { return embedCaptions.value_or(true); }
TranscriptExporter::SubtitleLength PipelineSettings::resolvedSubtitleLength() const {
  return subtitleLength.value_or(TranscriptExporter::SubtitleLength::medium);
}
ExportTarget PipelineSettings::resolvedExportTarget() const { return exportTarget.value_or(ExportTarget::finalCut); }
GraphicsDensity PipelineSettings::resolvedGraphicsDensity() const {
  return graphicsDensity.value_or(GraphicsDensity::moderate);
}
GraphicsFormat PipelineSettings::resolvedGraphicsFormat() const { return graphicsFormat.value_or(GraphicsFormat::mix); }

int PipelineSettings::resolvedGraphicsCount(double cutSeconds, std::optional<int> beats) const {
  // A limit the user set is theirs to choose: the density's cap only bounds its own estimate.
  if (graphicsLimit) return std::max(*graphicsLimit, 1);
  return assetCount(resolvedGraphicsDensity(), cutSeconds, beats);
}

int PipelineSettings::resolvedGraphicsConcurrency() const {
  if (!graphicsConcurrency) return defaultGraphicsConcurrency;
  return std::clamp(*graphicsConcurrency, 1, 8);
}

// std::max returns its first argument for NaN, so a NaN setting reads as 0 here.
double PipelineSettings::resolvedSpeechPadding() const { return std::max(0.0, speechPadding); }
double PipelineSettings::resolvedMinSilenceDuration() const { return std::max(0.0, minSilenceDuration); }

}  // namespace kestrane
