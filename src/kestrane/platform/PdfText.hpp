#pragma once
// Page texts of a PDF document.
#include <optional>
#include <string>
#include <vector>

namespace kestrane::platform {

// One entry per page in order; an entry is absent when the page could not be fetched or gave no
// text at all. Nothing when the document cannot be opened (missing, damaged, locked).
std::optional<std::vector<std::optional<std::string>>> pdfPageTexts(const std::string& path);

}  // namespace kestrane::platform
