#!/usr/bin/env bash
# The motion-graphics renderer's toolchain, for the user who runs Kestrane: Node 22 and npm in
# ~/.npm-global (the system Node stays as it is), the pinned HyperFrames package ready in npx's
# cache, npm set to prefer that cache, and GSAP beside them. Renders never download anything;
# this is the one step that does, from the npm registry only. Safe to run again.
set -euo pipefail
prefix="$HOME/.npm-global"
renderer_package="hyperframes@0.7.71"

if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 npm
fi

if ! "$prefix/bin/node" --version 2>/dev/null | grep -q '^v22\.'; then
  echo "Installing Node 22 for the graphics renderer into $prefix"
  npm install -g --prefix "$prefix" --no-audit --no-fund node@22 npm@11
fi

# Renders look in npm's cache first and never wait on the registry.
touch "$HOME/.npmrc"
grep -qx 'prefer-offline=true' "$HOME/.npmrc" || echo 'prefer-offline=true' >> "$HOME/.npmrc"

if [ ! -f "$prefix/lib/node_modules/gsap/dist/gsap.min.js" ]; then
  "$prefix/bin/npm" install -g --prefix "$prefix" --no-audit --no-fund gsap@3.14.2
fi

# The npx cache is keyed by the exact package text. An empty folder, so no package.json above
# it satisfies the package instead; the CUDA download of a dependency is skipped (renders
# never use it and it is not on the npm registry).
warm="$(mktemp -d)"
trap 'rm -rf "$warm"' EXIT
(cd "$warm" && ONNXRUNTIME_NODE_INSTALL=skip PATH="$prefix/bin:$PATH" \
  "$prefix/bin/npx" --yes "$renderer_package" --help >/dev/null)
