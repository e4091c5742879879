#pragma once
// The user's choices for a cut or a re-cut, as the command line and the application offer
// them, and the settings they make. Both front ends go through here, so the same choices make
// the same cut.
#include <filesystem>
#include <optional>

#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/PipelineSettings.hpp"

namespace kestrane::Pipeline {

struct CutChoices {
  CutTightness tightness = CutTightness::natural;
  bool silencesOnly = false;
  bool removeFillers = true;
  ExportTarget exportTarget = ExportTarget::finalCut;
  bool embedCaptions = true;
  TranscriptExporter::SubtitleLength subtitleLength = TranscriptExporter::SubtitleLength::medium;
  SilenceSensitivity sensitivity = defaultSilenceSensitivity;
  // A fixed threshold replaces the one derived from the sensitivity and the footage's levels.
  std::optional<double> thresholdDBFS;
  // The graphics choices: absent ones leave the settings' (a stored re-cut's, or the defaults).
  std::optional<GraphicsDensity> graphicsDensity;
  std::optional<GraphicsFormat> graphicsFormat;
  std::optional<int> graphicsLimit;
  // The AI second opinion, and how many self-review rounds the AI may take (fast takes none).
  bool ai = false;
  Thoroughness thoroughness = Thoroughness::fast;
};

// A re-cut's choices: only those given change the stored settings.
struct RecutChoices {
  std::optional<CutTightness> tightness;
  std::optional<bool> silencesOnly;
  std::optional<bool> removeFillers;
  std::optional<ExportTarget> exportTarget;
  std::optional<bool> embedCaptions;
  std::optional<TranscriptExporter::SubtitleLength> subtitleLength;
  std::optional<SilenceSensitivity> sensitivity;
  std::optional<double> thresholdDBFS;
  // The graphics choices: absent ones leave the settings' (a stored re-cut's, or the defaults).
  std::optional<GraphicsDensity> graphicsDensity;
  std::optional<GraphicsFormat> graphicsFormat;
  std::optional<int> graphicsLimit;
  std::optional<bool> ai;
  std::optional<Thoroughness> thoroughness;
};

// The fixed threshold when one is given, else the sensitivity measured against the levels.
double chosenThreshold(std::optional<double> fixedDBFS, SilenceSensitivity sensitivity, const LevelData& levels);

// The settings of one cut of footage with these levels: AI as chosen (off by default), the
// chosen full cut unless only silences go, hand edits empty.
PipelineSettings cutSettings(const CutChoices& choices, const LevelData& levels);

// The stored settings with the choices given. A sensitivity is measured against the stored
// levels; throws PipelineError when the session has none.
PipelineSettings recutSettings(const RecutChoices& choices, const KestraneSession& stored);

}  // namespace kestrane::Pipeline
