#include "kestrane/brain/RunCoherence.hpp"

namespace kestrane::RunCoherence {
std::set<int> keptIndices(std::span<const Utterance>, const CutList&) { return {}; }
std::vector<Incident> incidents(std::span<const Utterance>, const std::set<int>&) { return {}; }
std::optional<std::string> brokenReason(const Utterance&, const Utterance&, std::optional<double>) {
  return std::nullopt;
}
std::vector<Incident> repairPlan(std::span<const Utterance>, const std::set<int>&, int) { return {}; }
std::string stamp(double) { return {}; }
}  // namespace kestrane::RunCoherence
