#!/bin/sh
# Stands in for npx running the HyperFrames toolchain. Logs its arguments, folder and
# environment to $FAKE_NPX_LOG; "check" fails with findings; "snapshot" copies the PNGs of
# $FAKE_NPX_FRAMES into the folder after -o. FAKE_NPX_MODE=hang ignores SIGTERM and leaves a
# grandchild holding its output; FAKE_NPX_MODE=silent-fail exits 1 saying nothing;
# FAKE_NPX_KILL=PID ends that process outright once "snapshot" has written its frames (the
# FAKE_NPX_KILL_AT-th snapshot, counting from 1). The renderer hands the toolchain only an
# allow-listed environment, so these settings come from the file $HOME/.fake-npx when it exists.
# FAKE_NPX_RUN_PAGE=1 runs the page's inline scripts with node first, as the browser would, for
# at most 3 s: whatever they reach, they reach.
[ -f "$HOME/.fake-npx" ] && . "$HOME/.fake-npx"
{
  echo "argv: $*"
  echo "cwd: $(pwd)"
  env | sort | sed 's/^/env: /'
} >> "$FAKE_NPX_LOG"
case "${FAKE_NPX_MODE:-}" in
  hang) trap '' TERM; sleep 60 & sleep 60; exit 0 ;;
  silent-fail) exit 1 ;;
esac
case "$3" in
  check)
    printf '\033[1mErrors\033[0m\n  \342\234\227 2 errors in index.html\n0 errors, 0 warnings\n'
    exit 1 ;;
  snapshot)
    out=""
    times=""
    while [ $# -gt 0 ]; do
      [ "$1" = "-o" ] && out="$2"
      [ "$1" = "--at" ] && times="$2"
      shift
    done
    mkdir -p "$out"
    if [ "${FAKE_NPX_RUN_PAGE:-}" = 1 ]; then
      timeout 10 node -e '
        const page = require("fs").readFileSync("index.html", "utf8");
        globalThis.window = globalThis;
        process.on("unhandledRejection", () => {});
        for (const m of page.matchAll(/<script>([\s\S]*?)<\/script>/g)) {
          try { (0, eval)(m[1]); } catch (e) {}
        }
        setTimeout(() => process.exit(0), 3000);'
    fi
    n=0
    for f in "$FAKE_NPX_FRAMES"/*.png; do
      cp "$f" "$out/frame-$n-at-x.png"; n=$((n + 1))
    done
    # FAKE_NPX_FILL=1: one frame for every time asked for, the given ones over and over.
    if [ "${FAKE_NPX_FILL:-}" = 1 ]; then
      wanted=$(printf '%s' "$times" | tr ',' '\n' | grep -c .)
      i=0
      while [ "$n" -lt "$wanted" ]; do
        cp "$out/frame-$i-at-x.png" "$out/frame-$n-at-x.png"; n=$((n + 1)); i=$((i + 1))
      done
    fi
    echo "contact" > "$out/contact-sheet-1.jpg"
    if [ -n "${FAKE_NPX_KILL:-}" ] && [ "$(grep -c ' snapshot ' "$FAKE_NPX_LOG")" -ge "${FAKE_NPX_KILL_AT:-1}" ]; then
      kill -KILL "$FAKE_NPX_KILL"
    fi
    exit 0 ;;
esac
exit 2
