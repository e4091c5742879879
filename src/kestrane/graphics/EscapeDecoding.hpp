#pragma once
// The text a browser actually reads out of a composition: HTML character references, CSS escapes
// and JavaScript string/identifier escapes resolved. The resource gate scans this form so that
// an address written as "https&#58;//host" or "\68ttps://host" is still seen; what is rendered
// stays the composition as authored.
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::EscapeDecoding {

// "&#58;", "&#x3A;", "&colon;"... A numeric reference needs no semicolon and may carry leading
// zeros, as browsers accept; an unknown name stays as written. Code points out of range read
// as U+FFFD.
std::string characterReferences(std::string_view text);

// "\68" (one to six hex digits, then one optional blank), "\/" and a line continuation.
std::string cssEscapes(std::string_view text);

// "\x68", "\u0068", "\u{68}", "\/" and the one-letter escapes.
std::string scriptEscapes(std::string_view text);

// "%2e" and the like, as a browser reads them in a host, a data: address's body or a
// javascript: address.
std::string percentDecoded(std::string_view text);

// Base64 as a browser decodes a data: address: blanks and anything outside the alphabet are
// skipped, and the text stops at the first "=".
std::string base64Decoded(std::string_view text);

// The whole document split as a browser's HTML parser splits it, each part decoded the way its
// context is read: references in text and attribute values (which are never markup),
// CSS escapes inside <style> and style="...", script escapes inside <script> and on...="..."
// handlers, whose comments are blanked out; HTML comments are dropped. Each tag is written back
// as <name attribute="value" ...> with its values trimmed of the blanks a browser trims from an
// address. `script` receives the decoded handler and script text alone, with the text of its
// plain string and template literals blanked (CodeComments::blankedScriptAndProse): where it
// names what it calls. The ranges say where in `text` the script and the CSS lie.
struct Decoded {
  struct Range {
    std::size_t start = 0;
    std::size_t length = 0;
  };
  std::string text;
  std::string script;
  std::vector<Range> scriptRanges;     // in order
  std::vector<Range> styleRanges;      // in order
  std::vector<std::string> documents;  // srcdoc values, decoded once: documents of their own
  std::vector<std::string> unread;     // what could be read more than one way, quoted
};
Decoded document(std::string_view html);

// UTF-8 of one code point (U+FFFD for anything out of range or a surrogate).
void appendCodePoint(std::string& out, unsigned long cp);

}  // namespace kestrane::EscapeDecoding
