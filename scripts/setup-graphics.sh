#!/usr/bin/env bash
# The motion-graphics renderer's toolchain, for the user who runs Kestrane: Node 22 and npm in
# ~/.npm-global (the system Node stays as it is), the pinned HyperFrames package ready in npx's
# cache, npm set to prefer that cache, and GSAP beside them. Renders never download anything;
# this is the one step that does, from the npm registry only. Safe to run again.
#
# Works from whatever npm the machine has, down to Debian 12's own (npm 9.2 on Node 18): that
# npm only installs Node 22, which any npm can do; npm 11 is then installed by npm 11 itself,
# running on Node 22, so no npm ever has to install a release too new for the Node under it.
set -euo pipefail
prefix="$HOME/.npm-global"
renderer_package="hyperframes@0.7.71"
node_package="node@22"
npm_package="npm@11"
quiet=(--no-audit --no-fund --no-update-notifier --loglevel=error)

if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 nodejs npm
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! "$prefix/bin/node" --version 2>/dev/null | grep -q '^v22\.'; then
  echo "Installing Node 22 for the graphics renderer into $prefix"
  (cd "$work" && npm install -g --prefix "$prefix" "${quiet[@]}" "$node_package")
fi
"$prefix/bin/node" --version | grep -q '^v22\.' || {
  echo "Node 22 did not install into $prefix" >&2
  exit 1
}

if ! "$prefix/bin/npm" --version 2>/dev/null | grep -q '^11\.'; then
  # npm ships as one self-contained package: unpack it and let it install itself under Node 22.
  (cd "$work" && npm pack --silent "$npm_package" >/dev/null)
  tar -xzf "$work"/npm-*.tgz -C "$work"
  (cd "$work" && PATH="$prefix/bin:$PATH" "$prefix/bin/node" "$work/package/bin/npm-cli.js" \
    install -g --prefix "$prefix" "${quiet[@]}" "$npm_package")
fi
npm22=("$prefix/bin/node" "$prefix/bin/npm")
"${npm22[@]}" --version | grep -q '^11\.' || {
  echo "npm 11 did not install into $prefix" >&2
  exit 1
}

# Renders look in npm's cache first and never wait on the registry.
touch "$HOME/.npmrc"
grep -qx 'prefer-offline=true' "$HOME/.npmrc" || echo 'prefer-offline=true' >> "$HOME/.npmrc"

if [ ! -f "$prefix/lib/node_modules/gsap/dist/gsap.min.js" ]; then
  (cd "$work" && PATH="$prefix/bin:$PATH" "${npm22[@]}" install -g --prefix "$prefix" "${quiet[@]}" gsap@3.14.2)
fi

# The npx cache is keyed by the exact package text. An empty folder, so no package.json above
# it satisfies the package instead; the CUDA download of a dependency is skipped (renders
# never use it and it is not on the npm registry).
mkdir -p "$work/warm"
(cd "$work/warm" && ONNXRUNTIME_NODE_INSTALL=skip PATH="$prefix/bin:$PATH" \
  "$prefix/bin/npx" --yes "$renderer_package" --help >/dev/null)
