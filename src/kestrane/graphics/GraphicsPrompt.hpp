#pragma once
// The prompt that has the model author one HTML composition for one visual idea, and the
// composition contract every returned document must meet.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/graphics/GraphicsCanvas.hpp"
#include "kestrane/graphics/LocalFonts.hpp"
#include "kestrane/graphics/VisualIdea.hpp"
#include "kestrane/model/BrandSpec.hpp"
#include "kestrane/model/ComponentVocabulary.hpp"

namespace kestrane::GraphicsPrompt {

// The one script a composition may load.
extern const std::string_view gsapScriptURL;
extern const std::string_view compositionContract;

std::string authoringPrompt(const VisualIdea& idea, const std::optional<BrandSpec>& brand,
                            const std::optional<std::string>& graphicsNotes, std::string_view projectName,
                            const GraphicsCanvas& canvas, const std::vector<LocalFonts::ResolvedFont>& fonts,
                            const std::optional<ComponentVocabulary>& vocabulary, bool isReference);

std::string timingSection(const VisualIdea& idea);
std::string deviceLine(const VisualIdea& idea);
// Hundredths; "5" for a whole number, "4.25" otherwise.
std::string durationString(double seconds);
std::string brandSection(const std::optional<BrandSpec>& brand);
std::string safeZoneRules(GraphicKind kind, const std::optional<BrandSpec>& brand, const GraphicsCanvas& canvas);

}  // namespace kestrane::GraphicsPrompt
