#pragma once
// Utterances (stretches of speech between pauses) and the small phrase tests
// every take decision is built from.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::TakeSelector {

using TextAlign::TokenList;
using TextAlign::Tokens;
using ScriptBeats = std::vector<TokenList>;

struct Utterance {
  int index = 0;                      // position in the list utterances() returned
  std::vector<TranscriptWord> words;  // never empty when built by utterances()
  TokenList tokens;
  TimeRange range;

  // Ends with . ? or ! and is not a long line left hanging on a conjunction.
  bool endsLikeSentence() const;
};

// Read-only tables, built once on first use.
const std::vector<std::string>& fillerTokens();
const std::vector<std::string>& trailingConjunctions();
const std::vector<TokenList>& slatePhrases();
bool isFillerToken(std::string_view token);
bool isTrailingConjunction(std::string_view token);

// Splits the words at splitter silences and word gaps of kSplitterMinSilence or
// more, then at restarts within one breath.
std::vector<Utterance> utterances(const Transcript& transcript, std::span<const SilenceSpan> silences);

std::vector<std::vector<TranscriptWord>> splitAtInternalRestarts(std::span<const TranscriptWord> chunk);

// Ascending token positions where the speaker re-says a phrase. sentenceEnds
// may be shorter than the tokens (missing flags count as false).
std::vector<int> internalRestarts(Tokens tokens, const std::vector<bool>& sentenceEnds = {});

bool endsMidRestart(Tokens tokens);

// Ends like a sentence and not in the middle of a restart.
bool endsCleanly(const Utterance& utterance);
// Ends cleanly, with no restart inside either.
bool isFinished(const Utterance& utterance);

// The words' texts joined by single spaces.
std::string joinedText(std::span<const TranscriptWord> words);

std::vector<TokenList> scriptBeats(std::string_view script);

bool sharesOpening(Tokens a, Tokens b);

double openingPrefixSimilarity(Tokens a, Tokens b);
double openingPrefixSimilarity(const Utterance& a, const Utterance& b);

// max(local alignment, trigram Jaccard), raised over the opening-prefix
// similarity by 0.1 when the two share an opening, capped at 1.
double openingAwareSimilarity(Tokens a, Tokens b);

// As openingAwareSimilarity, but the opening bonus only applies when one of
// the two is unfinished or stumbles.
double retakeSimilarity(const Utterance& a, const Utterance& b);

bool containsPayoff(const Utterance& utterance, std::string_view payoff);

int openingRun(Tokens a, Tokens b);

bool isSlate(Tokens tokens);

}  // namespace kestrane::TakeSelector
