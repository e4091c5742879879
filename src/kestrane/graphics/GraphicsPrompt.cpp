#include "kestrane/graphics/GraphicsPrompt.hpp"

#include <cmath>
#include <cstdio>

#include <fmt/format.h>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/HouseStyle.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"

namespace kestrane::GraphicsPrompt {

const std::string_view gsapScriptURL = "https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js";

const std::string_view compositionContract =
    "OUTPUT FORMAT — a single self-contained HyperFrames composition (one HTML file). HyperFrames "
    "renders video from HTML: the DOM declares timing with data-* attributes and one paused, "
    "seekable GSAP timeline drives all motion.\n\n"
    "Required shape:\n"
    "- `<script src=\"https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js\"></script>` in "
    "<head>.\n"
    "- A root `<div id=\"root\" data-composition-id=\"main\" data-start=\"0\" data-width=\"W\" "
    "data-height=\"H\" data-duration=\"D\">` directly in <body> (NO <template> wrapper), with "
    "`position:relative; width:Wpx; height:Hpx; overflow:hidden` in CSS. The root MUST be an "
    "explicitly sized box.\n"
    "- At least one clip: any element with `class=\"clip\"` plus `data-start`, `data-duration` and "
    "`data-track-index`. Clips on the same track must not overlap in time.\n"
    "- Exactly ONE timeline, built synchronously at load and registered as "
    "`window.__timelines[\"main\"] = gsap.timeline({ paused: true });` — the composition id is "
    "the key. Never call .play(); the renderer seeks it.\n\n"
    "Determinism (a violation renders wrong, not loudly):\n"
    "- No Date/performance.now/requestAnimationFrame-driven motion, no unseeded Math.random, no "
    "network fetches, no `repeat: -1` (use a finite repeat count).\n"
    "- Animate only visual properties (transform, opacity, color, filter, clip-path, "
    "stroke-dashoffset, width/height). Never tween `display` or raw `visibility`; use GSAP "
    "`autoAlpha` if you need to hide something.\n"
    "- Do not `gsap.set()` a later clip's own `.clip` element — the framework owns clip "
    "visibility. Animate children inside the clip instead.\n"
    "- Every `id` must be unique. No `<br>` inside body text — use separate block elements.\n"
    "- A full-bleed fill goes on an absolutely-positioned CHILD (`inset:0`), never as the root "
    "element's own background.\n"
    "- Inline all CSS in one <style> block. SVG must be authored inline.\n\n"
    "NO EXTERNAL RESOURCES — ENFORCED. The GSAP <script> above is the ONLY URL permitted anywhere "
    "in the document. Not allowed: a Google Fonts stylesheet <link>, @import, any URL on "
    "fonts.googleapis.com or fonts.gstatic.com, any remote stylesheet, image, icon, media file or "
    "CDN of any kind, and fetch()/XMLHttpRequest at runtime. The renderer scans the document you "
    "return and REJECTS it outright if it finds one — the graphic is then not delivered at all. "
    "Local system font families and `data:` URIs are the way to get any asset you need.\n\n"
    "Return ONLY the HTML document, starting with `<!doctype html>`. No markdown fences, no "
    "commentary before or after.";

namespace {

std::string trimmedText(const std::optional<std::string>& s) {
  return s ? std::string(GraphicsText::trimSpace(*s)) : std::string();
}

std::string_view kindWords(GraphicKind kind) {
  return kind == GraphicKind::alphaOverlay ? "ALPHA overlay" : "full-frame";
}

}  // namespace

std::string durationString(double seconds) {
  if (!std::isfinite(seconds)) seconds = 0;
  const double hundredths = std::round(std::clamp(seconds, -1e9, 1e9) * 100) / 100;
  if (hundredths == std::floor(hundredths)) return fmt::format("{}", static_cast<long long>(hundredths));
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", hundredths);
  return buffer;
}

std::string deviceLine(const VisualIdea& idea) {
  const std::string_view device = GraphicsText::trimSpace(idea.device);
  if (device.empty()) return {};
  return "\n- Device — this is what the viewer must WATCH HAPPEN; it is why the visual exists, so "
         "build it: " +
         std::string(device);
}

std::string timingSection(const VisualIdea& idea) {
  const std::string d = durationString(idea.durationSeconds);
  if (!idea.isMeasured()) {
    return "TIMING. This graphic sits at about " + VisualIdeas::timecode(idea.placementSeconds) +
           " on the cut. Its line could not be located in the transcript, so " + d +
           "s is the brief's own estimate — build exactly " + d +
           "s and make the piece read as a self-contained beat rather than one timed to a specific "
           "word.";
  }
  std::vector<std::string> phrases;
  if (idea.spokenSeconds) phrases.push_back(fmt::format("the line runs {:.1f}s", *idea.spokenSeconds));
  if (idea.leadInSeconds > 0) {
    phrases.push_back(fmt::format("{:.1f}s of lead-in before it", idea.leadInSeconds));
  }
  if (idea.leadOutSeconds > 0) {
    phrases.push_back(fmt::format("{:.1f}s held after it", idea.leadOutSeconds));
  }
  return "TIMING — MEASURED, NOT ESTIMATED. This graphic is placed at " +
         VisualIdeas::preciseTimecode(idea.placementSeconds) + " on the cut timeline, over this spoken line:\n\n  \"" +
         idea.matchedText.value_or(idea.anchorText) + "\"\n\nDuration: EXACTLY " + d + " seconds — " +
         fmt::format("{}", fmt::join(phrases, ", ")) +
         ". That is the real length of the speech this covers, so build the piece to fill it: "
         "entrance, a hold long enough to read at conversational pace, and an exit (or a hold to "
         "the last frame if the brief says so). Do not pad it out with a dead tail, and do not "
         "rush three beats into it — if the brief names more content than " +
         d + "s can carry, simplify the content rather than speeding up the motion past legibility.";
}

std::string brandSection(const std::optional<BrandSpec>& brand) {
  if (!brand || brand->isEmpty()) {
    return "BRAND: none supplied. Use a restrained, neutral treatment — near-black background, "
           "off-white type, one accent color, a clean geometric sans. Do not invent a logo or a "
           "company name.";
  }
  const std::pair<std::string_view, std::string> fields[] = {
      {"- Name: ", std::string(GraphicsText::trimSpace(brand->name))},
      {"- Website: ", trimmedText(brand->websiteURL)},
      {"- Colors: ", trimmedText(brand->colors)},
      {"- Fonts: ", trimmedText(brand->fonts)},
      {"- Style words: ", trimmedText(brand->styleWords)},
      {"- Notes: ", trimmedText(brand->notes)}};
  std::string lines;
  for (const auto& [label, value] : fields) {
    if (!value.empty()) lines += (lines.empty() ? "" : "\n") + std::string(label) + value;
  }
  return "BRAND TOKENS — this is the LOOK. Use these colors; do not substitute your own palette. "
         "The typefaces are resolved to local families in the FONTS section below — use THOSE "
         "stacks, not the brand's font names.\n" +
         (lines.empty() ? std::string("- (no tokens recorded)") : lines);
}

std::string safeZoneRules(GraphicKind kind, const std::optional<BrandSpec>& brand, const GraphicsCanvas& canvas) {
  const int w = canvas.width;
  const int h = canvas.height;
  const auto edge = [h](double f) { return static_cast<int>(h * f); };
  std::string s = "SAFE ZONES — BINDING. This graphic is a " + std::string(kindWords(kind)) + ".\n\n";
  if (kind == GraphicKind::alphaOverlay) {
    s += fmt::format(
        "It is composited ON TOP of the talking-head footage, so the whole zone map applies. "
        "Height fractions measured top-down on a {0}x{1} frame:\n\n"
        "- 0-12% (0-{2}px) and 85-100% ({5}px-{1}px): PLATFORM DEAD ZONES. Absolutely nothing "
        "here — no text, no graphics, no decoration. Platform UI covers them.\n"
        "- 12-45% ({2}px-{3}px): SPEAKER ZONE. The presenter's head and shoulders live here, eye "
        "line around 30%. A graphic may enter this band ONLY at 25-50% opacity (a wash, a soft "
        "glow, a de-emphasized backdrop) — never opaque text, never a solid panel, never a logo.\n"
        "- 45-52% ({3}px-{4}px): CAPTIONS BAND. Leave it empty; burned-in captions land here.\n"
        "- 52-85% ({4}px-{5}px): PRIMARY GRAPHICS BAND. This is where full-opacity content "
        "belongs. Compose the piece to live here.\n\n"
        "The page background MUST be fully transparent (`background: transparent` on html/body "
        "and on the composition root). Do not paint a backdrop rectangle across the frame — the "
        "footage is the background. Give text its own legibility (weight, a soft drop shadow, or "
        "a contained pill/panel inside the primary band) so it reads over any footage.",
        w, h, edge(0.12), edge(0.45), edge(0.52), edge(0.85));
  } else {
    s += fmt::format(
        "It REPLACES the footage for its duration, so the speaker zone and captions band do not "
        "apply — the full canvas is usable EXCEPT the platform dead zones. Height fractions "
        "measured top-down on a {0}x{1} frame:\n\n"
        "- 0-12% (0-{2}px): TOP DEAD ZONE. Background art may extend through it; no text, no "
        "numbers, no logo, no element the viewer has to read.\n"
        "- 12-85% ({2}px-{3}px): fully usable. Center the piece's meaning here.\n"
        "- 85-100% ({3}px-{1}px): BOTTOM DEAD ZONE (~15% of frame height). Background art only, "
        "same rule as the top.\n\n"
        "The page background MUST be OPAQUE and on-brand — this graphic is what the viewer sees, "
        "so it carries the brand's background color edge to edge. Paint the fill on a full-bleed "
        "child element (`position:absolute; inset:0`), never on the composition root.",
        w, h, edge(0.12), edge(0.85));
  }
  std::string note;
  if (brand) note = trimmedText(canvas.isVertical() ? brand->safeZonesVertical : brand->safeZonesHorizontal);
  if (note.empty()) {
    note = canvas.isVertical() ? BrandSpec::peluVerticalSafeZones : BrandSpec::peluHorizontalSafeZones;
  }
  return s + "\n\nThe brand's own safe-zone note (authoritative where it differs from the above):\n" + note;
}

std::string authoringPrompt(const VisualIdea& idea, const std::optional<BrandSpec>& brand,
                            const std::optional<std::string>& graphicsNotes, std::string_view projectName,
                            const GraphicsCanvas& canvas, const std::vector<LocalFonts::ResolvedFont>& fonts,
                            const std::optional<ComponentVocabulary>& vocabulary, bool isReference) {
  const std::string d = durationString(idea.durationSeconds);
  const int minType = canvas.height > 1055 ? canvas.height / 22 : 48;
  std::string p = "You are the motion-graphics designer on the video \"" + std::string(projectName) +
                  "\". Author ONE short, unnarrated motion graphic as a HyperFrames composition. It "
                  "will be rendered locally and dropped onto the editor's timeline at " +
                  VisualIdeas::preciseTimecode(idea.placementSeconds) + ".\n\n";
  p += "THE BRIEF — this is the CONTENT. Every word of copy and every beat come from here. Do not "
       "add scenes and do not rewrite the copy. Where the brief states a duration, the MEASURED "
       "duration below overrides it — the brief's number was written before anyone knew how long "
       "the line ran:\n" +
       idea.generationPrompt;
  p += "\n\nSupporting context from the edit (do not put this text on screen):\n- Entry: " + idea.name +
       "\n- Type: " + (idea.type.empty() ? std::string("motion graphic") : idea.type) + deviceLine(idea) +
       "\n- On screen: " + idea.onScreen + "\n- Why it is here: " + idea.whyHere;
  p += "\n\n" + timingSection(idea);
  p += fmt::format(
      "\n\nCANVAS: exactly {}x{} at {} fps. Set `data-duration=\"{}\"` on the root — that is the "
      "measured duration above, in seconds. If the brief names a different canvas size, the "
      "canvas above wins; scale the layout to fit it.\n\n",
      canvas.width, canvas.height, canvas.fps, d);
  p += brandSection(brand) + "\n\n";
  p += LocalFonts::promptSection(fonts) + "\n";
  if (graphicsNotes && !GraphicsText::trimSpace(*graphicsNotes).empty()) {
    p += "\nTHIS PROJECT'S DIRECTION (the editor's instruction for this one video — it outranks "
         "the brand's general style words where they conflict):\n" +
         std::string(GraphicsText::trimSpace(*graphicsNotes)) + "\n";
  }
  if (vocabulary && !HouseStyle::isEmpty(*vocabulary)) {
    p += "\n" + HouseStyle::promptSection(*vocabulary, idea.kind) + "\n";
    if (isReference) p += "\n" + std::string(HouseStyle::secondReferenceDirective) + "\n";
  } else if (isReference) {
    p += "\n" + std::string(HouseStyle::referenceDirective) + "\n";
  }
  p += "\n" + safeZoneRules(idea.kind, brand, canvas);
  p += fmt::format(
      "\n\nCRAFT BAR: motion is the message. Everything enters with intent (staggered, eased — "
      "power3.out/expo.out, not linear), holds long enough to be read, and exits deliberately or "
      "holds to the end if the brief says so. Type is large and confident: the primary line "
      "should be at least {}px. No stock-template gloss, no gratuitous drop shadows on panels, no "
      "lorem, no placeholder boxes.\n\n",
      minType);
  p += "BUILD THE SCENE THE BRIEF DESCRIBES, not a caption of it. A line of copy typed on screen "
       "with a fade is exactly the failure to prevent. If the brief names a mechanism, an object, "
       "an interface or a transformation, DRAW IT — in inline SVG and styled elements — and "
       "animate it doing the thing. Words only label what is shown, or form one short line the "
       "visual pays off.\n\n"
       "REGISTER — premium editorial motion design. Precise geometry, a restrained palette, "
       "negative space, weighty easing. Not wanted: clip art, cartoon mascots, stick figures, "
       "doodles, emoji, hand-drawn wobble, comic style, anything that reads as a template.\n\n"
       "TECHNIQUE — this medium is capable, so use it. Inline SVG for anything drawn; "
       "`stroke-dasharray`/`stroke-dashoffset` line drawing; `clip-path` and mask wipes instead of "
       "fades; parallax layers; a subtle `transform: perspective()`; `filter: blur()` on "
       "background layers; gradients and inner glows; a real background treatment. Stagger "
       "related elements 40–80ms apart. The element carrying the point moves LAST and lands "
       "hardest.\n\n"
       "Take the whole duration seriously: something is developing at every moment, and the final "
       "second resolves rather than simply stopping.\n\n";
  p += compositionContract;
  return p;
}

}  // namespace kestrane::GraphicsPrompt
