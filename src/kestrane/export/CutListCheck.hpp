#pragma once
// What every cut list the engine hands on must be. The planner's seams check it on every run
// (it costs one pass over the pieces) and the tests check it the same way, so a broken cut is
// caught where it was made instead of as a wrong timeline in the editor.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "kestrane/model/CutList.hpp"
#include "kestrane/model/SourceMedia.hpp"

namespace kestrane::CutListCheck {

// A cut list that breaks the rules below: a fault of the program, never a message for the user.
class Broken : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// What is wrong with the cut on the source's frame grid, as every writer lays it out: pieces in
// source order, none empty or overlapping another, all inside the source's frames, back to back
// on the cut. Nothing when it is sound.
std::optional<std::string> framesFault(const CutList& cut, const SourceMedia& source);

// What is wrong with a decided cut: segments sorted, none empty, each starting where the one
// before ended, from 0 to the source's end, and sound on the frame grid. Nothing when sound.
std::optional<std::string> fault(const CutList& cut, const SourceMedia& source);

// Throws Broken, naming the seam (`after` is what just made the cut) and the fault, unless the
// decided cut is sound.
void require(const CutList& cut, const SourceMedia& source, std::string_view after);

}  // namespace kestrane::CutListCheck
