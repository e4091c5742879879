#include "kestrane/brain/OutputAudit.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>

#include "kestrane/brain/KeptSpans.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/brain/SimilarityIndex.hpp"
#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/brain/WordTimeline.hpp"

namespace kestrane::OutputAudit {

namespace {

using Kind = Defect::Kind;
using TakeSelector::Utterance;
using TextAlign::TokenList;

constexpr double beatMatchScore = 0.75;
constexpr double beatPresentScore = 0.35;
constexpr double doubledBeatShare = 0.6;
constexpr int doubledBeatTokens = 3;
constexpr double doubledLineSimilarity = 0.5;
constexpr double doubledLineReach = 120;
constexpr double shortKeep = 2.0;
constexpr double choppyWindow = 15;
constexpr int choppyCount = 4;  // more than this many short keeps in the window
constexpr double shortRunKeep = 3.0;
constexpr int choppyRunLength = 3;
constexpr double unfinishedFollowGap = 2.0;
constexpr double completedTwinSimilarity = 0.58;
constexpr double fragmentKeep = 3.0;
constexpr double joinedSilence = 1.2;
constexpr double fragmentAlignScore = 0.5;

std::string firstCharacters(const std::string& text, std::size_t count) {
  auto characters = UnicodeText::graphemes(text);
  if (characters.size() <= count) return text;
  const auto& last = characters[count - 1];
  return text.substr(0, static_cast<std::size_t>(last.data() + last.size() - text.data()));
}

using TakeSelector::joinedText;

std::string firstWords(const Utterance& u, std::size_t count) {
  return joinedText(std::span(u.words).first(std::min(count, u.words.size())));
}

std::string lastWords(const Utterance& u, std::size_t count) {
  return joinedText(std::span(u.words).last(std::min(count, u.words.size())));
}

// Local alignment at the same gap throughout the audit.
TextAlign::LocalAlignment align(TextAlign::Tokens a, TextAlign::Tokens b) { return TextAlign::localAlign(a, b, -1.0); }

// A short keep and the words whose midpoint lies in it.
struct Fragment {
  std::size_t segment = 0;  // position in the cut list
  std::vector<TranscriptWord> words;
  TokenList tokens;
};

struct Audit {
  std::span<const Utterance> all;
  const Transcript& transcript;
  const CutList& cutList;
  std::vector<Segment> keptSegments;
  std::vector<const Utterance*> kept;
  std::vector<TokenList> beats;
  std::vector<std::string> display;
  std::vector<Fragment> fragments;
  WordTimeline words;
  std::vector<Defect> defects;

  // Beats, kept utterances and fragments compared through one similarity index, in that
  // order, so pairs that cannot reach a threshold are ruled out before any alignment.
  std::vector<Utterance> entries;
  std::optional<SimilarityIndex> index;
  std::vector<std::vector<int>> fragmentBeats;  // beats each fragment may align with

  Audit(std::span<const Utterance> utterances, const Transcript& t, const CutList& c)
      : all(utterances), transcript(t), cutList(c), keptSegments(c.keptSegments()), words(t.words) {}

  int beatPosition(std::size_t b) const { return static_cast<int>(b); }
  int keptPosition(std::size_t k) const { return static_cast<int>(beats.size() + k); }
  int fragmentPosition(std::size_t f) const { return static_cast<int>(beats.size() + kept.size() + f); }

  void collectFragments() {
    for (std::size_t p = 0; p < cutList.segments.size(); ++p) {
      // Hand edits can split a long cut into millions of pieces.
      if ((p + 1) % 4096 == 0) checkpoint();
      const auto& segment = cutList.segments[p];
      if (!segment.isKept() || !(segment.range.duration() < fragmentKeep)) continue;
      std::vector<std::size_t> order;
      for (auto position : words.lyingIn(segment.range)) order.push_back(words.item(position));
      if (order.empty()) continue;
      std::sort(order.begin(), order.end());
      Fragment fragment{p, {}, {}};
      for (auto k : order) {
        fragment.words.push_back(transcript.words[k]);
        for (auto& t : TextAlign::tokens(transcript.words[k].text)) fragment.tokens.push_back(std::move(t));
      }
      fragments.push_back(std::move(fragment));
    }
  }

  void buildIndex() {
    auto entry = [&](const TokenList& tokens) {
      Utterance u;
      u.index = static_cast<int>(entries.size());
      u.tokens = tokens;
      entries.push_back(std::move(u));
    };
    for (const auto& beat : beats) entry(beat);
    for (const auto* u : kept) entry(u->tokens);
    for (const auto& f : fragments) entry(f.tokens);
    index.emplace(entries);
    fragmentBeats.assign(fragments.size(), {});
  }

