#pragma once
// Finds off-mic chatter: short exchanges with the people in the room that the
// presenter speaks between takes. A stretch is reported only when its words
// sound conversational and at least two independent measurements agree.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/LevelData.hpp"
#include "kestrane/model/SilenceSpan.hpp"
#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::ChatterDetector {

using TakeSelector::TokenList;
using TakeSelector::Utterance;

struct Cluster {
  TimeRange range;                   // including any scrap sentence or trailing fillers pulled in
  std::string text;                  // the words of the cluster's own sentences
  std::vector<std::string> signals;  // in the order quiet, silence floor, stopped take

  // "off-mic chatter — talking to the room, not the audience (<signals>)"
  std::string reason() const;

  friend bool operator==(const Cluster&, const Cluster&) = default;
};

// Word sets, in their folded form (see foldedWord).
const std::vector<std::string>& acknowledgments();
const std::vector<std::string>& audienceAddress();
const std::vector<std::string>& trailingFillers();

// A token as the word sets hold it: the right single quotation mark read as an
// apostrophe, and apostrophes and hyphens inside the word dropped, so "you’re",
// "you're" and "youre", or "mm-hmm" and "mmhmm", are the same word.
std::string foldedWord(std::string_view token);

std::vector<Cluster> clusters(std::span<const Utterance> utterances, std::span<const SilenceSpan> silences,
                              const std::optional<LevelData>& levels, const std::vector<TokenList>& scriptSentences,
                              std::span<const TimeRange> stoppages);
// The same, scoring against a script prepared once (identical results).
std::vector<Cluster> clusters(std::span<const Utterance> utterances, std::span<const SilenceSpan> silences,
                              const std::optional<LevelData>& levels, const TakeSelector::PreparedScript& script,
                              std::span<const TimeRange> stoppages);

// One level per word (the loudest hop the word touches, -100 when it touches
// none); absent when the levels are missing, the hop is not positive or
// nothing decodes.
std::optional<std::vector<float>> wordLevels(std::span<const TranscriptWord> words,
                                             const std::optional<LevelData>& levels);

// Linearly interpolated quantile, q in 0...1; 0 for an empty list.
double quantile(std::vector<float> values, double q);

// Words grouped into sentences closed by . ? ! or …
std::vector<std::vector<TranscriptWord>> sentences(std::span<const TranscriptWord> words);

// 1 to 7 tokens, none addressed to the audience, at least one acknowledgment.
bool isConversational(const TokenList& tokens);

}  // namespace kestrane::ChatterDetector
