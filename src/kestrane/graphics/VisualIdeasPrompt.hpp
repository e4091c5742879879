#pragma once
// The request that asks the model for the visual-ideas document of a finished cut.
#include <optional>
#include <string>
#include <string_view>

#include "kestrane/model/GraphicsDensity.hpp"

namespace kestrane::VisualIdeasPrompt {

// The whole prompt: the brief, the entry template the parser reads, the format paragraph and
// the timestamped cut transcript (appended last, unchanged).
std::string build(std::string_view projectName, std::string_view transcriptMarkdown,
                  const std::optional<std::string>& notes, int targetCount, GraphicsFormat format);

}  // namespace kestrane::VisualIdeasPrompt
