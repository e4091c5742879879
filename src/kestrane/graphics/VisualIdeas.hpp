#pragma once
// The visual-ideas document: reading its entries into ideas, the format constraint, and the
// timecode, slug and field readers shared by the graphics tier.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/graphics/VisualIdea.hpp"
#include "kestrane/model/Timecode.hpp"

namespace kestrane::VisualIdeas {

// Every "## [MM:SS] Name" entry with a generation prompt, in document order. Unreadable
// sections are dropped without a message.
std::vector<VisualIdea> parse(std::string_view markdown);
// Forces every idea to the format's kind (a mix keeps each idea's own).
std::vector<VisualIdea> constrain(std::vector<VisualIdea> ideas, GraphicsFormat format);

std::string timecodeSlug(double seconds);
std::string preciseTimecodeSlug(double seconds);
// Lower-case alphanumeric words joined by "-", shorter than 43 characters; "graphic" if empty.
std::string slug(std::string_view text);
// "MM:SS" or "HH:MM:SS" (last part may be decimal, "~" and blanks ignored); nothing for
// anything unreadable, negative, non-finite or over 24 hours.
std::optional<double> seconds(std::string_view timecode);

// Field readers over one section body.
std::string field(std::string_view key, std::string_view body);
std::string anchor(std::string_view body);
double lead(std::string_view key, std::string_view body);
GraphicKind kind(std::string_view type, std::string_view prompt, std::string_view onScreen);
double duration(std::string_view prompt);

// Writes each idea's measured timecode into its heading and one "- **Timing:**" bullet under it.
// Annotating an annotated document again gives the same text.
std::string annotate(std::string_view markdown, const std::vector<VisualIdea>& ideas);
std::string timingBullet(const VisualIdea& idea);

}  // namespace kestrane::VisualIdeas
