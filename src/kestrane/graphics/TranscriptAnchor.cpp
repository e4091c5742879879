#include "kestrane/graphics/TranscriptAnchor.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"

namespace kestrane::TranscriptAnchor {

namespace {

// The transcript as one token list, with the word each token came from.
struct Flat {
  std::vector<std::string> tokens;
  std::vector<std::size_t> wordOf;
};

Flat flatten(const Words& words) {
  Flat flat;
  for (std::size_t i = 0; i < words.size(); ++i) {
    for (std::string& t : TextAlign::tokens(words[i].text)) {
      flat.tokens.push_back(std::move(t));
      flat.wordOf.push_back(i);
    }
  }
  return flat;
}

// Tenths, half away from zero; a non-finite time counts as 0.
double tenths(double x) {
  if (!std::isfinite(x)) return 0;
  return std::round(x * 10) / 10;
}

// A quote as shown in a warning: one line, at most 60 characters.
std::string shownQuote(std::string_view anchor) {
  std::string oneLine(anchor);
  std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
  std::string_view t = GraphicsText::trimBlanks(oneLine);
  if (GraphicsText::graphemeCount(t) >= 61) return std::string(GraphicsText::prefixGraphemes(t, 57)) + "…";
  return std::string(t);
}

}  // namespace

int Resolution::anchored() const {
  return static_cast<int>(
      std::count_if(ideas.begin(), ideas.end(), [](const VisualIdea& i) { return i.isMeasured(); }));
}

std::vector<std::size_t> exactOccurrences(const std::vector<std::string>& needle, const std::vector<std::string>& hay) {
  std::vector<std::size_t> out;
  if (needle.empty() || hay.size() < needle.size()) return out;
  for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(i))) {
      out.push_back(i);
    }
  }
  return out;
}

std::optional<Match> locate(std::string_view anchor, const Words& words) {
  const std::vector<std::string> needle = TextAlign::tokens(anchor);
  if (needle.size() < 2 || words.empty()) return std::nullopt;
  const Flat flat = flatten(words);
  if (flat.tokens.empty()) return std::nullopt;

  std::size_t first = 0;
  std::size_t last = 0;
  double score = 1.0;
  if (needle.size() == 2) {
    const auto found = exactOccurrences(needle, flat.tokens);
    if (found.size() != 1) return std::nullopt;
    first = found[0];
    last = found[0] + 1;
  } else {
    const TextAlign::LocalAlignment a = TextAlign::localAlign(needle, flat.tokens, -1.0);
    if (a.bRange.count() <= 0 || a.score < 0.6 || a.matchCount < 0.6 * static_cast<double>(needle.size())) {
      return std::nullopt;
    }
    first = static_cast<std::size_t>(a.bRange.lowerBound);
    last = std::min(static_cast<std::size_t>(a.bRange.upperBound - 1), flat.tokens.size() - 1);
    score = a.score;
  }
  const std::size_t w0 = flat.wordOf[first];
  const std::size_t w1 = flat.wordOf[last];
  Match m;
  m.start = words[w0].start;
  m.end = std::max(words[w1].end, m.start);
  for (std::size_t i = w0; i <= w1; ++i) m.text += (i == w0 ? "" : " ") + words[i].text;
  m.score = score;
  return m;
}

std::string diagnosis(std::string_view anchor, const Words& words) {
  const std::vector<std::string> needle = TextAlign::tokens(anchor);
  if (needle.size() <= 1) {
    return "it is too short to identify a moment — the ideas doc should quote 5-15 words";
  }
  if (needle.size() == 2) {
    const std::size_t n = exactOccurrences(needle, flatten(words).tokens).size();
    if (n < 2) return "that short a phrase has to appear verbatim, and it doesn't";
    return fmt::format("that short a phrase is said {} times in the cut, so it can't say which one", n);
  }
  return "the line isn't in the cut transcript (it may have been cut, or the quote isn't verbatim)";
}

Resolution resolve(std::vector<VisualIdea> ideas, const Words& words, double cutDuration) {
  Resolution r;
  if (ideas.empty()) return r;
  if (words.empty()) {
    for (VisualIdea& idea : ideas) {
      idea.placementSource = PlacementSource::estimated;
      idea.anchorIssue = "the cut transcript has no words to anchor against";
    }
    r.ideas = std::move(ideas);
    r.warnings.push_back(
        "Motion graphics timing: the cut has no transcript, so every visual keeps the ideas doc's "
        "estimated timecode — check placement by hand.");
    return r;
  }
  // NaN and infinite lengths count as unknown.
  if (!std::isfinite(cutDuration)) cutDuration = 0;

  std::vector<std::string> failures;
  double largestDrift = 0;
  for (VisualIdea& idea : ideas) {
    const std::string where = idea.name + " (" + VisualIdeas::timecode(idea.placementSeconds) + ")";
    if (GraphicsText::trimSpace(idea.anchorText).empty()) {
      idea.placementSource = PlacementSource::estimated;
      idea.anchorIssue = "the entry carries no anchor line";
      failures.push_back(where + ": no anchor line in the ideas doc");
      continue;
    }
    const auto match = locate(idea.anchorText, words);
    if (!match) {
      idea.placementSource = PlacementSource::estimated;
      idea.anchorIssue = diagnosis(idea.anchorText, words);
      failures.push_back(where + ": anchor \"" + shownQuote(idea.anchorText) + "\" — " + *idea.anchorIssue);
      continue;
    }
    const double spoken = std::max(0.0, match->end - match->start);
    const double placement = std::max(0.0, match->start - idea.leadInSeconds);
    const double total = idea.leadInSeconds + spoken + idea.leadOutSeconds;
    double length = 1.5;
    if (total > 1.5) {
      if (cutDuration > 0) {
        const double room = cutDuration - placement;
        length = room >= 1.5 ? std::min({total, room, 30.0}) : 1.5;
      } else {
        length = std::min(total, 30.0);
      }
    }
    idea.placementSeconds = tenths(placement);
    idea.durationSeconds = tenths(length);
    idea.spokenSeconds = tenths(spoken);
    idea.matchedText = match->text;
    idea.placementSource = PlacementSource::anchored;
    idea.anchorIssue.reset();
    largestDrift = std::max(largestDrift, std::fabs(idea.placementSeconds - idea.estimatedPlacementSeconds));
  }

  const std::size_t n = ideas.size();
  r.ideas = std::move(ideas);
  if (!failures.empty()) {
    r.warnings.push_back(
        fmt::format("Motion graphics timing: {} of {} visual{} could not be anchored to the cut — {}. They keep "
                    "the ideas doc's estimated timecode, and their file names start with `~` so the guess is "
                    "never mistaken for a measurement.",
                    failures.size(), n, failures.size() == 1 ? "" : "s", fmt::join(failures, "; ")));
  }
  const int anchored = r.anchored();
  if (anchored > 0 && largestDrift >= 1.0) {
    r.warnings.push_back(
        fmt::format("Motion graphics timing: {} of {} visuals were re-timed from the transcript — the ideas "
                    "doc's estimates were off by up to {:.1f}s. File names and assets/README.md carry the "
                    "measured times.",
                    anchored, n, largestDrift));
  }
  return r;
}

}  // namespace kestrane::TranscriptAnchor