  std::vector<int> keptOverlapping(const TimeRange& range) const {
    std::vector<int> indices;
    for (const auto* u : kept)
      if (u->range.overlaps(range)) indices.push_back(u->index);
    return indices;
  }

  void scriptBeats() {
    const int firstFragment = fragmentPosition(0);
    struct Match {
      const Utterance* u;
      TextAlign::TokenRange stretch;  // in the beat
    };
    struct Found {
      std::vector<Match> matches;
      double best = 0;
    };
    // A line said again in the script matches what its first saying matched; a script of one
    // line repeated thousands of times is searched once.
    std::map<TokenList, Found> byTokens;
    for (std::size_t b = 0; b < beats.size(); ++b) {
      if (b % 256 == 0) checkpoint();
      auto [entry, fresh] = byTokens.try_emplace(beats[b]);
      Found& found = entry->second;
      // Kept utterances and fragments whose alignment with the beat may reach the lower
      // of the two thresholds asked of it here and by the fragment check.
      if (fresh) {
        for (int p :
             index->partnersAfter(beatPosition(b), std::min(beatPresentScore, fragmentAlignScore), keptPosition(0))) {
          if (p >= firstFragment) {
            fragmentBeats[static_cast<std::size_t>(p - firstFragment)].push_back(static_cast<int>(b));
            continue;
          }
          const auto* u = kept[static_cast<std::size_t>(p - keptPosition(0))];
          const auto& alignment = index->alignment(p, beatPosition(b));
          found.best = std::max(found.best, alignment.score);
          if (alignment.score >= beatMatchScore) found.matches.push_back({u, alignment.bRange});
        }
      }
      const std::vector<Match>& matches = found.matches;
      const double best = found.best;
      if (matches.empty()) {
        if (kept.empty() || best < beatPresentScore)
          defects.push_back({Kind::missingBeat,
                             {0, 0},
                             fmt::format("script beat not found in the cut: “{}”", firstCharacters(display[b], 90)),
                             {}});
        continue;
      }
      if (matches.size() < 2) continue;

      std::vector<const Utterance*> collected;
      auto collect = [&](const Utterance* u) {
        for (const auto* c : collected)
          if (c->index == u->index) return;
        collected.push_back(u);
      };
      for (const auto& a : matches) {
        for (const auto& c : matches) {
          if (!(a.u->index < c.u->index)) continue;
          int overlap = std::min(a.stretch.upperBound, c.stretch.upperBound) -
                        std::max(a.stretch.lowerBound, c.stretch.lowerBound);
          int shorter = std::min(a.stretch.count(), c.stretch.count());
          if (overlap >= doubledBeatShare * shorter && overlap >= doubledBeatTokens) {
            collect(a.u);
            collect(c.u);
          }
        }
      }
      if (collected.size() < 2) continue;
      const Utterance* latest = collected.front();
      std::vector<std::string> times;
      std::vector<int> indices;
      for (const auto* u : collected) {
        if (u->range.start > latest->range.start) latest = u;
        times.push_back(timestamp(u->range.start));
        indices.push_back(u->index);
      }
      defects.push_back({Kind::doubledBeat, latest->range,
                         fmt::format("script beat delivered {} times: “{}” at {}", collected.size(),
                                     firstCharacters(display[b], 70), fmt::join(times, ", ")),
                         std::move(indices)});
    }
  }

  void doubledLines() {
    std::set<int> reported;
    for (std::size_t p = 0; p < kept.size(); ++p) {
      if (p % 256 == 0) checkpoint();
      const auto& a = *kept[p];
      if (a.tokens.size() <= 4) continue;
      for (std::size_t q = p + 1; q < kept.size(); ++q) {
        const auto& b = *kept[q];
        if (b.tokens.size() < 5) continue;
        if (b.range.start > a.range.end + doubledLineReach) break;
        if (reported.contains(a.index) && reported.contains(b.index)) continue;
        if (!index->openingAwareAtLeast(keptPosition(p), keptPosition(q), doubledLineSimilarity)) continue;
        defects.push_back({Kind::doubledLine,
                           b.range,
                           fmt::format("same line kept twice: “{}…” at {} and {}", firstWords(a, 8),
                                       timestamp(a.range.start), timestamp(b.range.start)),
                           {a.index, b.index}});
        reported.insert(a.index);
        reported.insert(b.index);
      }
    }
  }

