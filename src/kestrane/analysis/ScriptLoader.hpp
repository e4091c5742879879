#pragma once
// Turns the presenter's script file (plain text, Markdown, Fountain, RTF or PDF) into text.
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrane::ScriptLoader {

// Lower-case extensions taken as scripts when a file is dropped or chosen.
const std::set<std::string>& scriptExtensions();

// Larger files are refused as unreadable: no script is anywhere near this size, and reading one
// whole would only waste memory.
inline constexpr std::uintmax_t kMaxScriptBytes = 16u * 1024u * 1024u;

class ScriptError : public std::runtime_error {
public:
    enum class Kind { unreadable, noText };

    static ScriptError unreadable(const std::string& fileName) {
        return {Kind::unreadable, fileName, "Couldn't read the script file " + fileName};
    }
    static ScriptError noText(const std::string& fileName) {
        return {Kind::noText, fileName,
                "No text found in " + fileName + " — if it's a scanned PDF, export the text and retry"};
    }

    Kind kind() const { return kind_; }
    const std::string& fileName() const { return fileName_; }

private:
    ScriptError(Kind kind, std::string fileName, const std::string& message)
        : std::runtime_error(message), kind_(kind), fileName_(std::move(fileName)) {}
    Kind kind_;
    std::string fileName_;
};

// The script's text as read, untrimmed. Throws ScriptError.
std::string load(const std::string& url);

// Bytes as UTF-8, each ill-formed sequence replaced by one U+FFFD.
std::string decodeUTF8Lossy(const std::string& bytes);

}  // namespace kestrane::ScriptLoader
