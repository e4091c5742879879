#pragma once
// How the analysis tells the user that footage was only partly readable: sound that ends well
// before the length the file states (a truncated copy), and damaged stretches skipped.
#include <cstddef>
#include <optional>
#include <string>

namespace kestrane::MediaDamage {

// True when the sound that could be decoded ends clearly before the file's stated length: more
// than two seconds and more than 2 % short. Encoder delay and a track a little shorter than
// the picture stay well inside that.
bool endsEarly(double statedSeconds, double readableSeconds);

// One sentence naming both lengths.
std::string endsEarlyWarning(double statedSeconds, double readableSeconds);

// True for a sentence endsEarlyWarning made, wherever it is passed on, so that what shows a
// finished cut can tell it from the other warnings.
bool isEndsEarlyWarning(const std::string& warning);

// "N damaged stretches were skipped"; none when nothing was skipped.
std::optional<std::string> skippedWarning(std::size_t stretches);

}  // namespace kestrane::MediaDamage
