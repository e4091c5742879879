#!/bin/sh
# Stands in for the vendor's `claude` tool as the graphics tier uses it: the visual-ideas
# request gets a one-entry ideas document anchored on a line of the bundled sample, and every
# composition request a clean composition. Each prompt is kept in $FAKE_AUTHOR_LOG (a folder).
log="${FAKE_AUTHOR_LOG:-/tmp}"
n=$(ls "$log" 2>/dev/null | grep -c '^prompt-')
cat > "$log/prompt-$n"
if grep -q 'You are the visuals producer' "$log/prompt-$n"; then
  cat <<'DOC'
# Visual Opportunities — Demo

## [00:04] Box plan
- **Type:** lower third
- **Anchor:** build a small wooden box
- **Generation prompt:** a plan of a wooden box draws itself in thin white lines
DOC
else
  printf '<!doctype html><html><body><div id="root" data-composition-id="main"></div></body></html>\n'
fi