  void choppyStretches() {
    struct ShortKeep {
      TimeRange range;
      double cutStart;
    };
    std::vector<ShortKeep> shorts;
    double cutTime = 0;
    for (const auto& s : keptSegments) {
      if (s.range.duration() < shortKeep) shorts.push_back({s.range, cutTime});
      cutTime += s.range.duration();
    }
    double windowEnd = -1;
    for (std::size_t p = 0; p < shorts.size(); ++p) {
      if (!(shorts[p].cutStart > windowEnd)) continue;
      int count = 0;
      double end = shorts[p].range.end;
      for (std::size_t q = p; q < shorts.size() && shorts[q].cutStart <= shorts[p].cutStart + choppyWindow; ++q) {
        ++count;
        end = std::max(end, shorts[q].range.end);
      }
      if (count <= choppyCount) continue;
      TimeRange range{shorts[p].range.start, end};
      defects.push_back({Kind::choppyRegion, range,
                         fmt::format("choppy stretch: {} sub-2s keeps within 15s of cut around source {}–{}", count,
                                     timestamp(range.start), timestamp(range.end)),
                         keptOverlapping(range)});
      windowEnd = shorts[p].cutStart + choppyWindow;
    }
  }

  void choppyRuns() {
    std::vector<std::vector<TimeRange>> runs;
    std::vector<TimeRange> current;
    auto close = [&] {
      if (current.size() >= static_cast<std::size_t>(choppyRunLength)) runs.push_back(current);
      current.clear();
    };
    for (const auto& s : keptSegments) {
      if (s.range.duration() < shortRunKeep && words.anyLyingIn(s.range)) current.push_back(s.range);
      else close();
    }
    close();
    for (const auto& run : runs) {
      TimeRange range{run.front().start, run.back().end};
      bool covered = std::any_of(defects.begin(), defects.end(), [&](const Defect& d) {
        return d.kind == Kind::choppyRegion && d.range.overlaps(range);
      });
      if (covered) continue;
      defects.push_back({Kind::choppyRegion, range,
                         fmt::format("choppy run: {} consecutive sub-3s keeps at source {}–{}", run.size(),
                                     timestamp(range.start), timestamp(range.end)),
                         keptOverlapping(range)});
    }
  }

  void unfinishedLines() {
    std::vector<bool> complete(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i)
      complete[i] = !kept[i]->words.empty() && TakeSelector::endsCleanly(*kept[i]);
    std::vector<std::size_t> open;  // unfinished lines not followed closely by the next kept line
    for (std::size_t i = 0; i < kept.size(); ++i) {
      const auto& k = *kept[i];
      if (k.tokens.size() <= 4 || complete[i]) continue;
      if (i + 1 < kept.size() && kept[i + 1]->range.start - k.range.end < unfinishedFollowGap) continue;
      open.push_back(i);
    }
    if (open.empty()) return;

    // Completed lines that may be twins of each open line: those after it from its own side,
    // those before it from theirs.
    std::vector<std::vector<std::size_t>> candidates(kept.size());
    std::vector<bool> isOpen(kept.size(), false);
    for (auto i : open) isOpen[i] = true;
    auto toKept = [&](int position) { return static_cast<std::size_t>(position - keptPosition(0)); };
    const int pastKept = keptPosition(kept.size());
    for (auto i : open)
      for (int p : index->partnersAfter(keptPosition(i), completedTwinSimilarity))
        if (p < pastKept && complete[toKept(p)]) candidates[i].push_back(toKept(p));
    for (std::size_t o = 0; o < open.back(); ++o) {
      if (!complete[o]) continue;
      for (int p : index->partnersAfter(keptPosition(o), completedTwinSimilarity))
        if (p < pastKept && isOpen[toKept(p)]) candidates[toKept(p)].push_back(o);
    }

    for (auto i : open) {
      const auto& k = *kept[i];
      bool twin = std::any_of(candidates[i].begin(), candidates[i].end(), [&](std::size_t o) {
        return kept[o]->index != k.index &&
               index->openingAwareAtLeast(keptPosition(i), keptPosition(o), completedTwinSimilarity);
      });
      if (twin) continue;
      defects.push_back({Kind::unfinishedLine,
                         k.range,
                         fmt::format("kept line ends unfinished with no completed twin: “…{}” at {}", lastWords(k, 6),
                                     timestamp(k.range.start)),
                         {k.index}});
    }
  }

