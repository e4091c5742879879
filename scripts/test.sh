#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, checks that every C++ file is laid out as .clang-format
# says, builds everything in Release with warnings as errors and runs every test; then runs the
# tests once more under AddressSanitizer and UndefinedBehaviorSanitizer (a clang build without
# the benchmarks, which also holds the fuzz targets) and fuzzes the file readers for a short while.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

# Before the long builds, so a misformatted file fails the run at once.
"$root/scripts/check-format.sh"

# Release: the optimiser's extra analysis finds warnings a RelWithDebInfo build does not.
KESTRANE_CMAKE_OPTIONS="-DKESTRANE_WERROR=ON -DCMAKE_BUILD_TYPE=Release" "$root/scripts/build.sh"
(cd "${KESTRANE_BUILD_DIR:-$root/build}" &&
  ctest --output-on-failure --parallel "$(nproc)" --timeout 900)

sanitized="${KESTRANE_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
CC=clang CXX=clang++ KESTRANE_BUILD_DIR="$sanitized" \
  KESTRANE_CMAKE_OPTIONS="-DKESTRANE_SANITIZE=ON -DKESTRANE_FUZZ=ON -DKESTRANE_BUILD_BENCH=OFF" \
  "$root/scripts/build.sh"
(cd "$sanitized" && ctest --output-on-failure --parallel "$(nproc)" --timeout 900)
"$root/scripts/fuzz.sh" "$sanitized" "${KESTRANE_FUZZ_SECONDS:-20}"
