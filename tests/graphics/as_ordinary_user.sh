#!/bin/sh
# Runs a test program as a throwaway ordinary account, as a user without root runs the
# renderer: a fresh home holding a copy of the invoking user's renderer toolchain (Node in
# ~/.npm-global, the npx cache in ~/.npm, ~/.npmrc) and of the test program itself (the build
# folder may sit where that account cannot reach, under a mode-700 /root for one), another user
# id, no groups. Run by an ordinary account already, it runs the program as it is. Exits 77
# (skipped) when there is no toolchain to copy.
set -eu
if [ "$(id -u)" != 0 ]; then exec "$@"; fi
from="${HOME:-/root}"
if [ ! -x "$from/.npm-global/bin/npx" ] || [ ! -d "$from/.npm/_npx" ] || [ ! -x /usr/bin/chromium ]; then
  echo "the renderer's toolchain is not installed (scripts/setup-graphics.sh)"
  exit 77
fi
# An id no account uses; the program never needs a name for it.
uid=64000
while getent passwd "$uid" >/dev/null 2>&1; do uid=$((uid + 1)); done
home=$(mktemp -d /tmp/kestrane-user-XXXXXX)
trap 'rm -rf "$home"' EXIT INT TERM
# A render running beside this one makes and removes lock files in the npx cache while it is
# copied: a copy that meets a vanished file is tried again.
tries=0
until cp -a "$from/.npm-global" "$from/.npm" "$home/" 2>"$home/copy-errors"; do
  tries=$((tries + 1))
  if [ "$tries" -ge 5 ]; then cat "$home/copy-errors" >&2; exit 1; fi
  rm -rf "$home/.npm-global" "$home/.npm"
  sleep 1
done
rm -f "$home/copy-errors"
if [ -f "$from/.npmrc" ]; then cp "$from/.npmrc" "$home/"; fi
program="$1"
shift
mkdir "$home/bin"
cp "$program" "$home/bin/"
program="$home/bin/$(basename "$program")"
chown -R "$uid:$uid" "$home"
chmod 700 "$home"
cd "$home"
status=0
setpriv --reuid="$uid" --regid="$uid" --clear-groups --inh-caps=-all \
  env HOME="$home" TMPDIR=/tmp "$program" "$@" || status=$?
exit "$status"
