#!/usr/bin/env bash
# Runs each fuzz target of a KESTRANE_FUZZ build for a while over its corpus in tests/fuzz.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]. New inputs go to a scratch folder, never into
# the corpus; a crash leaves its input there and fails the run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$1"
seconds="${2:-20}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kestrane-fuzz-XXXXXX")"
export LSAN_OPTIONS="suppressions=$root/tests/sanitize/lsan.supp"
status=0
pids=()
names=(SessionReader RtfReader ScriptLoader VerdictParse ResourceGate MediaReader)
corpora=(session rtf script verdict gate media)
for i in "${!names[@]}"; do
  mkdir -p "$work/${corpora[$i]}"
  TMPDIR="$work" "$build/tests/fuzz/fuzz_${names[$i]}" -max_total_time="$seconds" -timeout=10 \
    -max_len=65536 -rss_limit_mb=2048 -artifact_prefix="$work/${names[$i]}-" -print_final_stats=1 \
    "$work/${corpora[$i]}" "$root/tests/fuzz/corpus/${corpora[$i]}" \
    > "$work/${names[$i]}.log" 2>&1 &
  pids+=($!)
done
for i in "${!names[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz_${names[$i]}: $(grep -m1 'stat::number_of_executed_units' "$work/${names[$i]}.log" | awk '{print $2}') runs, no failure"
  else
    status=1
    echo "fuzz_${names[$i]} failed; its input and log are in $work:"
    tail -40 "$work/${names[$i]}.log"
  fi
done
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
