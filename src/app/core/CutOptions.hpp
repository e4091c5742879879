#pragma once
// The seven options that shape one video's cut, held as one value: the editor holds one, every
// video of a batch keeps its own, and "Apply Settings to All" copies it.
#include "kestrane/pipeline/Pipeline.hpp"

namespace kestrane::app {

struct CutOptions {
  CutTightness tightness = CutTightness::natural;
  Thoroughness thoroughness = Thoroughness::balanced;
  bool removeFillers = true;
  bool embedCaptions = true;
  TranscriptExporter::SubtitleLength subtitleLength = TranscriptExporter::SubtitleLength::medium;
  ExportTarget exportTarget = ExportTarget::finalCut;
  bool renderMP4 = false;

  bool operator==(const CutOptions&) const = default;
};

}  // namespace kestrane::app
