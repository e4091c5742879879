#pragma once
// Writes JSON text in the layout of our stored files: two-space indentation, " : " between
// key and value, keys in byte order, "/" escaped, non-ASCII written as is.
#include <nlohmann/json.hpp>

#include <string>

namespace kestrane::JsonText {

// Throws std::domain_error on a number that is not finite. Invalid UTF-8 becomes U+FFFD.
// Throws Cancelled when the job running it is asked to stop.
std::string pretty(const nlohmann::json& value);

// Frees `value` on a thread of its own: a document of millions of values takes most of a second
// to free, which a stopped job, or one that is done with the document, need not wait for.
void freeAside(nlohmann::json&& value);

}  // namespace kestrane::JsonText
