#pragma once
// The JSON form of the session records: the file's exact text, and checked decoding.
#include <string>

#include "kestrane/model/KestraneSession.hpp"

namespace kestrane::SessionJson {

// Pretty-printed, keys sorted, absent optionals left out. Throws SessionFileError on a
// number that is not finite.
std::string encode(const KestraneSession& session);

// Throws SessionFileError naming the offending member's path.
KestraneSession decode(const std::string& text);

// A brand on its own (the session's "brandSpec" member), or the brand of a whole session file.
// Throws SessionFileError.
BrandSpec decodeBrand(const std::string& text);

}  // namespace kestrane::SessionJson
