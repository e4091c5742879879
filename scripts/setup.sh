#!/usr/bin/env bash
# Installs whatever is missing from scripts/packages.txt. Safe to run again.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$here/packages.txt")
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${#missing[@]} packages (a first set-up takes a few minutes): ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # apt's own progress stays visible: a quiet install looks like a hang for minutes.
  $sudo_cmd apt-get update
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

# The vendor's claude tool, pinned, under the build folder: only the check of the AI tier
# against a loopback fake uses it (Kestrane never looks for it there). Without npm or the
# registry that check is skipped.
claude_prefix="${KESTRANE_BUILD_DIR:-$here/../build}/claude-code"
if command -v npm >/dev/null && [ ! -x "$claude_prefix/bin/claude" ]; then
  npm install -g --prefix "$claude_prefix" --no-fund --no-audit --loglevel=error \
    @anthropic-ai/claude-code@2.1.332 ||
    echo "Couldn't install the claude tool; the check against it will be skipped."
fi

"$here/setup-graphics.sh" ||
  echo "Couldn't install the motion-graphics renderer; graphics renders and their check will be skipped."
