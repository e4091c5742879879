#pragma once
// Scoring renditions of a line and choosing the one that stays.
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::TakeSelector {

// Utterance index -> winner score (quality plus position bonus).
using ScoreMap = std::map<int, double>;

// Share of the tokens covered by the best-aligned beat (score >= 0.5).
double scriptMatchCoverage(Tokens tokens, const std::vector<TokenList>& beats);
// Best alignment score x beat coverage over all beats.
double scriptRenditionScore(Tokens tokens, const std::vector<TokenList>& beats);
// The same, aligning only the beats that can matter (identical results).
double scriptMatchCoverage(Tokens tokens, const PreparedScript& script);
double scriptRenditionScore(Tokens tokens, const PreparedScript& script);
// One beat's part in each measure, from the alignment of the tokens (first) with the beat.
double beatMatchCoverage(const TextAlign::LocalAlignment& alignment, std::size_t tokenCount);
double beatRenditionScore(const TextAlign::LocalAlignment& alignment, std::size_t beatTokenCount);

int disfluencyCount(const Utterance& utterance);
double restartPenalty(Tokens tokens);
double pausePenalty(const Utterance& utterance, std::span<const SilenceSpan> silences);

// members must not be empty (throws std::invalid_argument). When scores is
// given it receives every member's winner score.
Utterance pickWinner(std::span<const Utterance> members, const std::vector<TokenList>& scriptSentences,
                     std::span<const SilenceSpan> silences, ScoreMap* scores = nullptr);
Utterance pickWinner(std::span<const Utterance> members, const PreparedScript& script,
                     std::span<const SilenceSpan> silences, ScoreMap* scores = nullptr);

// A longer member that completes what the chosen take began, if any.
std::optional<Utterance> completeRendition(const Utterance& chosen, std::span<const Utterance> members,
                                           std::span<const SilenceSpan> silences, const ScoreMap& scores);

std::string takeReason(const Utterance& member, std::span<const Utterance> members, const Utterance& winner);

// The first six words, with "…" when there were more.
std::string snippet(const Utterance& utterance);

std::vector<TimeRange> chatterIslands(std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                                      const std::vector<TokenList>& scriptSentences);
std::vector<TimeRange> chatterIslands(std::span<const TranscriptWord> words, std::span<const SilenceSpan> silences,
                                      const PreparedScript& script);

std::optional<std::string> payoffToken(const Utterance& utterance);

}  // namespace kestrane::TakeSelector
