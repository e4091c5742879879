#pragma once
// The one instrument that looks at the picture: joins where the two takes are framed
// differently. Lives beside the media readers because it decodes video frames.
#include <array>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

#include "kestrane/model/CutFinding.hpp"
#include "kestrane/model/CutList.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::CutInstruments {

// Frame difference (0–1) from which a join is reported.
inline constexpr double kFramingJumpThreshold = 0.12;
// Joins examined per call, and findings at most.
inline constexpr std::size_t kMaxFramingJoins = 60;

// Findings of kind framingJump in join order, from the held footage file. A frame that can't be
// made only skips its join. Throws Cancelled once `stop` is requested, and FileReadError when the
// system fails to read the footage (a failing drive): then no join can be judged.
std::vector<CutFinding> framingJumps(const CutList& cutList, const std::shared_ptr<const platform::MediaFile>& footage,
                                     std::stop_token stop = {});

// Mean absolute difference of two thumbnails, 0 (identical) to 1 (black against white).
double frameDifference(const std::array<std::uint8_t, 1024>& a, const std::array<std::uint8_t, 1024>& b);

}  // namespace kestrane::CutInstruments
