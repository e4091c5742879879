#pragma once
// Source times as the engine's notes and reasons print them.
#include <string>

namespace kestrane {

// "m:ss" of whole seconds, truncated toward zero (75.9 s prints as 1:15; -75.9 s as -1:15). A
// time no recording reaches (a damaged timestamp) is said in words: "a time beyond any
// recording", "a time before any recording", or "no time at all" for what is not a number.
std::string timeStamp(double seconds);

// "m:ss", or "m:ss.dd" to `decimals` places, of a length or time taken to the millisecond and
// truncated as the engine's other times are; in words where timeStamp uses them.
std::string lengthText(double seconds, int decimals);

// The fewest decimals (up to three) at which lengthText reads the two apart.
int decimalsToTell(double a, double b);

}  // namespace kestrane
