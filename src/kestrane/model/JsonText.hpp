#pragma once
// Writes JSON text in the layout of our stored files: two-space indentation, " : " between
// key and value, keys in byte order, "/" escaped, non-ASCII written as is.
#include <nlohmann/json.hpp>

#include <string>

namespace kestrane::JsonText {

// Throws std::domain_error on a number that is not finite. Invalid UTF-8 becomes U+FFFD.
std::string pretty(const nlohmann::json& value);

}  // namespace kestrane::JsonText
