#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Kestrane and runs the main job: cutting the bundled
# sample recording (fixtures/sample-presenter.mp4, with its script) into a handoff package in
# out/. Each run makes a new package beside the earlier ones; none is overwritten.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" --target kestrane_cli
kestrane="${KESTRANE_BUILD_DIR:-$root/build}/src/cli/kestrane"
log="$(mktemp "${TMPDIR:-/tmp}/kestrane-run-XXXXXX")"
trap 'rm -f "$log"' EXIT

"$kestrane" cut "$root/fixtures/sample-presenter.mp4" \
  --script "$root/fixtures/sample-script.txt" --out "$root/out" | tee "$log"

package="$(sed -n 's/^Package: //p' "$log" | tail -n 1)"
echo
echo "The sample's package is at: $package"
ls -1 "$package" | sed 's/^/  /'
