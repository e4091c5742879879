#pragma once
// How long each caption runs; the captions' own rules live with the transcript exporter.
#include <array>
#include <string_view>

#include "kestrane/model/EnumText.hpp"

namespace kestrane::TranscriptExporter {
enum class SubtitleLength { short_, medium, long_, sentence };
}  // namespace kestrane::TranscriptExporter

namespace kestrane {
template <>
struct EnumText<TranscriptExporter::SubtitleLength> {
  static constexpr std::array<std::string_view, 4> texts{"short", "medium", "long", "sentence"};
};
}  // namespace kestrane
