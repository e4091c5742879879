// The rules and texts of each caption length.
#include "kestrane/export/TranscriptExporter.hpp"

namespace kestrane::TranscriptExporter {

int maxWordsPerCue(SubtitleLength length) {
  switch (length) {
    case SubtitleLength::short_: return 3;
    case SubtitleLength::medium: return 5;
    case SubtitleLength::long_: return 8;
    case SubtitleLength::sentence: return 14;
  }
  return 5;
}

double maxLineDuration(SubtitleLength length) {
  switch (length) {
    case SubtitleLength::short_: return 1.2;
    case SubtitleLength::medium: return 2.0;
    case SubtitleLength::long_: return 3.0;
    case SubtitleLength::sentence: return 4.5;
  }
  return 2.0;
}

std::string_view label(SubtitleLength length) {
  switch (length) {
    case SubtitleLength::short_: return "2\u20133 words";
    case SubtitleLength::medium: return "4\u20135 words";
    case SubtitleLength::long_: return "6\u20138 words";
    case SubtitleLength::sentence: return "Sentence";
  }
  return {};
}

std::string_view hint(SubtitleLength length) {
  switch (length) {
    case SubtitleLength::short_: return "Punchy fragments, social-video pacing.";
    case SubtitleLength::medium: return "Short phrases. The usual choice.";
    case SubtitleLength::long_: return "A longer phrase per block.";
    case SubtitleLength::sentence: return "A whole sentence per block \u2014 the fewest blocks to manage.";
  }
  return {};
}

}  // namespace kestrane::TranscriptExporter
