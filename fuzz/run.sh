#!/usr/bin/env bash
# Builds one libFuzzer target with clang (address and undefined-behaviour checks on) from the
# few sources it needs, then fuzzes it for a short while.
# Usage: fuzz/run.sh NAME SECONDS OUT_DIR SOURCE...
set -euo pipefail
name="$1" seconds="$2" out="$3"
shift 3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "$out/corpus-$name"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "$root/fuzz/$name.cpp" "${@/#/$root/}" -lfmt -lutf8proc -o "$out/$name"
cp -n "$root"/fuzz/seeds/"$name"/* "$out/corpus-$name/" 2>/dev/null || true
"$out/$name" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  "$out/corpus-$name" 2>&1 | tail -n 5
