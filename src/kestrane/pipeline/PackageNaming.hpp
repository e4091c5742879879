#pragma once
// How a job names its project and its package folder, and how it shows elapsed time.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kestrane::Pipeline {

// Whitespace and newlines trimmed from both ends.
std::string trimmed(const std::string& text);
// The trimmed text, or nothing when it is blank.
std::optional<std::string> trimmedOrAbsent(const std::optional<std::string>& text);

// The footage file's name without its last extension, as UTF-8 (U+FFFD for bytes that are not).
std::string sourceStem(const std::filesystem::path& source);

// The trimmed name, or the footage's stem when the name is absent or blank.
std::string resolvedProjectName(const std::optional<std::string>& name, const std::filesystem::path& source);

// The project name made usable as one path component: "/", NUL and control characters
// become "-", and the result is cut (on a character boundary) to leave room for
// `reservedBytes` more bytes within `nameMax`.
std::string safeFolderName(const std::string& projectName, std::size_t reservedBytes = 0, std::size_t nameMax = 255);

// "<name> Kestrane.kestrane" for ordinal 1, "<name> Kestrane <n>.kestrane" after that.
std::string packageFolderName(const std::string& projectName, int ordinal = 1, std::size_t nameMax = 255);

// Creates the first free package folder for the project inside `parent` (made with its
// parents when missing) and returns it. The folder is claimed with one mkdir, so neither an
// earlier package nor a concurrent job's package is ever written into.
// `takeTaken`, when given, is asked about each name found taken, in order, and the folder is
// used when it says yes (a folder a stopped run left holding nothing of use).
// Throws PipelineError when `parent` cannot hold a new folder.
std::filesystem::path reservePackageDir(const std::filesystem::path& parent, const std::string& projectName,
                                        const std::function<bool(const std::filesystem::path&)>& takeTaken = {});

// Where a re-cut of the session at `sessionPath` writes: the session's own folder, unless a
// different project name asks for a sibling folder of that name.
std::filesystem::path recutPackageDir(const std::filesystem::path& sessionPath,
                                      const std::optional<std::string>& projectName);

// "59s", "1m 0s", "1h 2m 5s".
std::string elapsedString(double seconds);

}  // namespace kestrane::Pipeline
