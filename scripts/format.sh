#!/usr/bin/env bash
# Rewrites every C++ file in place to the layout in .clang-format (see scripts/cxx-files.sh for
# which files). CLANG_FORMAT names another binary; the layout is tuned for Debian 12's
# clang-format 14, and other versions lay some lines out differently.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/cxx-files.sh" | xargs -0 -r -n 50 -P "$(nproc)" "${CLANG_FORMAT:-clang-format}" -i --style=file
