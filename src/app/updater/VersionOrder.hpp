#pragma once
// Which of two dotted version texts is newer, as the update feed compares them.
#include <string_view>

namespace kestrane::updater {

// True when `candidate` is a later version than `current`. Each text is split at "." with empty
// pieces dropped; a piece that is not a whole decimal number (or overflows) counts as 0, and a
// missing position counts as 0, so "1.2" and "1.2.0" are the same version.
bool isNewer(std::string_view candidate, std::string_view current);

}  // namespace kestrane::updater
