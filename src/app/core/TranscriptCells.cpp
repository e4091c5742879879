#include "app/core/TranscriptCells.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::app::TranscriptCells {

namespace {

bool insideBand(std::span<const TimeRange> bands, double t) {
  auto it = std::upper_bound(bands.begin(), bands.end(), t, [](double v, const TimeRange& b) { return v < b.end; });
  return it != bands.end() && it->start <= t;
}

}  // namespace

std::vector<Paragraph> paragraphs(std::span<const TranscriptWord> words, std::span<const TimeRange> cutBands,
                                  const Sources& sources) {
  std::vector<Paragraph> out;
  if (words.empty()) return out;
  Paragraph current;
  double prevEnd = words.front().range.start;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const TranscriptWord& word = words[i];
    if (word.range.start - prevEnd > paragraphPause && !current.words.empty()) {
      current.id = int(out.size());
      out.push_back(std::move(current));
      current = {};
    }
    if (current.words.empty()) current.start = word.range.start;
    const double anchor = (word.range.start + word.range.end) * 0.5;
    const bool cut = insideBand(cutBands, anchor);
    std::optional<QString> reason;
    if (cut && sources.cutReason) reason = sources.cutReason(anchor);
    current.words.push_back({int(i), QString::fromStdString(word.text), word.range, anchor, cut, reason});
    prevEnd = word.range.end;
  }
  current.id = int(out.size());
  out.push_back(std::move(current));
  return out;
}

QString timestamp(double seconds) {
  const auto s = static_cast<long long>(std::trunc(seconds));
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace kestrane::app::TranscriptCells
