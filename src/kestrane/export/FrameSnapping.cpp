#include "kestrane/export/FrameSnapping.hpp"

#include <algorithm>
#include <cmath>

namespace kestrane::FrameSnapping {

namespace {

// A millionth of a frame: far above double rounding error for hours of footage, far below
// anything a recogniser or a hand edit can mean.
constexpr double boundaryTolerance = 1e-6;

void checkFrameDuration(RationalTime fd) {
  if (fd.value <= 0 || fd.timescale < 1) throw RationalTimeError("frame duration must be positive");
}

}  // namespace

RationalTime usableFrameDuration(RationalTime frameDuration) {
  if (frameDuration.value > 0 && frameDuration.timescale >= 1) return frameDuration;
  return RationalTime{1001, 30000};
}

std::int64_t frameIndex(double seconds, RationalTime frameDuration, RationalTime::FrameRounding rounding) {
  checkFrameDuration(frameDuration);
  double count = seconds * static_cast<double>(frameDuration.timescale) / static_cast<double>(frameDuration.value);
  const double whole = std::round(count);
  if (std::abs(count - whole) <= boundaryTolerance) count = whole;
  switch (rounding) {
    case RationalTime::FrameRounding::down: count = std::floor(count); break;
    case RationalTime::FrameRounding::up: count = std::ceil(count); break;
    case RationalTime::FrameRounding::nearest: count = std::round(count); break;
  }
  constexpr double limit = 9223372036854775808.0;  // 2^63
  if (!std::isfinite(count) || count >= limit || count < -limit) {
    throw RationalTimeError("frame count out of range");
  }
  return static_cast<std::int64_t>(count);
}

RationalTime frames(std::int64_t count, RationalTime frameDuration) {
  checkFrameDuration(frameDuration);
  std::int64_t value = 0;
  if (__builtin_mul_overflow(count, frameDuration.value, &value)) {
    throw RationalTimeError("time value out of range");
  }
  return {value, frameDuration.timescale};
}

RationalTime snapped(double seconds, RationalTime frameDuration, RationalTime::FrameRounding rounding) {
  return frames(frameIndex(seconds, frameDuration, rounding), frameDuration);
}

double seconds(std::int64_t count, RationalTime frameDuration) {
  return static_cast<double>(count) * static_cast<double>(frameDuration.value) /
         static_cast<double>(frameDuration.timescale);
}

Layout layout(const CutList& cutList, RationalTime frameDuration, std::optional<std::int64_t> sourceFrameLimit) {
  checkFrameDuration(frameDuration);
  Layout out;
  out.frameDuration = frameDuration;
  const double frameSeconds = seconds(1, frameDuration);
  std::int64_t cursor = 0;
  double plain = 0;
  std::optional<double> previousEnd;  // end of the last kept segment seen, laid out or not

  for (std::size_t i = 0; i < cutList.segments.size(); ++i) {
    const Segment& segment = cutList.segments[i];
    if (!segment.isKept()) continue;
    const TimeRange range = segment.range;
    Layout::Span span;
    span.plainStart = plain;
    span.plainLength = std::max(0.0, range.end - range.start);
    span.range = range;
    plain += span.plainLength;

    std::int64_t first = frameIndex(range.start, frameDuration, RationalTime::FrameRounding::down);
    std::int64_t last = frameIndex(range.end, frameDuration, RationalTime::FrameRounding::up);
    if (!out.pieces.empty() && previousEnd) {
      // A join closer than one frame is not a cut: both sides meet on one boundary.
      const double gap = range.start - *previousEnd;
      if (std::abs(gap) < frameSeconds * (1 - boundaryTolerance)) {
        first = out.pieces.back().sourceEndFrame;
      }
    }
    previousEnd = range.end;
    if (sourceFrameLimit) {
      first = std::min(first, *sourceFrameLimit);
      last = std::min(last, *sourceFrameLimit);
    }
    span.cutFrame = cursor;
    if (last > first) {
      Piece piece;
      piece.segmentIndex = i;
      piece.range = range;
      piece.sourceStartFrame = first;
      piece.sourceEndFrame = last;
      piece.cutStartFrame = cursor;
      cursor += last - first;
      span.piece = out.pieces.size();
      out.pieces.push_back(piece);
    }
    out.spans.push_back(span);
  }
  out.totalFrames = cursor;
  out.plainTotal = plain;
  return out;
}

std::int64_t sourceFrameCount(double durationSeconds, RationalTime frameDuration) {
  checkFrameDuration(frameDuration);
  if (!std::isfinite(durationSeconds) || durationSeconds <= 0) return 0;
  double count =
      durationSeconds * static_cast<double>(frameDuration.timescale) / static_cast<double>(frameDuration.value);
  double rounded = std::round(count);
  if (std::abs(count - rounded) <= boundaryTolerance) {
    count = rounded;
  } else if (std::abs(count - std::trunc(count)) == 0.5) {
    rounded = 2.0 * std::round(count / 2.0);
  }
  constexpr double limit = 9223372036854775808.0;  // 2^63
  if (rounded >= limit) throw RationalTimeError("frame count out of range");
  return static_cast<std::int64_t>(rounded);
}

Layout layout(const SourceMedia& source, const CutList& cutList) {
  const RationalTime fd = usableFrameDuration(source.frameDuration);
  const std::int64_t frames = sourceFrameCount(source.durationSeconds, fd);
  return layout(cutList, fd, frames > 0 ? std::optional<std::int64_t>(frames) : std::nullopt);
}

double Layout::cutSeconds(double plainCutSeconds) const {
  if (spans.empty() || !std::isfinite(plainCutSeconds)) return plainCutSeconds;
  if (plainCutSeconds < 0) return plainCutSeconds;
  if (plainCutSeconds > plainTotal) return totalSeconds() + (plainCutSeconds - plainTotal);

  // The last span starting at or before the time; a time on a join belongs to the later span.
  auto it = std::upper_bound(spans.begin(), spans.end(), plainCutSeconds,
                             [](double t, const Span& s) { return t < s.plainStart; });
  if (it != spans.begin()) --it;
  const Span& span = *it;
  if (!span.piece) return seconds(span.cutFrame, frameDuration);
  const Piece& piece = pieces[*span.piece];
  const double source = span.range.start + (plainCutSeconds - span.plainStart);
  const double pieceStart = seconds(piece.cutStartFrame, frameDuration);
  const double pieceEnd = seconds(piece.cutEndFrame(), frameDuration);
  const double placed = pieceStart + (source - seconds(piece.sourceStartFrame, frameDuration));
  return std::clamp(placed, pieceStart, pieceEnd);
}

}  // namespace kestrane::FrameSnapping
