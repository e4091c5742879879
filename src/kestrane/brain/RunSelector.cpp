#include "kestrane/brain/RunSelector.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <unordered_set>
#include <utility>

#include "kestrane/brain/TakeScoring.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/TimeStamp.hpp"

namespace kestrane::RunSelector {

namespace {

using TakeSelector::openingAwareSimilarity;

const Utterance& at(std::span<const Utterance> utts, int position) { return utts[static_cast<std::size_t>(position)]; }

// Opening-aware similarity of two utterances by position, computed once.
class Similarities {
 public:
  explicit Similarities(std::span<const Utterance> utts) : utts_(utts) {}
  double operator()(int x, int y) {
    auto [it, inserted] = cache_.try_emplace({x, y}, 0.0);
    if (inserted) it->second = openingAwareSimilarity(at(utts_, x).tokens, at(utts_, y).tokens);
    return it->second;
  }

 private:
  std::span<const Utterance> utts_;
  std::map<std::pair<int, int>, double> cache_;
};

using TakeSelector::endsCleanly;

bool isUnfinished(const Utterance& u) {
  if (u.words.empty()) return true;
  if (u.tokens.size() > 5 && TakeSelector::isTrailingConjunction(u.tokens.back())) return true;
  const auto& last = u.words.back().text;
  if (!(last.ends_with(".") || last.ends_with("?") || last.ends_with("!"))) return true;
  return TakeSelector::endsMidRestart(u.tokens);
}

std::unordered_set<std::string> tokenSet(const Utterance& u) {
  std::unordered_set<std::string> set;
  for (const auto& t : u.tokens) set.insert(TextAlign::canonical(t));
  return set;
}

}  // namespace

namespace {

// The quality with the script rendition score already known (0 without a script).
double qualityWith(const Utterance& u, double rendition, std::span<const SilenceSpan> silences, int maxTokens) {
  double script = 3 * rendition;
  double ending = endsCleanly(u) ? 0.6 : 0;
  double length = 0.4 * static_cast<double>(u.tokens.size()) / static_cast<double>(std::max(maxTokens, 1));
  double stumbles = std::min(TakeSelector::disfluencyCount(u) / 3.0, 1.0);
  return script + 2 * (ending + length) - 2 * stumbles - TakeSelector::restartPenalty(u.tokens) -
         TakeSelector::pausePenalty(u, silences);
}

using QualityOf = std::function<double(const Utterance&, int maxTokens)>;

std::vector<Choice> chooseWith(std::span<const Utterance> utts, const std::set<int>& available,
                               const QualityOf& quality);

}  // namespace

double quality(const Utterance& u, const std::vector<TokenList>& scriptSentences, std::span<const SilenceSpan> silences,
               int maxTokens) {
  double rendition = scriptSentences.empty() ? 0 : TakeSelector::scriptRenditionScore(u.tokens, scriptSentences);
  return qualityWith(u, rendition, silences, maxTokens);
}

double quality(const Utterance& u, const TakeSelector::PreparedScript& script, std::span<const SilenceSpan> silences,
               int maxTokens) {
  double rendition = script.empty() ? 0 : TakeSelector::scriptRenditionScore(u.tokens, script);
  return qualityWith(u, rendition, silences, maxTokens);
}

bool isComplete(const Run& run, std::span<const Utterance> utts, int lines) {
  if (run.members.empty() || static_cast<int>(run.members.size()) < lines) return false;
  if (!endsCleanly(at(utts, run.members.back()))) return false;
  int unfinished = 0;
  for (int m : run.members)
    if (isUnfinished(at(utts, m))) ++unfinished;
  return unfinished <= 1;
}

std::string stamp(double seconds) { return timeStamp(seconds); }

std::vector<Anchor> anchors(std::span<const Utterance> utts, const std::set<int>& available) {
  const int count = static_cast<int>(utts.size());
  std::vector<std::unordered_set<std::string>> sets(utts.size());
  std::vector<bool> eligible(utts.size());
  for (int k = 0; k < count; ++k) {
    const auto& u = at(utts, k);
    eligible[static_cast<std::size_t>(k)] = available.count(u.index) > 0 && u.tokens.size() >= 4;
    if (eligible[static_cast<std::size_t>(k)]) sets[static_cast<std::size_t>(k)] = tokenSet(u);
  }

  std::vector<Anchor> pairs;
  for (int i = 0; i < count; ++i) {
    if (i % 256 == 0) checkpoint();
    if (!eligible[static_cast<std::size_t>(i)]) continue;
    const auto& ui = at(utts, i);
    const auto& si = sets[static_cast<std::size_t>(i)];
    for (int j = i + 1; j < std::min(count, i + 25); ++j) {
      const auto& uj = at(utts, j);
      if (uj.range.start - ui.range.end > 120) break;
      if (!eligible[static_cast<std::size_t>(j)]) continue;
      const auto& sj = sets[static_cast<std::size_t>(j)];
      std::size_t common = 0;
      for (const auto& t : si) common += sj.count(t);
      std::size_t smaller = std::min(si.size(), sj.size());
      double overlap = smaller == 0 ? 1.0 : static_cast<double>(common) / static_cast<double>(smaller);
      if (overlap < 0.35 && !TakeSelector::sharesOpening(ui.tokens, uj.tokens)) continue;
      if (openingAwareSimilarity(ui.tokens, uj.tokens) >= 0.5) pairs.push_back({i, j});
    }
  }
  return pairs;
}

std::vector<Chain> chains(std::vector<Anchor> pairs, std::span<const Utterance> utts) {
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const Anchor& x, const Anchor& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; });
  Similarities similar(utts);
  const std::size_t n = pairs.size();
  std::vector<int> length(n, 1), previous(n, -1);
  auto firstWithI = [&](int i) {
    return static_cast<std::size_t>(
        std::lower_bound(pairs.begin(), pairs.end(), i, [](const Anchor& p, int value) { return p.i < value; }) -
        pairs.begin());
  };
  for (std::size_t k = 0; k < n; ++k) {
    if (k % 1024 == 0) checkpoint();
    const auto& pk = pairs[k];
    // Pairs are sorted by i: only those with i in [k.i - 3, k.i - 1] can link,
    // and they form one stretch, visited in the same order as a full scan.
    for (std::size_t l = firstWithI(pk.i - 3), end = firstWithI(pk.i); l < end; ++l) {
      const auto& pl = pairs[l];
      int di = pk.i - pl.i, dj = pk.j - pl.j;
      if (di < 1 || di > 3 || dj < 1 || dj > 3) continue;
      // Consecutive lines of one run-through must be different lines.
      if (similar(pl.i, pk.i) >= 0.5 || similar(pl.j, pk.j) >= 0.5) continue;
      if (length[l] + 1 > length[k]) {
        length[k] = length[l] + 1;
        previous[k] = static_cast<int>(l);
      }
    }
  }

  std::vector<Chain> found;
  for (std::size_t k = 0; k < n; ++k) {
    if (length[k] < 2) continue;
    Chain chain;
    for (int c = static_cast<int>(k); c >= 0; c = previous[static_cast<std::size_t>(c)])
      chain.push_back(pairs[static_cast<std::size_t>(c)]);
    std::reverse(chain.begin(), chain.end());

    int maxI = chain.front().i, minI = chain.front().i, maxJ = chain.front().j, minJ = chain.front().j;
    for (const auto& p : chain) {
      maxI = std::max(maxI, p.i);
      minI = std::min(minI, p.i);
      maxJ = std::max(maxJ, p.j);
      minJ = std::min(minJ, p.j);
    }
    if (maxI >= minJ) continue;  // the two run-throughs must not interleave
    bool repeatsLine = false;
    for (std::size_t x = 0; x < chain.size() && !repeatsLine; ++x)
      for (std::size_t y = x + 1; y < chain.size() && !repeatsLine; ++y)
        repeatsLine = similar(chain[x].i, chain[y].i) >= 0.5 || similar(chain[x].j, chain[y].j) >= 0.5;
    if (repeatsLine) continue;
    if (at(utts, maxJ).range.end - at(utts, minI).range.start > 300) continue;
    found.push_back(std::move(chain));
  }
  std::stable_sort(found.begin(), found.end(), [](const Chain& x, const Chain& y) {
    if (x.size() != y.size()) return x.size() > y.size();
    if (x.front().i != y.front().i) return x.front().i < y.front().i;
    return x.front().j < y.front().j;
  });
  return found;
}

