#pragma once
// Source times as the engine's notes and reasons print them.
#include <string>

namespace kestrane {

// "m:ss" of whole seconds, truncated toward zero (75.9 s prints as 1:15).
std::string timeStamp(double seconds);

}  // namespace kestrane
