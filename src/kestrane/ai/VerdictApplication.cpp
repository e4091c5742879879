// Applying a verdict under the guards. Pure: reads the decision and returns what changes.
#include <algorithm>
#include <map>
#include <set>

#include "kestrane/ai/Adjudicator.hpp"
#include "kestrane/ai/ModelText.hpp"
#include "kestrane/brain/SimilarityIndex.hpp"

namespace kestrane::Adjudicator {

namespace {

constexpr double kConfidenceBar = 0.5;
constexpr double kBeatBar = 0.55;
constexpr double kSameLineBar = 0.5;
constexpr const char* kSpacedDash = " \u2014 ";

struct CutRow {
  int index = 0;
  std::string category;
  std::string reason;
  std::optional<double> confidence;
  std::optional<int> survivor;
};

struct RestoreRow {
  int index = 0;
  int replaces = 0;
  std::string reason;
  std::optional<double> confidence;
};

double midpoint(const TimeRange& r) { return (r.start + r.end) / 2; }
bool contains(const TimeRange& r, double t) { return r.start <= t && t < r.end; }

// The lines the guards compare, in similarity indexes, so that they measure only the pairs that
// share enough words to reach their bar. An index offers the partners listed after a line, so
// the first lists the lines asked about before every kept line (a kept line asked about is
// listed twice) and the beats, and the second (made when first needed) lists the beats before
// the kept lines.
class Comparisons {
 public:
  Comparisons(std::span<const int> asked, std::span<const Utterance> kept, const std::map<int, const Utterance*>& all,
              const TakeSelector::ScriptBeats& beats)
      : kept_(kept), beats_(beats) {
    for (int index : asked) add(*all.at(index));
    firstKept_ = static_cast<int>(lines_.size());
    for (const Utterance& u : kept) {
      position_.emplace(u.index, static_cast<int>(lines_.size()));
      lines_.push_back({u.index, {}, u.tokens, u.range});
    }
    firstBeat_ = static_cast<int>(lines_.size());
    for (const auto& beat : beats) lines_.push_back({-1, {}, beat, {}});
    index_.emplace(lines_);
  }

  // Two renditions of one line, as the restore guard measures them.
  bool sameLine(int a, int b) const { return index_->openingAwareAtLeast(at(a), at(b), kSameLineBar); }

  // The kept lines (other than a) that are renditions of a's line, whatever else the verdict
  // asked about; a must be one asked about.
  std::vector<int> sameLineAs(int a) const {
    std::vector<int> found;
    for (int p : index_->partnersAfter(at(a), kSameLineBar, firstKept_)) {
      if (p < firstBeat_ && lines_[p].index != a && index_->openingAwareAtLeast(at(a), p, kSameLineBar)) {
        found.push_back(lines_[p].index);
      }
    }
    return found;
  }

  // The best beat of an utterance asked about, as bestBeat gives it.
  std::optional<std::pair<int, double>> bestBeat(int utterance) const {
    std::optional<std::pair<int, double>> best;
    const int u = at(utterance);
    for (int p : index_->partnersAfter(u, kBeatBar)) {
      if (p < firstBeat_) continue;
      const double score = index_->alignment(u, p).score;
      // Partners come in beat order, so the earlier beat wins a tie.
      if (score >= kBeatBar && (!best || score > best->second)) best = {p - firstBeat_, score};
    }
    return best;
  }

  // The kept lines that render a beat.
  std::vector<int> renditionsOf(int beat) {
    if (!byBeat_) {
      for (const auto& b : beats_) beatsFirst_.push_back({-1, {}, b, {}});
      for (const Utterance& u : kept_) beatsFirst_.push_back({u.index, {}, u.tokens, u.range});
      byBeat_.emplace(beatsFirst_);
    }
    std::vector<int> found;
    const int beats = static_cast<int>(beats_.size());
    for (int p : byBeat_->partnersAfter(beat, kBeatBar)) {
      if (p < beats) continue;
      const Utterance& u = beatsFirst_[static_cast<std::size_t>(p)];
      // Measured with the utterance first, as everywhere else.
      if (TextAlign::localAlign(u.tokens, beats_[static_cast<std::size_t>(beat)], -1.0).score >= kBeatBar) {
        found.push_back(u.index);
      }
    }
    return found;
  }