std::vector<Group> detect(std::span<const Utterance> utts, const std::set<int>& available) {
  auto found = chains(anchors(utts, available), utts);
  if (found.empty()) return {};

  std::map<int, int> runOf;                 // position -> run number
  std::vector<std::vector<int>> runs;       // run number -> member positions
  std::vector<std::vector<int>> groupRuns;  // group number -> run numbers
  std::vector<int> groupOfRun;

  constexpr int kNew = -1, kConflict = -2;
  auto classify = [&](const std::vector<int>& side) {
    int run = kNew;
    for (std::size_t k = 0; k < side.size(); ++k) {
      auto it = runOf.find(side[k]);
      int r = it == runOf.end() ? kNew : it->second;
      if (k == 0) run = r;
      else if (r != run) return kConflict;
    }
    return run;
  };
  auto addRun = [&](const std::vector<int>& side, int group) {
    int number = static_cast<int>(runs.size());
    runs.push_back(side);
    groupOfRun.push_back(group);
    groupRuns[static_cast<std::size_t>(group)].push_back(number);
    for (int position : side) runOf[position] = number;
  };

  for (const auto& chain : found) {
    std::vector<int> a, b;
    for (const auto& p : chain) {
      a.push_back(p.i);
      b.push_back(p.j);
    }
    int ra = classify(a), rb = classify(b);
    if (ra == kConflict || rb == kConflict) continue;
    if (ra == kNew && rb == kNew) {
      groupRuns.emplace_back();
      int group = static_cast<int>(groupRuns.size()) - 1;
      addRun(a, group);
      addRun(b, group);
    } else if (ra == kNew) {
      addRun(a, groupOfRun[static_cast<std::size_t>(rb)]);
    } else if (rb == kNew) {
      addRun(b, groupOfRun[static_cast<std::size_t>(ra)]);
    }
  }

  std::vector<Group> groups;
  for (const auto& numbers : groupRuns) {
    if (numbers.size() < 2) continue;
    Group group;
    for (int number : numbers) {
      Run run;
      run.members = runs[static_cast<std::size_t>(number)];
      std::sort(run.members.begin(), run.members.end());
      run.start = at(utts, run.members.front()).range.start;
      run.end = at(utts, run.members.back()).range.end;
      group.runs.push_back(std::move(run));
    }
    std::stable_sort(group.runs.begin(), group.runs.end(),
                     [](const Run& x, const Run& y) { return x.start < y.start; });
    if (group.runs.back().end - group.runs.front().start <= 300) groups.push_back(std::move(group));
  }
  return groups;
}

