#pragma once
// file:// URLs of local paths, as editors expect them in timeline documents.
#include <string>
#include <string_view>

namespace kestrane::FileURL {

// The path made absolute (against the working folder) and percent-encoded as a URL path:
// ASCII letters, digits and - . _ ~ ! $ & ' ( ) * + , ; = : @ / stay, every other byte is
// written as %XX ("/a/take 1.mov" gives "/a/take%201.mov").
std::string encodedPath(std::string_view path);

// "file://" + encodedPath(path).
std::string fromPath(std::string_view path);

}  // namespace kestrane::FileURL
