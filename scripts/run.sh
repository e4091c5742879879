#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Kestrane and runs the main job.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" --target kestrane_cli
"${KESTRANE_BUILD_DIR:-$root/build}/src/cli/kestrane" --help
