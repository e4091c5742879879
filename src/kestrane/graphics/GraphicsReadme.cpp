#include <cstdio>

#include "kestrane/graphics/GraphicsChoices.hpp"
#include "kestrane/graphics/GraphicsRun.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/HouseStyle.hpp"
#include "kestrane/model/Timecode.hpp"

namespace kestrane::GraphicsRun {
namespace {

std::string tenths(double v) { return GraphicsText::fixed(v, 1); }

std::string clock(double v) { return VisualIdeas::timecode(v); }

std::string prefix(const std::string& text, std::size_t characters) {
  return std::string(GraphicsText::prefixGraphemes(text, characters));
}

std::string joined(const std::vector<std::string>& items, std::size_t most, const std::string& by) {
  std::string out;
  for (std::size_t i = 0; i < items.size() && i < most; ++i) out += (i ? by : "") + items[i];
  return out;
}

std::optional<std::string> row(const std::string& label, const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  const std::string_view trimmed = GraphicsText::trimSpace(*value);
  if (trimmed.empty()) return std::nullopt;
  return "- **" + label + "**: " + std::string(trimmed);
}

std::string introduction(const ReadmeInput& in) {
  return "# Rendered motion graphics — " + in.projectName +
         "\n\nRendered by Kestrane from `../visual-ideas.md`: Claude authored each HyperFrames "
         "composition against the brand spec and the safe-zone map, headless Chromium captured "
         "the frames, and Kestrane's own encoder wrote the files. All local, no cloud services, "
         "no paid providers, no web fonts. Canvas " +
         std::to_string(in.canvas.width) + "x" + std::to_string(in.canvas.height) + " @ " +
         std::to_string(in.canvas.fps) +
         " fps.\n\n**Placement is MEASURED, not estimated.** Each visual-ideas entry names the "
         "spoken line it belongs to; Kestrane finds that line in the cut transcript and computes "
         "the in-point and the duration from the words themselves, so a graphic runs exactly as "
         "long as the line it covers. The file name carries that measured time (to a tenth of a "
         "second) — drop the file at that timecode and it fits. A name that starts with `@~` is "
         "the exception: that entry's line could not be found, so its time is the ideas doc's "
         "ESTIMATE and needs your eye.\n\n**They are already on the timeline.** The package's "
         "`.fcpxml` carries every file below as a CONNECTED CLIP on a lane above the cut, at the "
         "in-point in its name — outside the compound clip, so the footage stays untouched and "
         "any graphic can be trimmed, disabled or deleted without disturbing the edit. They all "
         "carry the `Graphics` video role, so the whole set toggles together. Re-place them "
         "after editing a file by hand with `kestrane place \"<this package>\"`.\n\n`ALPHA "
         "overlay` files are ProRes 4444 with a real alpha channel — they composite over the "
         "talking head, no keying. `full-frame` files are opaque H.264 and cover the picture for "
         "their duration (they sit on a lane too, so hiding one puts the footage straight "
         "back).\n\n## Assets\n\n| File | In-point | Duration | Timing | Type | From |\n| --- | "
         "--- | --- | --- | --- | --- |";
}

std::string timing(const GraphicsAsset& a) {
  if (a.anchoredToTranscript != true) return "**estimated**";
  if (!a.spokenSeconds) return "measured";
  return "measured (line " + tenths(*a.spokenSeconds) + "s)";
}

std::string fontsSection(const std::vector<LocalFonts::ResolvedFont>& fonts) {
  std::string out = "\n\n## Fonts\n\n";
  if (fonts.empty())
    return out +
           "No brand fonts were set, so the graphics use the local system stack. Nothing was "
           "fetched from the web.\n";
  for (const auto& f : fonts) {
    if (!f.installed)
      out += "- **" + f.requested + "** — NOT installed on this computer. The graphics use **" + f.family +
             "** instead. Install " + f.requested + " and re-run if the typeface matters.\n";
    else
      out += "- **" + f.requested + "** — installed on this computer and used as-is" +
             (f.fileURL ? ", embedded in the saved composition as a `data:` URI.\n" : ".\n");
  }
  return out +
         "\nNo composition is allowed to load a font (or anything else) over the network — "
         "one that tries is rejected and its graphic is not delivered, rather than shipped "
         "in the wrong face.\n";
}

std::string vocabularySection(const ReadmeInput& in) {
  if (!in.vocabulary || HouseStyle::isEmpty(*in.vocabulary)) return {};
  const ComponentVocabulary& v = *in.vocabulary;
  std::string out = "\n## Shared component language\n\n";
  if (in.inheritedVocabulary) out += "Inherited from this brand's earlier video, so the two sets match: ";
  else
    out += "Derived from " +
           (v.derivedFrom.empty() ? std::string("the first asset of each type")
                                  : joined(v.derivedFrom, v.derivedFrom.size(), " and ")) +
           " and enforced on every other asset in this run: ";
  std::vector<std::string> parts;
  const auto part = [&](const char* label, const std::vector<std::string>& list, std::size_t most, const char* by) {
    if (!list.empty()) parts.push_back(std::string(label) + " " + joined(list, most, by));
  };
  part("type", v.fontFamilies, 2, " / ");
  part("scale", v.typeScale, 3, " / ");
  part("palette", v.colors, 4, " ");
  part("radii", v.cornerRadii, 2, " / ");
  part("eases", v.eases, 2, " / ");
  part("components", v.components, 6, " ");
  out += parts.empty() ? "(no tokens extracted).\n" : joined(parts, parts.size(), "; ") + ".\n";
  return out +
         "\nThat is what keeps the set from drifting — the same eyebrow, panel, radius, type "
         "scale and entrance rhythm in every piece instead of six separate designs.\n";
}

std::string brandSection(const ReadmeInput& in) {
  std::string out = "\n## Brand tokens used\n\n";
  if (!in.brand || in.brand->isEmpty()) {
    out += "- No brand was attached to this cut — the graphics use a neutral treatment.\n";
  } else {
    const BrandSpec& b = *in.brand;
    std::vector<std::string> rows;
    for (const auto& r : {row("Brand", b.name), row("Website", b.websiteURL), row("Colors", b.colors),
                          row("Fonts", b.fonts), row("Style", b.styleWords), row("Notes", b.notes)})
      if (r) rows.push_back(*r);
    out += rows.empty() ? "- (no tokens recorded)\n" : joined(rows, rows.size(), "\n") + "\n";
  }
  if (in.graphicsNotes) {
    const std::string_view notes = GraphicsText::trimSpace(*in.graphicsNotes);
    if (!notes.empty()) out += "\n**This project's direction**: " + std::string(notes) + "\n";
  }
  return out;
}

}  // namespace

std::string readme(const ReadmeInput& in) {
  std::vector<const GraphicsAsset*> rendered, anchored, estimated, failed;
  for (const auto& a : in.assets) {
    if (a.failure) {
      failed.push_back(&a);
      continue;
    }
    rendered.push_back(&a);
    (a.anchoredToTranscript == true ? anchored : estimated).push_back(&a);
  }

  std::string out = introduction(in);
  for (const auto* a : rendered)
    out += "\n| `" + a->fileName + "` | " + VisualIdeas::preciseTimecode(a->placementSeconds) + " | " +
           tenths(a->durationSeconds) + "s | " + timing(*a) + " | " + std::string(GraphicsChoices::label(a->kind)) +
           " | " + a->name + " |";
  if (rendered.empty()) out += "\n| _none rendered_ | — | — | — | — | — |";

  if (!anchored.empty()) {
    out +=
        "\n\n### Where each in-point came from\n\n| File | Anchored line | Measured in | Doc's "
        "guess |\n| --- | --- | --- | --- |\n";
    for (const auto* a : anchored)
      out += "| `" + a->fileName + "` | " +
             (a->anchorText ? "\"" + prefix(*a->anchorText, 70) + "\"" : std::string("—")) + " | " +
             VisualIdeas::preciseTimecode(a->placementSeconds) + " | " +
             (a->estimatedPlacementSeconds ? clock(*a->estimatedPlacementSeconds) : std::string("—")) + " |\n";
  }
  if (!estimated.empty()) {
    out += "\n\n### Placed by estimate — check these by eye\n\n";
    for (const auto* a : estimated)
      out += "- `" + a->fileName + "` — the anchored line wasn't found in the cut transcript" +
             (a->anchorText ? " (looked for \"" + prefix(*a->anchorText, 60) + "\")" : std::string()) +
             ", so this sits at the ideas doc's estimate. Scrub to it and place it where it "
             "belongs.\n";
  }
  if (!failed.empty()) {
    out += "\n\n## Not rendered (failed)\n\n";
    for (const auto* a : failed) {
      // A failure that is already a sentence keeps its one full stop.
      std::string why = *a->failure;
      while (why.ends_with('.')) why.pop_back();
      out += "- **" + clock(a->placementSeconds) + " " + a->name + "** — " + why +
             ". The idea is still in `../visual-ideas.md` with its generation prompt. ";
      if (in.compositions.contains(a->fileName)) {
        const auto dot = a->fileName.rfind('.');
        out += std::string("The composition it got as far as is `") + compositionsFolder + "/" +
               a->fileName.substr(0, dot) + ".html` — the failure happened after it was authored.\n";
      } else {
        out += "No composition was written — it failed before or during authoring.\n";
      }
    }
  }
  if (!in.unrendered.empty()) {
    // The budget follows the limit whenever one is set, so only raising it renders more.
    out += std::string("\n\n## Not rendered (over this run's budget)\n\nThese ideas are ready to render — raise ") +
           (in.countFromLimit ? "the graphics limit" : "the graphics density") + " and re-run.\n\n";
    for (const auto& idea : in.unrendered)
      out += "- **" + clock(idea.placementSeconds) + " " + idea.name + "** — " +
             std::string(GraphicsChoices::fileTag(idea.kind)) + ", " + tenths(idea.durationSeconds) + "s\n";
  }
  const std::string folder = compositionsFolder;
  out += "\n\n## Source compositions\n\n";
  if (!in.compositions.empty())
    out += "`" + folder +
           "/` holds the HyperFrames composition Claude authored for each asset "
           "above, one HTML file per graphic under the same name (`" +
           folder +
           "/<asset name>.html`). It is the only surviving copy — the renderer's scratch project "
           "is deleted when the run ends — and it is kept for every asset, including the ones that "
           "rendered cleanly.\n\nUse it when a graphic looks wrong or a composition check is "
           "quoted in this run's warnings: open the file in a browser to see the source the frames "
           "were captured from, edit it, and drop it into a HyperFrames project as `index.html` to "
           "re-check or re-capture. The folder is dot-prefixed, so the file manager keeps it out "
           "of the way of the deliverables.\n";
  else out += "None — nothing got as far as an authored composition this run.\n";

  out += fontsSection(in.fonts) + vocabularySection(in) + brandSection(in);
  out +=
      "\n## Safe zones honored\n\n- ALPHA overlays keep out of the platform dead zones (top "
      "12%, bottom 15%), keep the captions band (~45-52%) clear, live in the primary graphics "
      "band (52-85%), and may only enter the speaker zone (12-45%) at 25-50% opacity.\n- "
      "Full-frame graphics use the whole canvas except the same dead zones — the face zone is "
      "free because the footage is gone.\n\nFull rules: `../brand-spec.md`.\n\n## Timing\n\n";
  for (const auto& a : in.assets)
    out += "- " + clock(a.placementSeconds) + " " + a.name + ": " +
           (a.renderSeconds ? tenths(*a.renderSeconds) + "s" : std::string("—")) + (a.failure ? " (failed)" : "") +
           "\n";
  out += "- **Total wall clock: " + tenths(in.totalSeconds) + "s** for " + std::to_string(rendered.size()) + " asset" +
         (rendered.size() == 1 ? "" : "s") + ".\n";
  return out;
}

}  // namespace kestrane::GraphicsRun
