#!/usr/bin/env bash
# Configures and builds Kestrane into build/ with every core. KESTRANE_BUILD_DIR names another
# folder; KESTRANE_CMAKE_OPTIONS adds configure options (for example -DKESTRANE_WERROR=ON),
# applied again on every run that gives them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTRANE_BUILD_DIR:-$root/build}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
read -r -a options <<< "${KESTRANE_CMAKE_OPTIONS:-}"
if [ ! -f "$build/CMakeCache.txt" ] || [ ${#options[@]} -gt 0 ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
fi
cmake --build "$build" --parallel "$(nproc)" "$@"
