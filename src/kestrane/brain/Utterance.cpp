#include "kestrane/brain/Utterance.hpp"

namespace kestrane::TakeSelector {
bool Utterance::endsLikeSentence() const { return false; }
const std::vector<std::string>& fillerTokens() { static const std::vector<std::string> t; return t; }
const std::vector<std::string>& trailingConjunctions() { static const std::vector<std::string> t; return t; }
const std::vector<TokenList>& slatePhrases() { static const std::vector<TokenList> t; return t; }
bool isFillerToken(std::string_view) { return false; }
bool isTrailingConjunction(std::string_view) { return false; }
std::vector<Utterance> utterances(const Transcript&, std::span<const SilenceSpan>) { return {}; }
std::vector<std::vector<TranscriptWord>> splitAtInternalRestarts(std::span<const TranscriptWord>) { return {}; }
std::vector<int> internalRestarts(Tokens, const std::vector<bool>&) { return {}; }
bool endsMidRestart(Tokens) { return false; }
std::vector<TokenList> scriptBeats(std::string_view) { return {}; }
bool sharesOpening(Tokens, Tokens) { return false; }
double openingPrefixSimilarity(Tokens, Tokens) { return 0; }
double openingPrefixSimilarity(const Utterance&, const Utterance&) { return 0; }
double openingAwareSimilarity(Tokens, Tokens) { return 0; }
double retakeSimilarity(const Utterance&, const Utterance&) { return 0; }
bool containsPayoff(const Utterance&, std::string_view) { return false; }
int openingRun(Tokens, Tokens) { return 0; }
bool isSlate(Tokens) { return false; }
}  // namespace kestrane::TakeSelector
