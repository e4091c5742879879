#!/bin/sh
# Stands in for the vendor's `claude` tool as the graphics tier uses it: the visual-ideas
# request gets a one-entry ideas document anchored on a line of the bundled sample, and every
# composition request a clean composition, or the file $FAKE_AUTHOR_COMPOSITION when that is
# set. Each prompt is kept in $FAKE_AUTHOR_LOG (a folder).
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
elif [ -n "${FAKE_AUTHOR_COMPOSITION:-}" ]; then
  cat "$FAKE_AUTHOR_COMPOSITION"
else
  # A composition the real toolchain renders too: a panel sliding in over a clear canvas.
  cat <<'HTML'
<!doctype html>
<html><head><meta charset="utf-8">
<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>
<style>
  #root { position: relative; width: 1920px; height: 1080px; overflow: hidden; }
  .panel { position: absolute; left: 160px; top: 640px; width: 720px; height: 180px;
           border-radius: 24px; background: #102040; }
</style></head>
<body>
<div id="root" data-composition-id="main" data-start="0" data-width="1920" data-height="1080" data-duration="1.6">
  <div class="clip" data-start="0" data-duration="1.6" data-track-index="0">
    <div class="panel" id="panel"></div>
  </div>
</div>
<script>
  window.__timelines = window.__timelines || {};
  const tl = gsap.timeline({ paused: true });
  tl.from("#panel", { x: -600, duration: 1.2, ease: "power2.out" }, 0);
  window.__timelines["main"] = tl;
</script>
</body></html>
HTML
fi
