#pragma once
// A package a killed run's move may have left holding parts of two cuts: once a run finds it
// can't finish that move whole, it marks the package so, and every later run that leaves the
// package as it is says so too, until a re-cut has written every file anew and taken the mark
// away with the same move.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::Pipeline {

// What is said, with a run's reason before it, of a package that may be mixed.
inline constexpr std::string_view kMayBeMixed =
    "the package may hold parts of two cuts, and running the re-cut again makes it whole.";

// The sentence said of the package in `folder` while it is marked as maybe mixed; nothing for
// any other.
std::optional<std::string> mixedPackageNote(const std::filesystem::path& folder);

namespace detail {

// The mark's name in the package folder.
inline constexpr std::string_view kMixedMarkName = ".kestrane.mixed";

// True while the package in `folder` is marked as maybe mixed.
bool isMarkedMayBeMixed(const std::filesystem::path& folder);

// Marks the package in `folder` as maybe mixed, before anything that may leave it so is done.
// Throws PackageUnlockable (naming `record`, which stays) when the mark can't be written.
void markMayBeMixed(const std::filesystem::path& folder, const std::filesystem::path& record);

}  // namespace detail
}  // namespace kestrane::Pipeline
