#pragma once
// The motion-graphics choices stored with the settings and the session.
#include <array>
#include <optional>
#include <string_view>

#include "kestrane/model/EnumText.hpp"

namespace kestrane {

enum class GraphicsDensity { sparse, moderate, heavy, fullyAnimated };
enum class GraphicsFormat { fullScreen, overlays, mix };
enum class GraphicKind { alphaOverlay, fullFrame };

template <>
struct EnumText<GraphicsDensity> {
  static constexpr std::array<std::string_view, 4> texts{"sparse", "moderate", "heavy", "fullyAnimated"};
};
template <>
struct EnumText<GraphicsFormat> {
  static constexpr std::array<std::string_view, 3> texts{"fullScreen", "overlays", "mix"};
};
template <>
struct EnumText<GraphicKind> {
  static constexpr std::array<std::string_view, 2> texts{"alphaOverlay", "fullFrame"};
};

// The most graphics a density ever asks for.
int densityCap(GraphicsDensity density);

// How many graphics to make for a cut of the given length, or for a count of beats.
int assetCount(GraphicsDensity density, double cutSeconds, std::optional<int> beats);

}  // namespace kestrane
