#pragma once
// Which lines of the presenter's script survive in the finished cut, beat by beat, and the
// Markdown report "script-coverage.md" for the editor.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/brain/TextAlign.hpp"
#include "kestrane/model/CutList.hpp"
#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/Transcript.hpp"

namespace kestrane::ScriptCoverage {

enum class Status { covered, partial, missing };

struct BeatResult {
  std::string text;  // the beat as written, trimmed of spaces and tabs
  Status status = Status::missing;
  std::optional<double> matchTime;  // source time of the first kept word of the match
  double score = 0;                 // share of the beat's tokens matched in the cut

  friend bool operator==(const BeatResult&, const BeatResult&) = default;
};

// The script's beats as written: split at . ! ? and line feeds, trimmed of spaces and tabs,
// keeping the pieces of more than two tokens, in script order.
std::vector<std::string> beatTexts(std::string_view script);

// Spelled numbers become digits and "$1,000" becomes "1000", so spoken and written numbers
// compare equal. One token out for every token in.
TextAlign::TokenList numberNormalized(const TextAlign::TokenList& tokens);

std::vector<BeatResult> assess(std::string_view script, const Transcript& transcript, const CutList& cutList);

std::string markdown(const std::vector<BeatResult>& results, std::string_view projectName);

}  // namespace kestrane::ScriptCoverage

namespace kestrane {

template <>
struct EnumText<ScriptCoverage::Status> {
  static constexpr std::array<std::string_view, 3> texts{"✓", "◐", "✗"};
};

}  // namespace kestrane
