#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, checks that every C++ file is laid out as .clang-format
# says, builds everything in Release with warnings as errors and runs every test; then runs the
# tests once more under AddressSanitizer and UndefinedBehaviorSanitizer (a clang build without
# the benchmarks, which also holds the fuzz targets) and fuzzes the file readers for a short while.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

# The checks against the real claude tool and the real renderer skip themselves when their tool
# is missing; a test run that silently skips them proves nothing, so a missing tool fails here
# unless KESTRANE_ALLOW_MISSING_TOOLS=1 says that is expected (a machine without the npm
# registry, for one).
missing=()
"${KESTRANE_BUILD_DIR:-$root/build}/claude-code/bin/claude" --version >/dev/null 2>&1 ||
  missing+=("the claude tool")
node22="$HOME/.npm-global/bin/node"
if ! "$node22" --version 2>/dev/null | grep -q '^v22\.' || [ ! -x "$HOME/.npm-global/bin/npx" ] ||
  [ ! -f "$HOME/.npm-global/lib/node_modules/gsap/dist/gsap.min.js" ] || [ ! -x /usr/bin/chromium ] ||
  ! compgen -G "$HOME/.npm/_npx/*/node_modules/hyperframes/package.json" >/dev/null; then
  missing+=("the motion-graphics renderer's toolchain")
fi
if [ ${#missing[@]} -gt 0 ]; then
  for m in "${missing[@]}"; do echo "Set-up could not install $m."; done
  if [ "${KESTRANE_ALLOW_MISSING_TOOLS:-0}" != 1 ]; then
    echo "Their checks would only be skipped; set KESTRANE_ALLOW_MISSING_TOOLS=1 to test without them." >&2
    exit 1
  fi
  echo "KESTRANE_ALLOW_MISSING_TOOLS=1: their checks will be reported as skipped."
fi

# The tests validate the timelines they write against the FCPXML DTD that KESTRANE_FCPXML_DTD
# names (tests/FcpxmlDtd.hpp). The project can't include it; without a copy those checks are
# skipped, and the run says so at its very end.
if [ -n "${KESTRANE_FCPXML_DTD:-}" ]; then
  if [ ! -f "$KESTRANE_FCPXML_DTD" ]; then
    echo "KESTRANE_FCPXML_DTD names $KESTRANE_FCPXML_DTD, which is not a file." >&2
    exit 1
  fi
  # Each test program runs in a temporary folder of its own, so the path has to be absolute.
  KESTRANE_FCPXML_DTD="$(realpath "$KESTRANE_FCPXML_DTD")"
  export KESTRANE_FCPXML_DTD
else
  dtd_note() {
    echo
    echo "The timelines the tests wrote were not checked against the FCPXML DTD: KESTRANE_FCPXML_DTD named no copy"
    echo "(the project can't include it). Every other check on them ran. To check them against it too,"
    echo "point the tests at a copy:  KESTRANE_FCPXML_DTD=/path/to/FCPXMLv1_13.dtd scripts/test.sh"
  }
  trap dtd_note EXIT
fi

# Before the long builds, so a misformatted file fails the run at once.
"$root/scripts/check-format.sh"

# Release: the optimiser's extra analysis finds warnings a RelWithDebInfo build does not.
KESTRANE_CMAKE_OPTIONS="-DKESTRANE_WERROR=ON -DCMAKE_BUILD_TYPE=Release" "$root/scripts/build.sh"
build="${KESTRANE_BUILD_DIR:-$root/build}"
(cd "$build" &&
  ctest --output-on-failure --parallel "$(nproc)" --timeout 900)

sanitized="${KESTRANE_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
CC=clang CXX=clang++ KESTRANE_BUILD_DIR="$sanitized" \
  KESTRANE_CMAKE_OPTIONS="-DKESTRANE_SANITIZE=ON -DKESTRANE_FUZZ=ON -DKESTRANE_BUILD_BENCH=OFF \
-DKESTRANE_REAL_CLAUDE=$build/claude-code/bin/claude" \
  "$root/scripts/build.sh"
(cd "$sanitized" && ctest --output-on-failure --parallel "$(nproc)" --timeout 900)
"$root/scripts/fuzz.sh" "$sanitized" "${KESTRANE_FUZZ_SECONDS:-20}"
