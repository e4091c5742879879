#pragma once
// Finds run mixes: a cut that keeps most lines of one delivery run and one line
// from another run far away, skipping the rendition that belonged between its
// neighbours. Plans repairs that swap the stray for that counterpart.
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/CutList.hpp"

namespace kestrane {
class SimilarityIndex;
}

namespace kestrane::RunCoherence {

using TakeSelector::Utterance;

struct Incident {
  int stray = 0;        // index of the kept rendition far from its run
  int counterpart = 0;  // index of the removed rendition between before and after
  int before = 0;       // kept line just before the gap
  int after = 0;        // kept line just after the gap
  double strayStart = 0;
  double counterpartStart = 0;
  std::string text;  // the counterpart's first 8 words
  int counterpartSupport = 0;
  int straySupport = 0;
  std::optional<std::string> brokenReason;  // why the counterpart itself is unusable

  friend bool operator==(const Incident&, const Incident&) = default;
};

// Utterances whose midpoint lies in a kept segment of the cut.
std::set<int> keptIndices(std::span<const Utterance> utterances, const CutList& cutList);

std::vector<Incident> incidents(std::span<const Utterance> utterances, const std::set<int>& kept);

std::optional<std::string> brokenReason(const Utterance& counterpart, const Utterance& stray,
                                        std::optional<double> nextKeptStart);

// At most maxRepairs incidents (without a broken reason), each applied to the
// kept set before the next is looked for.
std::vector<Incident> repairPlan(std::span<const Utterance> utterances, const std::set<int>& kept, int maxRepairs);

// The same over a caller's similarity index, whose remembered comparisons
// serve every call (the take decision asks repeatedly).
std::vector<Incident> incidents(const SimilarityIndex& index, const std::set<int>& kept);
std::vector<Incident> repairPlan(const SimilarityIndex& index, const std::set<int>& kept, int maxRepairs);

// "m:ss" of whole seconds, truncated toward zero.
std::string stamp(double seconds);

}  // namespace kestrane::RunCoherence
