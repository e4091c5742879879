#include "kestrane/ai/CoherenceReview.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include <fmt/format.h>

#include "kestrane/ai/ModelText.hpp"

namespace kestrane::CoherenceReview {

namespace {

using TakeSelector::Utterance;

constexpr double kRenditionWindow = 420;
constexpr std::size_t kMinTokens = 4;
constexpr std::size_t kMaxRenditions = 3;
constexpr std::size_t kListedBeats = 14;

struct CutClock {
  std::vector<Segment> kept;      // by start
  std::vector<double> cutStarts;  // of each kept segment
  double total = 0;

  explicit CutClock(const CutList& cutList) : kept(cutList.keptSegments()) {
    std::ranges::stable_sort(kept, {}, [](const Segment& s) { return s.range.start; });
    for (const Segment& s : kept) {
      cutStarts.push_back(total);
      total += s.range.duration();
    }
  }

  // The first kept segment that ends after t.
  std::size_t segmentAfter(double t) const {
    return static_cast<std::size_t>(
        std::ranges::upper_bound(kept, t, {}, [](const Segment& s) { return s.range.end; }) - kept.begin());
  }

  double cutTime(double t) const {
    const std::size_t i = segmentAfter(t);
    if (i == kept.size()) return total;
    const Segment& s = kept[i];
    if (t < s.range.start) return cutStarts[i];
    return t - s.range.start + cutStarts[i];
  }

