#pragma once
// Minutes-and-seconds texts for placing graphics: "01:15" and "01:15.3".
#include <string>

namespace kestrane::VisualIdeas {

std::string timecode(double seconds);
std::string preciseTimecode(double seconds);

}  // namespace kestrane::VisualIdeas
