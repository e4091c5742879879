#pragma once
// The recognised words as the transcript editor shows them: paragraphs split at long pauses,
// each word marked cut when the cut removes its middle, the rule by which the package's
// transcript and captions drop a word, so the editor strikes exactly the words they lose.
#include <QString>

#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "kestrane/model/TimeRange.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::app {

struct WordCell {
  int id = 0;  // the word's index in the transcript
  QString text;
  TimeRange range;
  double anchor = 0;  // the moment that decides whether the word is cut: its middle
  bool cut = false;
  std::optional<QString> reason;
};

struct Paragraph {
  int id = 0;
  double start = 0;
  std::vector<WordCell> words;
};

namespace TranscriptCells {

// A pause longer than this starts a new paragraph.
inline constexpr double paragraphPause = 1.2;

struct Sources {
  // Why the cut removes a moment; none when there is nothing to say.
  std::function<std::optional<QString>(double)> cutReason;
};

std::vector<Paragraph> paragraphs(std::span<const TranscriptWord> words, std::span<const TimeRange> cutBands,
                                  const Sources& sources);

// Whole seconds as minutes:seconds ("62:05").
QString timestamp(double seconds);

}  // namespace TranscriptCells

}  // namespace kestrane::app
