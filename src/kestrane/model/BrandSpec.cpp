#include "kestrane/model/BrandSpec.hpp"

#include <array>
#include <string_view>

namespace kestrane {

const char* const BrandSpec::peluVerticalSafeZones =
    "9:16 frame, top-down height fractions.\n"
    "Dead zones (covered by platform UI — NEVER text/graphics, any type): 0–12% top and 85–100% "
    "bottom.\n"
    "Alpha overlays (placed over footage): 12–45% is the speaker/main-visual zone — eye line ~30%, "
    "face focus bracket center; graphics may overlap it ONLY at 25–50% opacity. ~45–52% is the "
    "captions band. 52–85% is the PRIMARY graphics/secondary-visuals zone — full-opacity placements "
    "live here.\n"
    "Full-frame graphics (replace footage): everything except the dead zones — the face zone is "
    "usable.";

const char* const BrandSpec::peluHorizontalSafeZones =
    "Presenter usually dead-center with face in the top third.\n"
    "Alpha overlays (placed over footage): place graphics in the left or right thirds, or a "
    "lower-third band. Avoid center-top.\n"
    "Full-frame graphics (replace footage): anywhere except broadcast-safe margins.";

namespace {

bool isSpaceOrNewline(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Trims ASCII white space and line breaks, plus U+0085, U+00A0 and U+2028/2029 at the ends.
std::string trimmed(std::string_view s) {
  auto leadingSpace = [](std::string_view t) -> std::size_t {
    if (t.empty()) return 0;
    if (isSpaceOrNewline(static_cast<unsigned char>(t[0]))) return 1;
    if (t.starts_with("\xC2\x85") || t.starts_with("\xC2\xA0")) return 2;
    if (t.starts_with("\xE2\x80\xA8") || t.starts_with("\xE2\x80\xA9")) return 3;
    return 0;
  };
  auto trailingSpace = [](std::string_view t) -> std::size_t {
    if (t.empty()) return 0;
    if (isSpaceOrNewline(static_cast<unsigned char>(t.back()))) return 1;
    if (t.ends_with("\xC2\x85") || t.ends_with("\xC2\xA0")) return 2;
    if (t.ends_with("\xE2\x80\xA8") || t.ends_with("\xE2\x80\xA9")) return 3;
    return 0;
  };
  while (std::size_t n = leadingSpace(s)) s.remove_prefix(n);
  while (std::size_t n = trailingSpace(s)) s.remove_suffix(n);
  return std::string(s);
}

std::string valueOrDash(const std::optional<std::string>& field) {
  if (!field) return "—";
  std::string t = trimmed(*field);
  return t.empty() ? "—" : t;
}

std::string orDefault(const std::optional<std::string>& field, const char* fallback) {
  if (!field) return fallback;
  std::string t = trimmed(*field);
  return t.empty() ? std::string(fallback) : t;
}

}  // namespace

bool BrandSpec::isEmpty() const {
  const std::array<const std::optional<std::string>*, 7> texts{
      &websiteURL, &colors, &fonts, &styleWords, &notes, &safeZonesVertical, &safeZonesHorizontal};
  for (const auto* field : texts) {
    if (*field && !trimmed(**field).empty()) return false;
  }
  return trimmed(name).empty();
}

std::string BrandSpec::markdown(const std::string& projectName, const std::optional<std::string>& graphicsNotes) const {
  std::string doc;
  auto line = [&doc](std::string_view text) {
    doc += text;
    doc += '\n';
  };
  auto field = [&line](std::string_view label, const std::optional<std::string>& value) {
    line("- **" + std::string(label) + "**: " + valueOrDash(value));
  };
  line("# Brand spec — " + projectName);
  line("");
  line("Collected by Kestrane for the motion-graphics pass. A human, an agent, or");
  line("a generation tool can build from this directly — pair it with");
  line("visual-ideas.md (each idea carries a timecode, a concept, and a");
  line("paste-ready generation prompt).");
  line("");
  line("## Brand: " + (name.empty() ? std::string("(unnamed)") : name));
  line("");
  field("Website", websiteURL);
  field("Colors", colors);
  field("Fonts", fonts);
  field("Style", styleWords);
  field("Notes", notes);
  line("");
  line("## Safe zones");
  line("");
  line("### Vertical (9:16)");
  line("");
  line(orDefault(safeZonesVertical, peluVerticalSafeZones));
  line("");
  line("### Horizontal (16:9)");
  line("");
  line(orDefault(safeZonesHorizontal, peluHorizontalSafeZones));
  if (graphicsNotes) {
    const std::string notesText = trimmed(*graphicsNotes);
    if (!notesText.empty()) {
      line("");
      line("## This project's direction");
      line("");
      line(notesText);
    }
  }
  return doc;
}

}  // namespace kestrane
