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
  updated=1
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

# npm comes before everything that needs it: the renderer's toolchain and the claude tool are
# both installed through it. Debian's own npm is enough; a machine that already has an npm
# (NodeSource's Node carries its own, and refuses Debian's beside it) keeps it.
if ! command -v npm >/dev/null 2>&1; then
  echo "Installing npm (the renderer's toolchain and the claude tool come from the npm registry)"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  { [ -n "${updated:-}" ] || $sudo_cmd apt-get update; } &&
    $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 nodejs npm ||
    echo "Couldn't install npm; the motion-graphics renderer and the claude tool need it."
fi

"$here/setup-graphics.sh" ||
  echo "Couldn't install the motion-graphics renderer; graphics renders and their check will be skipped."

# The vendor's claude tool, pinned, under the build folder: only the check of the AI tier
# against a loopback fake uses it (Kestrane never looks for it there). It wants Node 22, so
# the renderer's npm installs it when there is one.
claude_prefix="${KESTRANE_BUILD_DIR:-$here/../build}/claude-code"
npm_cmd=(npm)
if "$HOME/.npm-global/bin/node" --version 2>/dev/null | grep -q '^v22\.' &&
  [ -e "$HOME/.npm-global/bin/npm" ]; then
  npm_cmd=("$HOME/.npm-global/bin/node" "$HOME/.npm-global/bin/npm")
fi
if [ ! -x "$claude_prefix/bin/claude" ] && { [ ${#npm_cmd[@]} -gt 1 ] || command -v npm >/dev/null; }; then
  PATH="$HOME/.npm-global/bin:$PATH" "${npm_cmd[@]}" install -g --prefix "$claude_prefix" \
    --no-fund --no-audit --loglevel=error @anthropic-ai/claude-code@2.1.332 ||
    echo "Couldn't install the claude tool; the check against it will be skipped."
fi
