#pragma once
// Every choice that shapes one cut, with its presets and resolved defaults.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/GraphicsDensity.hpp"
#include "kestrane/model/SubtitleLength.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane {

enum class CutTightness { relaxed, natural, tight, jumpCut };
enum class Thoroughness { silencesOnly, fast, balanced, meticulous };
enum class ExportTarget { finalCut, resolve, premiere };

template <>
struct EnumText<CutTightness> {
  static constexpr std::array<std::string_view, 4> texts{"relaxed", "natural", "tight", "jumpCut"};
};
template <>
struct EnumText<Thoroughness> {
  static constexpr std::array<std::string_view, 4> texts{"silencesOnly", "fast", "balanced", "meticulous"};
};
template <>
struct EnumText<ExportTarget> {
  static constexpr std::array<std::string_view, 3> texts{"finalCut", "resolve", "premiere"};
};

double speechPadding(CutTightness tightness);
double minSilenceDuration(CutTightness tightness);

std::string_view label(Thoroughness thoroughness);
std::string_view hint(Thoroughness thoroughness);
int maxCorrectionRounds(Thoroughness thoroughness);
double reviewBudget(Thoroughness thoroughness);
bool silenceOnly(Thoroughness thoroughness);
bool measuresFraming(Thoroughness thoroughness);
// The cases offered to the user: silences only, balanced, meticulous.
std::vector<Thoroughness> selectableThoroughness();

std::string_view label(ExportTarget target);

struct PipelineSettings {
  static constexpr int defaultGraphicsLimit = 6;
  static constexpr int defaultGraphicsConcurrency = 3;
  // The most graphics a limit may ask for: each one is a model call and a real render, and the
  // count also sizes the visual-ideas request.
  static constexpr int mostGraphics = 1000;
  // Why a graphics limit is refused, from the command line or a session alike: "takes a whole
  // number from 1 to 1000 — “0” is not one".
  static std::string graphicsLimitRefusal(std::string_view given);

  double silenceThresholdDBFS = -40;
  double minSilenceDuration = 0.8;
  double speechPadding = 0.15;
  bool removeFillers = true;
  std::optional<bool> dedupRepeatedLines;
  std::optional<bool> embedCaptions;
  std::optional<TranscriptExporter::SubtitleLength> subtitleLength;
  std::optional<ExportTarget> exportTarget;
  std::optional<std::vector<TimeRange>> manualKeepRanges;
  std::optional<std::vector<TimeRange>> manualRemoveRanges;
  std::optional<bool> aiAdjudication;
  std::optional<Thoroughness> thoroughness;
  std::optional<int> graphicsLimit;
  std::optional<GraphicsDensity> graphicsDensity;
  std::optional<GraphicsFormat> graphicsFormat;
  std::optional<int> graphicsConcurrency;

  // Sets the four required fields, dedup and adjudication on, thoroughness balanced.
  static PipelineSettings make(double silenceThresholdDBFS, double minSilenceDuration, double speechPadding,
                               bool removeFillers);

  // Sets padding and minimum silence to the tightness's values; nothing else changes.
  void apply(CutTightness tightness);

  Thoroughness resolvedThoroughness() const;
  bool resolvedEmbedCaptions() const;
  TranscriptExporter::SubtitleLength resolvedSubtitleLength() const;
  ExportTarget resolvedExportTarget() const;
  GraphicsDensity resolvedGraphicsDensity() const;
  GraphicsFormat resolvedGraphicsFormat() const;
  // The limit the user set (at least 1; the density's cap does not bound it) or the density's count.
  int resolvedGraphicsCount(double cutSeconds, std::optional<int> beats) const;
  int resolvedGraphicsConcurrency() const;

  // Stored values are kept as given; consumers read these, which never go below 0.
  double resolvedSpeechPadding() const;
  double resolvedMinSilenceDuration() const;
};

}  // namespace kestrane
