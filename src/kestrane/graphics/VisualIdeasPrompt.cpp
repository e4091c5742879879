#include "kestrane/graphics/VisualIdeasPrompt.hpp"

#include <algorithm>

#include "kestrane/graphics/GraphicsChoices.hpp"
#include "kestrane/graphics/GraphicsText.hpp"

namespace kestrane::VisualIdeasPrompt {

namespace {

constexpr std::string_view kBrief =
    ". Order them by timecode.\n\n"
    "THE BAR — read this before you write anything.\n\n"
    "SHOW THE IDEA HAPPENING. Do not label it. The speaker's words are already in the audio, so a "
    "visual earns its place only by depicting the thing being described — actually occurring on "
    "screen, in motion.\n\n"
    "Example, on the line \"this is the newest way to edit your videos, and it's blowing my "
    "mind.\": WRONG — the words \"newest way to edit\" in big type fading up. That is a caption of "
    "what was just said. RIGHT — a video timeline that assembles itself: a playhead sweeps, the "
    "dead segments collapse out and the survivors snap together. The second one shows the claim. "
    "Build that kind of thing.\n\n"
    "You have the WHOLE toolbox. Built objects and mechanisms, devices and interfaces, systems, "
    "environments with depth, abstract forms, data that behaves like data, transformations. "
    "Comparisons, diagrams, chains, count-ups and annotated views are examples, NOT a menu to "
    "choose from.\n\n"
    "REGISTER — premium, not cute. Think high-end editorial and product motion design. No clip "
    "art, no mascots, no stick figures, no doodles, no emoji, no hand-drawn wobble, no comic "
    "style, nothing that reads as a template.\n\n"
    "TEXT IS THE LAST RESORT. A transcript sentence typed onto the screen is a text plugin, not a "
    "motion graphic. Words belong as labels on the thing being shown, or as one short line the "
    "visual pays off. At most ONE entry in the whole document may be a pure text card, and only if "
    "it is the cold-open hook.\n\n"
    "Mine the transcript for what can be depicted: objects and tools that are named, processes, "
    "contrasts, quantities, before-and-afters, cause and effect. Where a passage offers nothing "
    "to show, pick a different moment.\n\n"
    "WHAT IT RENDERS ON — matters, so aim at the medium's strengths. Each idea is built as a "
    "self-contained HTML composition (inline SVG, CSS shapes, gradients, masks, clip-paths, 3-D "
    "transforms, filters) with a GSAP timeline driving every frame deterministically. It is "
    "superb at constructed, geometric, designed motion. It cannot produce photographic or filmed "
    "imagery, and it should not attempt painterly texture or character animation.\n\n"
    "FORMAT OF EACH ENTRY:\n\n"
    "## [MM:SS] Short name\n"
    "- **Type:** ";

constexpr std::string_view kFields =
    "\n- **Device:** what the viewer WATCHES HAPPEN, in one line — the mechanism, not a category "
    "(\"timeline assembles, dead clips collapse out, survivors snap together\", \"a tangle of "
    "crossed wires resolves into one clean path\", \"counter climbs from 100 to 40k while its twin "
    "stalls\"). If you cannot say what happens, this entry does not belong in the document."
    "\n- **Anchor:** the EXACT spoken words this visual belongs to, copied verbatim from the "
    "transcript below — 5 to 15 consecutive words, no paraphrasing, no ellipsis, no timecode "
    "inside it. Pick a distinctive stretch (a phrase that appears once), starting at the word "
    "where the visual should come up. It must be a verbatim quote or the tool cannot locate it and "
    "the visual has to be placed by hand — copy the words exactly as they appear, including the "
    "transcript's own spelling and missing punctuation. (The `[MM:SS]` heading is only your "
    "estimate; the tool computes the real in-point and duration from the anchor and rewrites the "
    "heading.)"
    "\n- **Lead in:** seconds the visual should start BEFORE that line (e.g. `0.3`, or `0` for on "
    "the word)"
    "\n- **Lead out:** seconds it should hold AFTER the line ends (e.g. `0.5`)"
    "\n- **On screen:** one-sentence description of the visual"
    "\n- **Why here:** what it clarifies or amplifies that the audio alone doesn't"
    "\n- **Generation prompt:** the real brief, written for the designer who will build this piece "
    "and nothing else. Describe the SCENE as a scene: what exists on screen, how it is constructed "
    "and arranged, then the beats in order — what moves first, what changes, what it lands on. "
    "Name the objects concretely. Give every word of on-screen copy verbatim, and invent plausible "
    "specifics (numbers, labels, examples) rather than writing \"[stat here]\". Be generous here: "
    "this paragraph is the entire difference between a piece that depicts the idea and a piece "
    "that captions it, and there is no later chance to add detail. Do NOT state a duration; the "
    "real one is measured from the anchored line."
    "\n\n";

}  // namespace

std::string build(std::string_view projectName, std::string_view transcriptMarkdown,
                  const std::optional<std::string>& notes, int targetCount, GraphicsFormat format) {
  std::string notesParagraph;
  if (notes) {
    const std::string_view t = GraphicsText::trimSpace(*notes);
    if (!t.empty()) {
      notesParagraph =
          "\nOWNER NOTES about this project (honor these when choosing moments and "
          "styles of visual):\n" +
          std::string(t) + "\n";
    }
  }
  // Counted wide: a target near the int limit must not wrap into a negative range.
  const long long low = std::max<long long>(targetCount, 3);
  const std::string range = std::to_string(low) + "-" + std::to_string(low + 3);
  const std::string_view spread = targetCount < 5
                                      ? "spread across the video so the opening and the payoff are both covered"
                                      : "spread evenly across the whole video, not clustered at the front";
  const std::string_view typeHint = format == GraphicsFormat::overlays
                                        ? "your own few words for what this is (it composites over the footage)"
                                        : "your own few words for what this is";
  const std::string name(projectName);

  std::string p =
      "You are the visuals producer on a video edit. Below is the timecoded transcript of the "
      "FIRST CUT of \"" +
      name + "\" (talking-head video, timecodes are final-timeline positions).\n";
  p += notesParagraph;
  p += "\nProduce a markdown document titled \"Visual Opportunities — " + name + "\" listing " + range +
       " moments where a visual would tell the story better — " + std::string(spread);
  p += kBrief;
  p += typeHint;
  p += kFields;
  p += GraphicsChoices::ideasDirective(format);
  p += "\n\nYou own the IDEA — the concept, the objects, the mechanism, the beats. The brand owns "
       "the LOOK — palette, typeface, texture — so never specify colors or fonts. Output ONLY the "
       "markdown document.\n\nTRANSCRIPT:\n";
  p += transcriptMarkdown;
  return p;
}

}  // namespace kestrane::VisualIdeasPrompt