 private:
  void add(const Utterance& u) {
    if (position_.emplace(u.index, static_cast<int>(lines_.size())).second) {
      lines_.push_back({u.index, {}, u.tokens, u.range});
    }
  }
  int at(int index) const { return position_.at(index); }

  std::span<const Utterance> kept_;
  const TakeSelector::ScriptBeats& beats_;
  std::vector<Utterance> lines_, beatsFirst_;
  std::map<int, int> position_;
  int firstKept_ = 0, firstBeat_ = 0;
  std::optional<SimilarityIndex> index_, byBeat_;
};

bool confident(const std::optional<double>& c) { return c && *c >= kConfidenceBar; }

std::string trimBlanks(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string out(text.substr(b, e - b));
  std::ranges::transform(out, out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string kindOf(const Verdict::Finding& f) {
  return std::string(ModelText::trim(ModelText::withoutControls(f.kind)));
}

class Application {
 public:
  Application(const Verdict& verdict, std::span<const Utterance> kept, std::span<const Utterance> all,
              const TakeSelector::Decision& decision, const std::optional<std::string>& script)
      : verdict_(verdict), decision_(decision) {
    for (const Utterance& u : kept) keptMap_.emplace(u.index, &u);
    for (const Utterance& u : all) allMap_.emplace(u.index, &u);
    keptList_ = kept;
    allList_ = all;
    if (script) beats_ = TakeSelector::scriptBeats(*script);
    for (const Verdict::Cut& c : verdict.cuts) {
      cutRows_.push_back({c.index, c.category, c.reason, c.confidence, c.survivor});
    }
    for (const Verdict::Restore& r : verdict.restores.value_or(std::vector<Verdict::Restore>{})) {
      restoreRows_.push_back({r.index, r.replaces, r.reason, r.confidence});
    }
  }

  Outcome run() {
    remedies();
    screen();
    survivors();
    gatherEditorNotes();
    scriptLines();
    floor();
    cuts();
    restores();
    swaps();
    findings();
    return std::move(out_);
  }

 private:
  const Utterance* keptLine(int index) const {
    const auto it = keptMap_.find(index);
    return it == keptMap_.end() ? nullptr : it->second;
  }

  void remedies() {
    const auto& found = verdict_.findings;
    if (!found) return;
    for (std::size_t i = 0; i < found->size(); ++i) {
      const Verdict::Finding& f = (*found)[i];
      if (!f.remedy) continue;
      const auto& r = *f.remedy;
      const double confidence = r.confidence.value_or(0.5);
      const std::string action = trimBlanks(r.action);
      const std::string reason = r.reason.value_or(f.detail);
      if (action == "cut") {
        const auto target = r.index ? r.index : f.index;
        if (!target) continue;
        const auto category = remedyCategory(f.kind, r.survivor);
        if (!category) continue;
        cutRows_.push_back({*target, *category, reason, confidence, r.survivor});
        remedyCut_[i] = *target;
      } else if (action == "restore") {
        const auto replaced = r.replaces ? r.replaces : f.index;
        if (!r.index || !replaced) continue;
        restoreRows_.push_back({*r.index, *replaced, reason, confidence});
        remedyRestore_[i] = *r.index;
      }
    }
  }

  void screen() {
    std::vector<CutRow> accepted;
    std::set<int> seen;
    for (const CutRow& row : cutRows_) {
      const Utterance* u = keptLine(row.index);
      if (!u) continue;
      if (!confident(row.confidence)) {
        out_.advisories.push_back(
            {u->range, "AI: " + cleanReason(row.reason) + kSpacedDash + "low confidence, kept; review"});
        continue;
      }
      if (row.category == "offScript" && beats_.empty()) continue;
      if (row.category == "paraphraseDuplicate" && !row.survivor) continue;
      if (!seen.insert(row.index).second) continue;  // the first row for a line wins
      accepted.push_back(row);
    }
    cutRows_ = std::move(accepted);
    for (const CutRow& row : cutRows_) cutSet_.insert(row.index);
  }

  void survivors() {
    std::map<int, int> survivorOf;
    for (const CutRow& row : cutRows_) {
      if (row.category == "paraphraseDuplicate") survivorOf.emplace(row.index, *row.survivor);
    }
    std::vector<CutRow> kept;
    for (const CutRow& row : cutRows_) {
      if (row.category != "paraphraseDuplicate") {
        kept.push_back(row);
        continue;
      }
      std::set<int> visited{row.index};
      int at = row.index;
      bool cycle = false;
      for (auto next = survivorOf.find(at); next != survivorOf.end(); next = survivorOf.find(at)) {
        at = next->second;
        if (!visited.insert(at).second) {
          cycle = true;
          break;
        }
      }
      if (cycle || !keptLine(at) || cutSet_.contains(at)) {
        cutSet_.erase(row.index);
        continue;
      }
      resolvedSurvivor_[row.index] = at;
      kept.push_back(row);
    }
    cutRows_ = std::move(kept);
  }

  void gatherEditorNotes() {
    if (!verdict_.findings) return;
    for (const Verdict::Finding& f : *verdict_.findings) {
      if (kindOf(f) != "editorNote" || !f.index || !keptLine(*f.index)) continue;
      if (cleanReason(f.detail) == "adjudicated cut") continue;
      if (std::ranges::find(noteLines_, *f.index) == noteLines_.end()) noteLines_.push_back(*f.index);
    }
  }

  // Made once the rows are screened: every line a guard asks about is known by then.
  Comparisons& compare() {
    if (!comparisons_) {
      std::vector<int> asked;
      for (const CutRow& row : cutRows_) asked.push_back(row.index);
      asked.insert(asked.end(), noteLines_.begin(), noteLines_.end());
      for (const RestoreRow& row : restoreRows_) {
        if (allMap_.contains(row.index)) asked.push_back(row.index);
      }
      comparisons_.emplace(asked, keptList_, allMap_, beats_);
    }
    return *comparisons_;
  }

  // Some other line that stays renders this beat.
  bool beatSurvives(int beat, int except) {
    return std::ranges::any_of(compare().renditionsOf(beat),
                               [&](int index) { return index != except && !cutSet_.contains(index); });
  }

  // Cut rows, whatever they are filed as, and editor notes that would take out the only
  // rendition of a script line stay.
  void scriptLines() {
    std::map<int, std::optional<std::pair<int, double>>> best;
    auto onlyRendition = [&](int index) {
      if (beats_.empty()) return false;
      auto it = best.find(index);
      if (it == best.end()) it = best.emplace(index, compare().bestBeat(index)).first;
      return it->second && !beatSurvives(it->second->first, index);
    };
    auto block = [&](int index) {
      cutSet_.erase(index);
      out_.warnings.push_back("AI wanted to cut the only rendition of a script line at " +
                              timestamp(keptLine(index)->range.start) + kSpacedDash + "kept it");
    };
    // Lines only ever come back into the cut here, so one pass finds what restarting the check
    // after each block would.
    std::vector<CutRow> kept;
    for (const CutRow& row : cutRows_) {
      if (onlyRendition(row.index)) {
        block(row.index);
        continue;
      }
      kept.push_back(row);
    }
    cutRows_ = std::move(kept);
    // A spoken note leaves the cut like a cut row, so it faces this guard and the floor too.
    for (int index : noteLines_) {
      if (cutSet_.contains(index)) continue;  // a cut row removes it already
      if (survivesADuplicate(index)) {
        out_.warnings.push_back("AI wanted to cut a spoken note at " + timestamp(keptLine(index)->range.start) +
                                kSpacedDash + "its line's other rendition is cut; kept it as a note");
        continue;
      }
      cutSet_.insert(index);
      if (onlyRendition(index)) {
        // The model asked for no cut here; only the note's own removal was refused.
        cutSet_.erase(index);
        out_.warnings.push_back("AI wanted to cut a spoken note at " + timestamp(keptLine(index)->range.start) +
                                kSpacedDash + "it is the only rendition of a script line; kept it as a note");
      } else {
        noteCuts_.insert(index);
      }
    }
  }

  // The line stands in for a near-duplicate that is being cut.
  bool survivesADuplicate(int index) const {
    return std::ranges::any_of(
        resolvedSurvivor_, [&](const auto& entry) { return entry.second == index && cutSet_.contains(entry.first); });
  }

  void floor() {
    double before = 0, after = 0;
    for (const Utterance& u : keptList_) {
      before += u.range.duration();
      if (!cutSet_.contains(u.index)) after += u.range.duration();
    }
    const double floorSeconds = std::min(before, std::max(10.0, 0.15 * before));
    if (after < floorSeconds) throw AdjudicationError::wholesaleCut(after, floorSeconds);
  }

  void cuts() {
    for (const CutRow& row : cutRows_) {
      const Utterance* u = keptLine(row.index);
      const bool flub = row.category == "offCameraSpeaker" || row.category == "offScript";
      out_.removals.push_back({u->range, flub ? SegmentKind::flub : SegmentKind::retakeRejected,
                               "AI: " + cleanReason(row.reason), std::nullopt});
      ++out_.appliedCuts;
      finalCuts_.insert(row.index);
      if (row.category != "paraphraseDuplicate") continue;
      const auto resolved = resolvedSurvivor_.find(row.index);
      const int survivor = resolved != resolvedSurvivor_.end() ? resolved->second : *row.survivor;
      if (const Utterance* s = keptLine(survivor)) {
        out_.advisories.push_back({s->range, "AI: kept this rendition" + std::string(kSpacedDash) +
                                                 "near-duplicate at " + timestamp(u->range.start) +
                                                 " was removed; review"});
      }
    }
  }

  bool isComplete(const Utterance& r) const {
    const Utterance* next = nullptr;
    for (const Utterance& u : allList_) {
      if (u.range.start >= r.range.end - 0.05 && (!next || u.range.start < next->range.start)) next = &u;
    }
    const bool flowsOn = next && keptLine(next->index) && next->range.start <= r.range.end + 2.0;
    if (r.endsLikeSentence()) return flowsOn || !TakeSelector::endsMidRestart(r.tokens);
    return flowsOn;
  }

  void restores() {
    for (const RestoreRow& row : restoreRows_) {
      if (!confident(row.confidence)) continue;
      const auto found = allMap_.find(row.index);
      if (found == allMap_.end() || keptLine(row.index) || restored_.contains(row.index)) continue;
      const Utterance& r = *found->second;
      const Utterance* k = keptLine(row.replaces);
      if (!k || cutSet_.contains(k->index) || replaced_.contains(k->index) || restored_.contains(k->index)) {
        continue;
      }
      const Segment* removal = nullptr;
      for (const Segment& s : decision_.removals) {
        if (s.kind != SegmentKind::filler && contains(s.range, midpoint(r.range))) {
          removal = &s;
          break;
        }
      }
      if (!removal || removal->kind != SegmentKind::retakeRejected) continue;
      if (!isComplete(r)) {
        out_.warnings.push_back("AI wanted to restore the take at " + timestamp(r.range.start) + kSpacedDash +
                                "it never finishes its line; left it out");
        continue;
      }
      if (!compare().sameLine(r.index, k->index)) continue;
      const bool doubled = std::ranges::any_of(compare().sameLineAs(r.index), [&](int other) {
        return other != k->index && !cutSet_.contains(other) && !replaced_.contains(other);
      });
      if (doubled) {
        out_.warnings.push_back("AI wanted to restore the take at " + timestamp(r.range.start) + kSpacedDash +
                                "another rendition of it is already in the cut; left it out");
        continue;
      }
      restored_.insert(r.index);
      replaced_.insert(k->index);
      cutSet_.insert(k->index);
      out_.restoredRanges.push_back(r.range);
      out_.removals.push_back({k->range, SegmentKind::retakeRejected,
                               "AI: " + cleanReason(row.reason) + kSpacedDash + "restored the run's own take at " +
                                   timestamp(r.range.start),
                               std::nullopt});
      out_.advisories.push_back({r.range, "AI: restored this take to keep the run together" + std::string(kSpacedDash) +
                                              "the rendition at " + timestamp(k->range.start) +
                                              " was cut in its place; review"});
      ++out_.appliedRestores;
    }
  }

  void swaps() {
    if (!verdict_.swaps) return;
    std::vector<TakeGroupInfo> groups = decision_.takeGroups;
    for (const Verdict::Swap& s : *verdict_.swaps) {
      if (!confident(s.confidence)) continue;
      const auto group = std::ranges::find_if(groups, [&](const TakeGroupInfo& g) { return g.id == s.group; });
      if (group == groups.end() || !group->alternateRanges || s.alternate < 1 ||
          s.alternate > static_cast<int>(group->alternateRanges->size())) {
        continue;
      }
      const auto winner =
          std::ranges::find_if(keptList_, [&](const Utterance& u) { return u.range.overlaps(group->winnerRange); });
      if (winner == keptList_.end() || cutSet_.contains(winner->index)) continue;
      const TimeRange alternate = (*group->alternateRanges)[s.alternate - 1];
      out_.restoredRanges.push_back(alternate);
      out_.removals.push_back(
          {winner->range, SegmentKind::retakeRejected,
           "AI: " + cleanReason(s.reason) + kSpacedDash + "swapped for the take at " + timestamp(alternate.start),
           group->id});
      group->winnerRange = alternate;
      group->alternateRanges->erase(group->alternateRanges->begin() + (s.alternate - 1));
      if (group->alternateRanges->empty()) group->alternateRanges.reset();
      ++out_.appliedSwaps;
    }
    if (out_.appliedSwaps > 0) out_.updatedTakeGroups = std::move(groups);
  }

  void findings() {
    if (!verdict_.findings) return;
    const auto& found = *verdict_.findings;
    for (std::size_t i = 0; i < found.size(); ++i) {
      const Verdict::Finding& f = found[i];
      const std::string detail = cleanReason(f.detail);
      if (detail == "adjudicated cut") continue;
      const std::string kind = kindOf(f);
      const Utterance* line = f.index ? keptLine(*f.index) : nullptr;
      if (kind == "editorNote" && line) {
        out_.editorNotes.push_back({line->range, detail});
        if (noteCuts_.contains(line->index) && !finalCuts_.contains(line->index) &&
            removedNotes_.insert(line->index).second) {
          out_.removals.push_back({line->range, SegmentKind::flub,
                                   "AI: spoken note to your editor" + std::string(kSpacedDash) + detail, std::nullopt});
          ++out_.appliedCuts;
        }
        continue;
      }
      const auto cut = remedyCut_.find(i);
      const auto restore = remedyRestore_.find(i);
      if ((cut != remedyCut_.end() && finalCuts_.contains(cut->second)) ||
          (restore != remedyRestore_.end() && restored_.contains(restore->second))) {
        ++out_.appliedRemedies;
        continue;
      }
      if (f.index && finalCuts_.contains(*f.index)) continue;
      out_.coherenceFindings.push_back({kind, detail, line ? std::optional<TimeRange>(line->range) : std::nullopt});
    }
  }

  const Verdict& verdict_;
  const TakeSelector::Decision& decision_;
  std::span<const Utterance> keptList_, allList_;
  std::map<int, const Utterance*> keptMap_, allMap_;
  TakeSelector::ScriptBeats beats_;
  std::vector<CutRow> cutRows_;
  std::vector<RestoreRow> restoreRows_;
  std::vector<int> noteLines_;  // kept lines that carry a spoken note, in finding order
  std::set<int> cutSet_, finalCuts_, restored_, replaced_, noteCuts_, removedNotes_;
  std::map<int, int> resolvedSurvivor_;
  std::map<std::size_t, int> remedyCut_, remedyRestore_;
  std::optional<Comparisons> comparisons_;
  Outcome out_;
};

}  // namespace

Outcome apply(const Verdict& verdict, std::span<const Utterance> kept, std::span<const Utterance> allUtterances,
              const TakeSelector::Decision& decision, const std::optional<std::string>& script) {
  return Application(verdict, kept, allUtterances, decision, script).run();
}

}  // namespace kestrane::Adjudicator
