#pragma once
// The one frame grid every timeline writer, the rough cut and the pipeline cut on, so that
// the FCPXML, the xmeml and the rendered movie hold exactly the same frames (but for the
// footage's last partial frame, which only the FCPXML's compound clip declares and reaches).
//
// The plain cut timeline (kept segments laid back to back in seconds, as the transcript
// exporter computes it) drifts from the snapped one by up to two frames per piece; anything
// timed on the plain timeline (captions, titles, graphics) is carried over with
// Layout::cutSeconds before it is placed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/RationalTime.hpp"
#include "kestrane/model/SourceMedia.hpp"
#include "kestrane/model/TimeRange.hpp"

namespace kestrane::FrameSnapping {

// The frame duration itself when it is positive; 1001/30000 (29.97 fps) otherwise, so that a
// source probed without a usable rate is still cut on some grid rather than refused.
RationalTime usableFrameDuration(RationalTime frameDuration);

// Whole frames of `frameDuration` in `seconds`, rounded as asked. A count within a millionth of
// a frame of a whole number is taken as that number first, so binary rounding error cannot
// move a time that lies on a frame boundary (1.16 s at 25 fps is frame 29, not 28).
// Throws RationalTimeError for a non-positive frame duration or a count beyond 64 bits.
std::int64_t frameIndex(double seconds, RationalTime frameDuration, RationalTime::FrameRounding rounding);

// frameIndex as a time at the frame duration's timescale.
RationalTime snapped(double seconds, RationalTime frameDuration, RationalTime::FrameRounding rounding);

// `count` frames as a time at the frame duration's timescale. Throws on 64-bit overflow.
RationalTime frames(std::int64_t count, RationalTime frameDuration);

// `count` frames in seconds.
double seconds(std::int64_t count, RationalTime frameDuration);

// One kept stretch of the cut on the frame grid.
struct Piece {
  std::size_t segmentIndex = 0;       // its segment's position in CutList::segments
  TimeRange range;                    // the kept segment as decided, in source seconds
  std::int64_t sourceStartFrame = 0;  // first source frame played
  std::int64_t sourceEndFrame = 0;    // one past the last source frame played
  std::int64_t cutStartFrame = 0;     // where it begins on the cut timeline

  std::int64_t frameCount() const { return sourceEndFrame - sourceStartFrame; }
  std::int64_t cutEndFrame() const { return cutStartFrame + frameCount(); }
};

struct Layout {
  RationalTime frameDuration{1, 25};
  std::vector<Piece> pieces;  // in cut-list order, none empty
  std::int64_t totalFrames = 0;

  double totalSeconds() const { return seconds(totalFrames, frameDuration); }

  // Carries a time on the plain cut timeline over to the snapped one: the time is traced back
  // to its source time and placed where that source time plays in the snapped pieces (clamped
  // to its piece). Monotonic; times past the plain end keep their distance from the end.
  double cutSeconds(double plainCutSeconds) const;

  // Per kept segment, in cut-list order: where it starts on the plain cut timeline, its
  // length there, and the piece it became (none when it fell inside frames already played).
  struct Span {
    double plainStart = 0;
    double plainLength = 0;
    TimeRange range;
    std::optional<std::size_t> piece;
    std::int64_t cutFrame = 0;  // where its piece begins, or would have begun
  };
  std::vector<Span> spans;
  double plainTotal = 0;
};

// Lays the kept segments of `cutList` out on the grid of `frameDuration`, in cut-list order:
// each starts on the frame that holds its start and ends after the frame that holds its end.
// A segment that begins less than a frame from where the previous piece's segment ended
// continues that piece's last boundary, so a join that is not a cut repeats no frame; a
// segment left with no frame of its own is dropped. With `sourceFrameLimit`, no piece reaches
// past that many frames of source. Throws RationalTimeError for a non-positive frame duration.
Layout layout(const CutList& cutList, RationalTime frameDuration,
              std::optional<std::int64_t> sourceFrameLimit = std::nullopt);

// The frames of a source `durationSeconds` long: its length on the grid rounded to the nearest
// frame, halves to even (the count the timelines declare for the file); 0 for no length.
std::int64_t sourceFrameCount(double durationSeconds, RationalTime frameDuration);

// The layout of one source's cut on the source's usable frame grid, never past its last whole
// frame as sourceFrameCount counts it (when its length is known). The xmeml's clips must end
// inside the source clip it declares that long.
Layout layout(const SourceMedia& source, const CutList& cutList);

}  // namespace kestrane::FrameSnapping
