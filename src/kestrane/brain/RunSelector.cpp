#include "kestrane/brain/RunSelector.hpp"

namespace kestrane::RunSelector {
std::vector<Choice> choose(std::span<const Utterance>, const std::set<int>&, const std::vector<TokenList>&,
                           std::span<const SilenceSpan>) {
  return {};
}
std::vector<Group> detect(std::span<const Utterance>, const std::set<int>&) { return {}; }
std::vector<Anchor> anchors(std::span<const Utterance>, const std::set<int>&) { return {}; }
std::vector<Chain> chains(std::vector<Anchor>, std::span<const Utterance>) { return {}; }
double quality(const Utterance&, const std::vector<TokenList>&, std::span<const SilenceSpan>, int) { return 0; }
bool isComplete(const Run&, std::span<const Utterance>, int) { return false; }
std::string stamp(double) { return {}; }
}  // namespace kestrane::RunSelector
