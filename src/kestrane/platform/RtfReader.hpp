#pragma once
// The plain text of an RTF document.
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// Paragraph and line breaks become line feeds, tabs stay tabs, escaped characters are decoded
// (Windows-1252 for \'hh, Unicode for \uN); font and colour tables, style sheets, document info,
// pictures and \* destinations are skipped. Nothing when the data is not RTF.
std::optional<std::string> rtfPlainText(std::string_view rtf);

}  // namespace kestrane::platform