std::vector<Choice> choose(std::span<const Utterance> utts, const std::set<int>& available,
                           const std::vector<TokenList>& scriptSentences, std::span<const SilenceSpan> silences) {
  return chooseWith(utts, available, [&](const Utterance& u, int maxTokens) {
    return quality(u, scriptSentences, silences, maxTokens);
  });
}

std::vector<Choice> choose(std::span<const Utterance> utts, const std::set<int>& available,
                           const TakeSelector::PreparedScript& script, std::span<const SilenceSpan> silences) {
  return chooseWith(utts, available,
                    [&](const Utterance& u, int maxTokens) { return quality(u, script, silences, maxTokens); });
}

namespace {

std::vector<Choice> chooseWith(std::span<const Utterance> utts, const std::set<int>& available,
                               const QualityOf& quality) {
  std::vector<Choice> choices;
  auto groups = detect(utts, available);
  Similarities similar(utts);

  for (std::size_t g = 0; g < groups.size(); ++g) {
    const auto& runs = groups[g].runs;
    int lines = 0;
    std::size_t maxTokens = 0;
    for (const auto& run : runs) {
      lines = std::max(lines, static_cast<int>(run.members.size()));
      for (int m : run.members) maxTokens = std::max(maxTokens, at(utts, m).tokens.size());
    }
    std::map<int, double> qualities;
    auto q = [&](int position) {
      auto [it, inserted] = qualities.try_emplace(position, 0.0);
      if (inserted) it->second = quality(at(utts, position), static_cast<int>(std::max<std::size_t>(maxTokens, 1)));
      return it->second;
    };
    auto meanQuality = [&](const Run& run) {
      double sum = 0;
      for (int m : run.members) sum += q(m);
      return sum / static_cast<double>(std::max<std::size_t>(run.members.size(), 1));
    };

    // The pool: complete runs, or every run when none is complete.
    std::vector<std::size_t> pool;
    for (std::size_t r = 0; r < runs.size(); ++r)
      if (isComplete(runs[r], utts, lines)) pool.push_back(r);
    const bool anyComplete = !pool.empty();
    if (!anyComplete)
      for (std::size_t r = 0; r < runs.size(); ++r) pool.push_back(r);

    std::size_t winner = pool.back();
    std::string label = anyComplete ? fmt::format("last complete run-through of these {} lines", lines)
                                    : fmt::format("last run-through of these {} lines", lines);
    if (pool.size() > 1) {
      std::size_t cleanest = pool.front();
      double cleanestMean = meanQuality(runs[cleanest]);
      for (std::size_t k = 1; k + 1 < pool.size(); ++k) {
        double mean = meanQuality(runs[pool[k]]);
        if (mean > cleanestMean) {
          cleanest = pool[k];
          cleanestMean = mean;
        }
      }
      if (cleanestMean > meanQuality(runs[winner]) + 0.9) {
        winner = cleanest;
        label = fmt::format("cleanest run-through of these {} lines", lines);
      }
    }
    const Run& kept = runs[winner];

    std::vector<int> others;  // members of the other runs, in run order
    for (std::size_t r = 0; r < runs.size(); ++r)
      if (r != winner) others.insert(others.end(), runs[r].members.begin(), runs[r].members.end());

    // Unfinished lines inside the kept run, swapped for a clearly better
    // finished rendition from another run.
    std::vector<std::pair<int, int>> swaps;
    std::vector<int> keptSet = kept.members;
    for (std::size_t k = 0; k < kept.members.size(); ++k) {
      int m = kept.members[k];
      const auto& u = at(utts, m);
      bool unfinished = !endsCleanly(u) || std::any_of(others.begin(), others.end(), [&](int c) {
        return TextAlign::isAbortedPrefix(u.tokens, at(utts, c).tokens);
      });
      if (!unfinished) continue;
      int best = -1;
      for (int c : others) {
        const auto& uc = at(utts, c);
        if (!endsCleanly(uc) || similar(m, c) < 0.58 || !(q(c) > q(m) + 0.3)) continue;
        if (best < 0 || q(c) > q(best) || (q(c) == q(best) && uc.range.start > at(utts, best).range.start)) best = c;
      }
      if (best >= 0) {
        swaps.emplace_back(m, best);
        keptSet[k] = best;
      }
    }

    const std::string keptAt = stamp(at(utts, kept.members.front()).range.start);
    for (std::size_t r = 0; r < runs.size(); ++r) {
      if (r == winner) continue;
      for (int x : runs[r].members) {
        if (std::find(keptSet.begin(), keptSet.end(), x) != keptSet.end()) continue;
        int y = -1;
        double bestSimilarity = -1;
        for (int candidate : keptSet) {
          double s = std::min(similar(x, candidate), 1.0);
          if (s > bestSimilarity) {
            bestSimilarity = s;
            y = candidate;
          }
        }
        if (y < 0 || similar(x, y) < 0.5) continue;
        choices.push_back({at(utts, x).index, at(utts, y).index,
                           "repeated run of lines \u2014 kept the " + label + " at " + keptAt,
                           static_cast<int>(g) + 1});
      }
    }
    std::stable_sort(swaps.begin(), swaps.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& [m, c] : swaps)
      choices.push_back({at(utts, m).index, at(utts, c).index,
                         "unfinished line inside the kept run \u2014 swapped for the complete rendition at " +
                             stamp(at(utts, c).range.start),
                         static_cast<int>(g) + 1});
  }
  return choices;
}

}  // namespace

}  // namespace kestrane::RunSelector
