#include "kestrane/brain/TakeScoring.hpp"

#include <stdexcept>

namespace kestrane::TakeSelector {
double scriptMatchCoverage(Tokens, const std::vector<TokenList>&) { return 0; }
double scriptRenditionScore(Tokens, const std::vector<TokenList>&) { return 0; }
int disfluencyCount(const Utterance&) { return 0; }
double restartPenalty(Tokens) { return 0; }
double pausePenalty(const Utterance&, std::span<const SilenceSpan>) { return 0; }
Utterance pickWinner(std::span<const Utterance> members, const std::vector<TokenList>&, std::span<const SilenceSpan>,
                     ScoreMap*) {
  if (members.empty()) throw std::invalid_argument("pickWinner needs at least one member");
  return members.back();
}
std::optional<Utterance> completeRendition(const Utterance&, std::span<const Utterance>, std::span<const SilenceSpan>,
                                           const ScoreMap&) {
  return std::nullopt;
}
std::string takeReason(const Utterance&, std::span<const Utterance>, const Utterance&) { return {}; }
std::string snippet(const Utterance&) { return {}; }
std::vector<TimeRange> chatterIslands(std::span<const TranscriptWord>, std::span<const SilenceSpan>,
                                      const std::vector<TokenList>&) {
  return {};
}
std::optional<std::string> payoffToken(const Utterance&) { return std::nullopt; }
}  // namespace kestrane::TakeSelector
