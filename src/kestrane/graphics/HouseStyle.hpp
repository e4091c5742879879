#pragma once
// The house style of one video's motion graphics (a ComponentVocabulary): read out of a
// reference composition, merged across references, and written into later authoring prompts.
#include <string>
#include <string_view>

#include "kestrane/model/ComponentVocabulary.hpp"
#include "kestrane/model/GraphicsDensity.hpp"

namespace kestrane::HouseStyle {

// True when nothing a later graphic could copy was found (radii, spacing, case, durations,
// staggers and the source names alone do not count).
bool isEmpty(const ComponentVocabulary& v);

// The tokens of one authored composition. Stylesheet declarations that would load anything
// (url() other than data:, @import) are left out, so a composition the network check would
// refuse never teaches later ones to reach the network.
ComponentVocabulary derive(std::string_view html, GraphicKind kind, std::string_view name);

// The union, the receiver's entries first, each list capped.
ComponentVocabulary merging(const ComponentVocabulary& a, const ComponentVocabulary& b);

// The HOUSE STYLE section of an authoring prompt; empty for an empty vocabulary.
std::string promptSection(const ComponentVocabulary& v, GraphicKind kind);

extern const std::string_view referenceDirective;
extern const std::string_view secondReferenceDirective;

}  // namespace kestrane::HouseStyle
