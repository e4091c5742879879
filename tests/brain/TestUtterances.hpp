#pragma once
// Builders for utterances and words used by the decision-engine tests.
#include <sstream>
#include <string>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/brain/Utterance.hpp"

namespace kestrane::testing {

inline TranscriptWord word(std::string text, double start, double end) { return {std::move(text), {start, end}}; }

// Words of `text` spread evenly over [start, end], tokens as the engine makes them.
inline TakeSelector::Utterance utterance(int index, const std::string& text, double start, double end) {
  TakeSelector::Utterance u;
  u.index = index;
  std::istringstream in(text);
  std::vector<std::string> texts;
  for (std::string w; in >> w;) texts.push_back(w);
  double step = texts.empty() ? 0 : (end - start) / static_cast<double>(texts.size());
  for (std::size_t k = 0; k < texts.size(); ++k)
    u.words.push_back(word(texts[k], start + step * static_cast<double>(k), start + step * static_cast<double>(k + 1)));
  u.tokens = TextAlign::tokens(text);
  u.range = {start, end};
  return u;
}

inline std::vector<std::string> toks(const std::string& text) { return TextAlign::tokens(text); }

// A splitter silence well under the speech.
inline SilenceSpan silence(double start, double end) { return {{start, end}, -60}; }

}  // namespace kestrane::testing
