#pragma once
// What the motion-graphics choices say to the user and to the model: labels, hints, the
// ceiling note, free-text reading, and what each graphic kind is called and stored as.
#include <optional>
#include <string>
#include <string_view>

#include "kestrane/model/GraphicsDensity.hpp"

namespace kestrane::GraphicsChoices {

std::string_view label(GraphicsDensity density);
std::string_view hint(GraphicsDensity density);
std::string cadenceHint(GraphicsDensity density);
// The count the density asks for before its cap.
int uncappedCount(GraphicsDensity density, double cutSeconds, std::optional<int> beats);
// A warning when the cap cuts the count.
std::optional<std::string> ceilingNote(GraphicsDensity density, double cutSeconds, std::optional<int> beats);
// Free user text ("Fully animated", "heavy", "max"); case, blanks, "-" and "_" ignored.
std::optional<GraphicsDensity> parseDensity(std::string_view text);

std::string_view label(GraphicsFormat format);
std::string_view hint(GraphicsFormat format);
// The binding format paragraph of the visual-ideas request.
std::string_view ideasDirective(GraphicsFormat format);
std::optional<GraphicKind> forcedKind(GraphicsFormat format);
bool allows(GraphicsFormat format, GraphicKind kind);
std::optional<GraphicsFormat> parseFormat(std::string_view text);

std::string_view label(GraphicKind kind);          // the assets README's form
std::string_view fileTag(GraphicKind kind);        // the form inside file names and prompts
std::string_view fileExtension(GraphicKind kind);  // "mov" or "mp4"

}  // namespace kestrane::GraphicsChoices
