// Writing measured timings back into the visual-ideas document.
#include <algorithm>
#include <cmath>
#include <optional>

#include <fmt/format.h>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"

namespace kestrane::VisualIdeas {

namespace {
std::string secondsText(double s) { return GraphicsText::fixed(s, 1) + "s"; }
}  // namespace

std::string timingBullet(const VisualIdea& idea) {
  if (!idea.isMeasured()) {
    const std::string reason = idea.anchorText.empty()
                                   ? std::string("no anchor line was written for this entry")
                                   : "the anchor line \"" + idea.anchorText + "\" wasn't found in the cut transcript";
    return "- **Timing:** NOT MEASURED — " + reason + ", so this keeps the estimated " +
           timecode(idea.estimatedPlacementSeconds) + " and " + secondsText(idea.durationSeconds) +
           ". Place it by eye; the rendered file's name starts with `~` for the same reason.";
  }
  std::vector<std::string> parts;
  if (idea.spokenSeconds) parts.push_back("line runs " + secondsText(*idea.spokenSeconds));
  if (idea.leadInSeconds > 0) parts.push_back("+" + secondsText(idea.leadInSeconds) + " lead-in");
  if (idea.leadOutSeconds > 0) {
    parts.push_back("+" + secondsText(idea.leadOutSeconds) + " hold after");
  }
  std::string breakdown;
  if (!parts.empty()) breakdown = " (" + fmt::format("{}", fmt::join(parts, ", ")) + ")";
  std::string drift;
  const double off = std::fabs(idea.placementSeconds - idea.estimatedPlacementSeconds);
  if (off >= 0.5) {
    drift = " The first draft of this doc guessed " + timecode(idea.estimatedPlacementSeconds) + " — " +
            secondsText(off) + " " + (idea.placementSeconds > idea.estimatedPlacementSeconds ? "early" : "late") + ".";
  }
  return "- **Timing:** measured from the anchor — in at **" + preciseTimecode(idea.placementSeconds) + "**, runs **" +
         secondsText(idea.durationSeconds) + "**" + breakdown + "." + drift;
}

std::string annotate(std::string_view markdown, const std::vector<VisualIdea>& ideas) {
  if (ideas.empty()) return std::string(markdown);
  std::vector<const VisualIdea*> pool;
  for (const VisualIdea& idea : ideas) pool.push_back(&idea);
  std::vector<std::string> out;
  std::optional<std::string> pending;
  auto flush = [&] {
    if (pending) out.push_back(std::move(*pending));
    pending.reset();
  };
  for (std::string_view line : GraphicsText::lines(markdown)) {
    const std::string_view t = GraphicsText::trimBlanks(line);
    if (GraphicsText::startsWith(t, "## ")) {
      flush();
      const std::string_view heading = GraphicsText::trimBlanks(t.substr(3));
      std::string_view name = heading;
      const std::size_t close = heading.find(']');
      if (GraphicsText::startsWith(heading, "[") && close != std::string_view::npos) {
        name = GraphicsText::trimBlanks(heading.substr(close + 1));
      }
      // Ideas carry their names without control characters; compare the same way.
      const std::string clean(GraphicsText::trimBlanks(GraphicsText::withoutControls(name)));
      auto found = std::find_if(pool.begin(), pool.end(), [&](const VisualIdea* idea) { return idea->name == clean; });
      if (clean.empty() || found == pool.end()) {
        out.emplace_back(line);
        continue;
      }
      const VisualIdea& idea = **found;
      pool.erase(found);
      out.push_back("## [" + std::string(idea.isMeasured() ? "" : "~") + preciseTimecode(idea.placementSeconds) + "] " +
                    idea.name);
      pending = timingBullet(idea);
    } else if (GraphicsText::startsWith(t, "- **Timing:**")) {
      continue;
    } else {
      if (GraphicsText::startsWith(t, "- ")) flush();
      out.emplace_back(line);
    }
  }
  flush();
  return fmt::format("{}", fmt::join(out, "\n"));
}

}  // namespace kestrane::VisualIdeas