  // Silence segments up to the next segment of another kind, which must be a keep. A removed
  // filler is a cut the viewer sees, not a pause.
  bool contiguous(std::size_t position, int direction) const {
    double silence = 0;
    const auto& segments = cutList.segments;
    for (auto p = static_cast<std::ptrdiff_t>(position) + direction;
         p >= 0 && p < static_cast<std::ptrdiff_t>(segments.size()); p += direction) {
      const auto& s = segments[static_cast<std::size_t>(p)];
      if (s.kind == SegmentKind::silence) {
        silence += s.range.duration();
        continue;
      }
      return s.isKept() && silence <= joinedSilence;
    }
    return true;
  }

  // The best share of the fragment's tokens covered by a beat, or by the whole script when
  // that could still change the verdict.
  double scriptCoverage(std::size_t f, bool joined, const TokenList& scriptTokens) const {
    const auto& fragment = fragments[f].tokens;
    double coverage = 0;
    auto consider = [&](const TextAlign::LocalAlignment& alignment) {
      if (alignment.score >= fragmentAlignScore)
        coverage =
            std::max(coverage, static_cast<double>(alignment.aRange.count()) / static_cast<double>(fragment.size()));
    };
    for (int b : fragmentBeats[f])
      consider(index->alignment(fragmentPosition(f), beatPosition(static_cast<std::size_t>(b))));
    if (coverage >= 0.6 || (joined && coverage >= 0.35)) return coverage;
    consider(align(fragment, scriptTokens));
    return coverage;
  }

  void suspectFragments(const std::optional<std::string>& script) {
    std::set<int> flagged;
    for (const auto& d : defects) flagged.insert(d.utteranceIndices.begin(), d.utteranceIndices.end());
    TokenList scriptTokens = script ? TextAlign::tokens(*script) : TokenList{};

    for (std::size_t f = 0; f < fragments.size(); ++f) {
      const auto& fragment = fragments[f];
      const Segment& segment = cutList.segments[fragment.segment];
      bool joined = contiguous(fragment.segment, -1) && contiguous(fragment.segment, +1);
      bool accepted;
      if (!beats.empty()) {
        double coverage = scriptCoverage(f, joined, scriptTokens);
        accepted = coverage >= 0.6 || (joined && coverage >= 0.35);
      } else {
        const auto& last = fragment.words.back().text;
        bool sentence = last.ends_with('.') || last.ends_with('?') || last.ends_with('!');
        accepted = joined || (sentence && fragment.tokens.size() >= 3);
      }
      if (accepted) continue;

      const Utterance* owner = nullptr;
      for (const auto* u : kept)
        if (u->range.overlaps(segment.range)) {
          owner = u;
          break;
        }
      if (owner && flagged.contains(owner->index)) continue;
      if (owner) flagged.insert(owner->index);
      auto shown = std::span(fragment.words).first(std::min<std::size_t>(8, fragment.words.size()));
      defects.push_back({Kind::suspectFragment, segment.range,
                         fmt::format("isolated {:.1f}s fragment at {}: “{}” — not a script line or complete thought",
                                     segment.range.duration(), timestamp(segment.range.start), joinedText(shown)),
                         owner ? std::vector<int>{owner->index} : std::vector<int>{}});
    }
  }
};

}  // namespace

std::vector<Defect> audit(std::span<const Utterance> utterances, const Transcript& transcript, const CutList& cutList,
                          const std::optional<std::string>& script) {
  Audit run(utterances, transcript, cutList);
  if (run.keptSegments.empty()) return {};

  KeptSpans keptTime(cutList);
  checkpoint();
  for (const auto& u : utterances)
    if (keptTime.contains((u.range.start + u.range.end) / 2)) run.kept.push_back(&u);
  if (script) {
    run.beats = TakeSelector::scriptBeats(*script);
    auto texts = ScriptCoverage::beatTexts(*script);
    for (std::size_t b = 0; b < run.beats.size(); ++b) {
      if (b < texts.size()) {
        run.display.push_back(texts[b]);
      } else {
        run.display.push_back(fmt::format("{}", fmt::join(run.beats[b], " ")));
      }
    }
  }

  checkpoint();
  run.collectFragments();
  run.buildIndex();
  run.scriptBeats();
  run.doubledLines();
  checkpoint();
  run.choppyStretches();
  run.choppyRuns();
  run.unfinishedLines();
  checkpoint();
  run.suspectFragments(script);
  return std::move(run.defects);
}

std::string timestamp(double seconds) { return timeStamp(seconds); }

}  // namespace kestrane::OutputAudit
