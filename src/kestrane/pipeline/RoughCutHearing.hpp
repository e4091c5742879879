#pragma once
// How a rough cut's render hears its footage: against the loudness the cut was measured from, so
// a hole, damage or another recording in a kept piece the footage check didn't hear fails the
// render where it lies.
#include <optional>

#include "kestrane/export/SoundListener.hpp"
#include "kestrane/model/LevelData.hpp"

namespace kestrane::Pipeline {

// The listener a render of footage whose stored levels are `levels` hears its sound through;
// nothing to hear it with when there are none.
MP4Renderer::Listening roughCutHearing(const std::optional<LevelData>& levels);

}  // namespace kestrane::Pipeline
