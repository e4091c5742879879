#pragma once
// A package a killed run's move may have left holding parts of two cuts. Once a run finds it
// can't finish that move whole, it marks the package so, and every later run that leaves the
// package as it is says so too, until a re-cut has written every file anew and taken the mark
// away with the same move. Where the run can't write the package at all, the record it can't
// finish says the same each time it is found. The mark's whole life is here: written, said and
// taken away.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "kestrane/pipeline/PackageRefusals.hpp"

namespace kestrane::Pipeline {

// The sentence said of the package in `folder` while it is marked as maybe mixed; nothing for
// any other.
std::optional<std::string> mixedPackageNote(const std::filesystem::path& folder);

// Throws PackageMayBeMixed with that sentence while the package in `folder` is marked: for a run
// that would change part of the package and leave the rest as it is.
void refuseIfMayBeMixed(const std::filesystem::path& folder);

namespace detail {

// The mark's name in the package folder.
inline constexpr std::string_view kMixedMarkName = ".kestrane.mixed";

// True while the package in `folder` is marked as maybe mixed.
bool isMarkedMayBeMixed(const std::filesystem::path& folder);

// Marks the package in `folder` as maybe mixed, before anything that may leave it so is done.
// Throws PackageUnlockable (naming `record`, which stays) when the mark can't be written.
void markMayBeMixed(const std::filesystem::path& folder, const std::filesystem::path& record);

// For a package write that writes every file of the package in `folder` anew: the mark's path,
// for the write to remove in the same move as its files, so a write killed partway leaves it for
// the run that finishes the move; nothing while the package is unmarked. Throws
// PackageMayBeMixed, before anything moves, where something no move can take away stands at the
// mark's name (a folder, a FIFO).
std::optional<std::filesystem::path> markToTakeAway(const std::filesystem::path& folder);

}  // namespace detail
}  // namespace kestrane::Pipeline
