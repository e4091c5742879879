#pragma once
// Finds repeated run-throughs of a passage of lines, keeps one whole and
// names the kept line that replaces every line of the others.
#include <set>
#include <span>
#include <string>
#include <vector>

#include "kestrane/brain/PreparedScript.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/model/SilenceSpan.hpp"

namespace kestrane::RunSelector {

using TakeSelector::TokenList;
using TakeSelector::Utterance;

struct Run {
  std::vector<int> members;  // utterance positions, ascending
  double start = 0;
  double end = 0;
};

struct Group {
  std::vector<Run> runs;  // ordered by start
};

struct Choice {
  int loser = 0;   // utterance index to remove
  int winner = 0;  // utterance index that stands in for it
  std::string reason;
  int group = 0;  // 1-based, in detect() order

  friend bool operator==(const Choice&, const Choice&) = default;
};

// Utterance j looks like a new take of utterance i (i < j).
struct Anchor {
  int i = 0;
  int j = 0;
  friend bool operator==(const Anchor&, const Anchor&) = default;
};
using Chain = std::vector<Anchor>;

std::vector<Choice> choose(std::span<const Utterance> utts, const std::set<int>& available,
                           const std::vector<TokenList>& scriptSentences, std::span<const SilenceSpan> silences);
std::vector<Choice> choose(std::span<const Utterance> utts, const std::set<int>& available,
                           const TakeSelector::PreparedScript& script, std::span<const SilenceSpan> silences);

std::vector<Group> detect(std::span<const Utterance> utts, const std::set<int>& available);
std::vector<Anchor> anchors(std::span<const Utterance> utts, const std::set<int>& available);
std::vector<Chain> chains(std::vector<Anchor> pairs, std::span<const Utterance> utts);

// Take quality: script rendition, clean ending and length, less stumbles,
// restarts and pauses. maxTokens is the largest token count of the group.
double quality(const Utterance& utterance, const std::vector<TokenList>& scriptSentences,
               std::span<const SilenceSpan> silences, int maxTokens);
double quality(const Utterance& utterance, const TakeSelector::PreparedScript& script,
               std::span<const SilenceSpan> silences, int maxTokens);

bool isComplete(const Run& run, std::span<const Utterance> utts, int lines);

// "m:ss" of whole seconds, truncated toward zero.
std::string stamp(double seconds);

}  // namespace kestrane::RunSelector
