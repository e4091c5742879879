#pragma once
// Turns the presenter's script file (plain text, Markdown, Fountain, RTF or PDF) into text.
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::ScriptLoader {

// Lower-case extensions taken as scripts when a file is dropped or chosen.
const std::set<std::string>& scriptExtensions();

// Larger files are refused as unreadable: no script is anywhere near this size, and reading one
// whole would only waste memory.
inline constexpr std::uintmax_t kMaxScriptBytes = 16u * 1024u * 1024u;

class ScriptError : public UserFacingError {
 public:
  enum class Kind { unreadable, noText, notText };

  static ScriptError unreadable(const std::string& fileName) {
    return {Kind::unreadable, fileName, "Couldn't read the script file " + fileName};
  }
  static ScriptError noText(const std::string& fileName) {
    return {Kind::noText, fileName,
            "No text found in " + fileName + " — if it's a scanned PDF, export the text and retry"};
  }

  // Mostly NUL bytes, control characters or bytes that are not UTF-8: a word-processor
  // document or a movie picked by mistake, read as text, would be thousands of missing lines.
  static ScriptError notText(const std::string& fileName) {
    return {Kind::notText, fileName,
            fileName +
                " doesn't hold plain text (is it a word-processor document or a video?) — "
                "save the script as UTF-8 text, Markdown, RTF or PDF and retry"};
  }

  Kind kind() const { return kind_; }
  const std::string& fileName() const { return fileName_; }

 private:
  ScriptError(Kind kind, std::string fileName, const std::string& message)
      : UserFacingError(message), kind_(kind), fileName_(std::move(fileName)) {}
  Kind kind_;
  std::string fileName_;
};

struct LoadedScript {
  std::string text;
  // Said once when the file was not UTF-8 and characters were replaced to read it.
  std::optional<std::string> notice;
};

// The script's text, untrimmed. A Markdown file (.md) comes without its markup: headings and
// rules blanked, quote, list and emphasis markers taken off. Throws ScriptError.
LoadedScript loadScript(const std::string& url);

// The text of loadScript alone.
std::string load(const std::string& url);

// Bytes as UTF-8, each ill-formed sequence replaced by one U+FFFD.
std::string decodeUTF8Lossy(const std::string& bytes);

}  // namespace kestrane::ScriptLoader