  bool keeps(double t) const {
    const std::size_t i = segmentAfter(t);
    return i < kept.size() && kept[i].range.start <= t;
  }
};

bool isLaterRendition(const Utterance& s, const Utterance& r) {
  const std::set<std::string> a(s.tokens.begin(), s.tokens.end()), b(r.tokens.begin(), r.tokens.end());
  std::size_t shared = 0;
  for (const std::string& t : a) shared += b.contains(t);
  const bool opening = TakeSelector::sharesOpening(s.tokens, r.tokens);
  const double overlap = static_cast<double>(shared) / std::max<std::size_t>(1, std::min(a.size(), b.size()));
  if (overlap < 0.35 && !opening) return false;
  double sim =
      std::max(TextAlign::localAlign(s.tokens, r.tokens, -1.0).score, TextAlign::jaccard(s.tokens, r.tokens, 3));
  if (opening) {
    const std::size_t n = std::min(s.tokens.size(), r.tokens.size());
    const TextAlign::Tokens headS(s.tokens.data(), n), headR(r.tokens.data(), n);
    sim = std::max(TextAlign::localAlign(headS, headR, -1.0).score, sim) + 0.1;
  }
  return sim >= 0.5;
}

void listBeats(std::string& out, std::span<const ScriptCoverage::BeatResult> coverage, ScriptCoverage::Status status,
               std::string_view mark, int width, bool withTime) {
  std::size_t listed = 0, count = 0;
  for (const auto& beat : coverage) {
    if (beat.status != status) continue;
    ++count;
    if (listed == kListedBeats) continue;
    ++listed;
    out += fmt::format("    {} {}", mark, ModelText::prefix(beat.text, width));
    if (withTime && beat.matchTime) out += " — closest at source " + clockTime(*beat.matchTime);
    out += "\n";
  }
  if (count > kListedBeats) out += fmt::format("    …and {} more.\n", count - kListedBeats);
}

}  // namespace

std::string clockTime(double seconds) {
  // Rounded to tenths before the minutes are split off: 59.97 s reads 1:00.0, not 0:60.0.
  const long long tenths = std::llrint(seconds * 10);  // halves to even, as printing did
  return fmt::format("{}:{:02}.{}", tenths / 600, tenths % 600 / 10, tenths % 10);
}

std::vector<Line> reading(std::span<const Utterance> utterances, const CutList& cutList) {
  const CutClock clock(cutList);
  if (clock.kept.empty()) return {};
  std::vector<const Utterance*> surviving, removed;
  for (const Utterance& u : utterances) {
    (clock.keeps((u.range.start + u.range.end) / 2) ? surviving : removed).push_back(&u);
  }
  std::vector<Segment> removedTakes;
  for (const Segment& s : cutList.segments) {
    if (s.kind == SegmentKind::retakeRejected || s.kind == SegmentKind::flub) removedTakes.push_back(s);
  }

  std::vector<Line> lines;
  lines.reserve(surviving.size());
  for (std::size_t i = 0; i < surviving.size(); ++i) {
    const Utterance& s = *surviving[i];
    Line line{
        s.index, clock.cutTime(s.range.start), s.range.start, s.range.end, TakeSelector::joinedText(s.words), {}, 0, 0};
    if (s.tokens.size() >= kMinTokens) {
      for (const Utterance* r : removed) {
        const double after = r->range.start - s.range.end;
        if (after <= 0 || after > kRenditionWindow || r->tokens.size() < kMinTokens) continue;
        if (!isLaterRendition(s, *r)) continue;
        line.laterCutRenditions.push_back({r->index, r->range.start});
        if (line.laterCutRenditions.size() == kMaxRenditions) break;
      }
    }
    const double gapStart = i == 0 ? s.range.start : surviving[i - 1]->range.end;
    line.removedBefore = std::max(0.0, s.range.start - gapStart);
    line.removedTakesBefore = static_cast<int>(std::ranges::count_if(
        removedTakes, [&](const Segment& seg) { return seg.range.start < s.range.start && seg.range.end > gapStart; }));
    lines.push_back(std::move(line));
  }
  return lines;
}

std::optional<std::string> evidence(std::span<const Utterance> utterances, const CutList& cutList,
                                    std::span<const ScriptCoverage::BeatResult> coverage,
                                    std::span<const CutInstruments::Finding> instruments) {
  const std::vector<Line> lines = reading(utterances, cutList);
  if (lines.size() < 2) return std::nullopt;
  std::string out;
  if (auto checks = CutInstruments::evidence(instruments)) out += *checks + "\n";

  if (!coverage.empty()) {
    using Status = ScriptCoverage::Status;
    auto count = [&coverage](Status s) {
      return std::ranges::count_if(coverage, [s](const auto& b) { return b.status == s; });
    };
    const auto covered = count(Status::covered), partial = count(Status::partial), missing = count(Status::missing);
    out += "SCRIPT COVERAGE — already measured by the deterministic pass ";
    out += "(evidence; do NOT recompute it):\n";
    out +=
        fmt::format("  {} beats covered, {} partial, {} missing, of {}.\n", covered, partial, missing, coverage.size());
    if (missing > 0) {
      out += "  MISSING from the cut (in script order):\n";
      listBeats(out, coverage, Status::missing, "✗", 110, false);
    }
    if (partial > 0) {
      out += "  PARTIAL (a rendition is in the cut but drifts from the script):\n";
      listBeats(out, coverage, Status::partial, "◐", 90, true);
    }
    out += "\n";
  }

  out += "THE FINAL CUT, READ BACK IN ORDER — cut time | source time | [index] line.\n";
  out += "Cut time is where the VIEWER hears it; source time is where it was shot.\n";
  for (const Line& line : lines) {
    out += fmt::format("{} | {} | [{}] {}\n", clockTime(line.cutStart), clockTime(line.sourceStart), line.index,
                       line.text);
    if (line.removedBefore >= 15.0 && line.removedTakesBefore >= 1) {
      out += fmt::format("    ⤷ {:.0f}s of source removed before this line ({} rejected take/flub cut in that gap)\n",
                         line.removedBefore, line.removedTakesBefore);
    }
    if (!line.laterCutRenditions.empty()) {
      std::string list;
      for (const Rendition& r : line.laterCutRenditions) {
        if (!list.empty()) list += ", ";
        list += fmt::format("{} [cut #{}]", clockTime(r.start), r.index);
      }
      out += "    ⤷ RUN EVIDENCE: this line is delivered AGAIN later in the source at " + list +
             " — those renditions were CUT, this earlier one survived. "
             "A \"cut #\" index may be RESTORED (see the restores rule).\n";
    }
  }
  return out;
}

}  // namespace kestrane::CoherenceReview
