#include "kestrane/brain/ChatterDetector.hpp"

namespace kestrane::ChatterDetector {
std::string Cluster::reason() const { return {}; }
const std::vector<std::string>& acknowledgments() { static const std::vector<std::string> s; return s; }
const std::vector<std::string>& audienceAddress() { static const std::vector<std::string> s; return s; }
const std::vector<std::string>& trailingFillers() { static const std::vector<std::string> s; return s; }
std::string foldedWord(std::string_view token) { return std::string(token); }
std::vector<Cluster> clusters(std::span<const Utterance>, std::span<const SilenceSpan>, const std::optional<LevelData>&,
                              const std::vector<TokenList>&, std::span<const TimeRange>) {
  return {};
}
std::optional<std::vector<float>> wordLevels(std::span<const TranscriptWord>, const std::optional<LevelData>&) {
  return std::nullopt;
}
double quantile(std::vector<float>, double) { return 0; }
std::vector<std::vector<TranscriptWord>> sentences(std::span<const TranscriptWord>) { return {}; }
bool isConversational(const TokenList&) { return false; }
}  // namespace kestrane::ChatterDetector
