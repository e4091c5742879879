#include "kestrane/brain/ScriptCoverage.hpp"

#include <fmt/format.h>
#include <utf8proc.h>

#include <string_view>
#include <unordered_map>

#include "kestrane/brain/KeptSpans.hpp"
#include "kestrane/brain/LongTokenAligner.hpp"
#include "kestrane/brain/UnicodeText.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane::ScriptCoverage {

namespace {

const std::unordered_map<std::string_view, std::string_view>& spelledNumbers() {
  static const std::unordered_map<std::string_view, std::string_view> table{
      {"zero", "0"},     {"one", "1"},      {"two", "2"},        {"three", "3"},     {"four", "4"},
      {"five", "5"},     {"six", "6"},      {"seven", "7"},      {"eight", "8"},     {"nine", "9"},
      {"ten", "10"},     {"eleven", "11"},  {"twelve", "12"},    {"thirteen", "13"}, {"fourteen", "14"},
      {"fifteen", "15"}, {"sixteen", "16"}, {"seventeen", "17"}, {"eighteen", "18"}, {"nineteen", "19"},
      {"twenty", "20"},  {"thirty", "30"},  {"forty", "40"},     {"fifty", "50"},    {"sixty", "60"},
      {"seventy", "70"}, {"eighty", "80"},  {"ninety", "90"},    {"hundred", "100"}, {"thousand", "1000"},
  };
  return table;
}

bool isNumeric(char32_t cp) {
  if (cp < 0x80) return cp >= '0' && cp <= '9';
  auto category = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return category == UTF8PROC_CATEGORY_ND || category == UTF8PROC_CATEGORY_NL || category == UTF8PROC_CATEGORY_NO;
}

bool isSpaceOrTab(char32_t cp) {
  if (cp == ' ' || cp == '\t') return true;
  if (cp < 0x80) return false;
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp)) == UTF8PROC_CATEGORY_ZS;
}

std::string_view trimmed(std::string_view text) {
  std::size_t first = text.size(), last = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t at = pos;
    if (!isSpaceOrTab(UnicodeText::next(text, pos))) {
      if (first == text.size()) first = at;
      last = pos;
    }
  }
  return first == text.size() ? std::string_view{} : text.substr(first, last - first);
}

std::string normalizedNumber(const std::string& token) {
  if (auto spelled = spelledNumbers().find(token); spelled != spelledNumbers().end())
    return std::string(spelled->second);
  std::string digits;
  bool numeric = false;
  for (std::size_t pos = 0; pos < token.size();) {
    std::size_t at = pos;
    char32_t cp = UnicodeText::next(token, pos);
    if (isNumeric(cp)) {
      numeric = true;
      digits.append(token, at, pos - at);
    } else if (cp != '$' && cp != ',' && cp != '.') {
      return token;  // "5th", "covid-19": not a plain number
    }
  }
  return numeric ? digits : token;
}

}  // namespace

std::vector<std::string> beatTexts(std::string_view script) {
  std::vector<std::string> beats;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= script.size(); ++k) {
    if (k < script.size() && script[k] != '.' && script[k] != '!' && script[k] != '?' && script[k] != '\n') continue;
    auto piece = trimmed(script.substr(start, k - start));
    if (TextAlign::tokens(piece).size() > 2) beats.emplace_back(piece);
    start = k + 1;
  }
  return beats;
}

TextAlign::TokenList numberNormalized(const TextAlign::TokenList& tokens) {
  TextAlign::TokenList out;
  out.reserve(tokens.size());
  for (const auto& token : tokens) out.push_back(normalizedNumber(token));
  return out;
}

std::vector<BeatResult> assess(std::string_view script, const Transcript& transcript, const CutList& cutList) {
  auto beats = beatTexts(script);
  if (beats.empty()) return {};

  // The cut's words as one token list, each token remembering its word's start.
  KeptSpans keptTime(cutList);
  TextAlign::TokenList keptTokens;
  std::vector<double> tokenStarts;
  for (const auto& word : transcript.words) {
    if (!keptTime.contains((word.range.start + word.range.end) / 2)) continue;
    for (auto& token : numberNormalized(TextAlign::tokens(word.text))) {
      keptTokens.push_back(std::move(token));
      tokenStarts.push_back(word.range.start);
    }
  }

  LongTokenAligner kept(std::move(keptTokens));
  std::vector<BeatResult> results;
  results.reserve(beats.size());
  // A line the script says again is aligned once: the aligner answers a repeat from memory.
  for (auto& text : beats) {
    if (results.size() % 256 == 0) checkpoint();
    auto beat = numberNormalized(TextAlign::tokens(text));
    auto alignment = kept.align(beat);
    BeatResult result;
    result.text = std::move(text);
    result.score = static_cast<double>(alignment.matchCount) / static_cast<double>(beat.size());
    result.status = result.score >= 0.6 ? Status::covered : result.score >= 0.25 ? Status::partial : Status::missing;
    if (result.status != Status::missing && alignment.bRange.count() > 0)
      result.matchTime = tokenStarts[static_cast<std::size_t>(alignment.bRange.lowerBound)];
    results.push_back(std::move(result));
  }
  return results;
}

std::string markdown(const std::vector<BeatResult>& results, std::string_view projectName) {
  int covered = 0, partial = 0, missing = 0;
  for (const auto& result : results) {
    switch (result.status) {
      case Status::covered: ++covered; break;
      case Status::partial: ++partial; break;
      case Status::missing: ++missing; break;
    }
  }

  std::string summary = fmt::format("{}/{} beats covered", covered, results.size());
  if (partial > 0) summary += fmt::format(", {} partial", partial);
  if (missing > 0) summary += fmt::format(", **{} MISSING**", missing);

  std::vector<std::string> lines{fmt::format("# Script coverage — {}", projectName), "", summary, ""};
  if (missing > 0) {
    lines.emplace_back("## Missing from the cut");
    for (const auto& result : results)
      if (result.status == Status::missing) lines.push_back("- " + result.text);
    lines.emplace_back("");
  }
  lines.emplace_back("## Beat by beat");
  for (const auto& result : results) {
    std::string line = fmt::format("- {} {}", rawValue(result.status), result.text);
    if (result.matchTime) {
      auto whole = static_cast<long long>(*result.matchTime);  // truncated toward zero
      line += fmt::format(" *(source {}:{:02d})*", whole / 60, whole % 60);
    }
    lines.push_back(std::move(line));
  }

  std::string report;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (k > 0) report += '\n';
    report += lines[k];
  }
  return report;
}

}  // namespace kestrane::ScriptCoverage
