#!/usr/bin/env bash
# Fails, naming the files, when any C++ file differs from the layout in .clang-format. Same
# files and the same CLANG_FORMAT as scripts/format.sh, which fixes what this reports.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
clang_format="${CLANG_FORMAT:-clang-format}"
if ! command -v "$clang_format" >/dev/null; then
  echo "check-format: $clang_format is not installed (scripts/setup.sh installs it)" >&2
  exit 2
fi
# A broken .clang-format would otherwise show up as every file differing.
if ! "$clang_format" --dump-config --style=file --assume-filename=src/x.cpp >/dev/null; then
  echo "check-format: clang-format cannot read .clang-format" >&2
  exit 2
fi
mapfile -d '' files < <("$root/scripts/cxx-files.sh")
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ files found" >&2
  exit 2
fi
mapfile -t differ < <(printf '%s\0' "${files[@]}" |
  xargs -0 -r -n 1 -P "$(nproc)" sh -c \
    '"$0" --dry-run -Werror --style=file "$1" >/dev/null 2>&1 || printf "%s\n" "$1"' "$clang_format" |
  sort)
if [ ${#differ[@]} -gt 0 ]; then
  echo "check-format: ${#differ[@]} of ${#files[@]} C++ files are not laid out as .clang-format says:" >&2
  printf '  %s\n' "${differ[@]}" >&2
  echo "Run scripts/format.sh to lay them out (then review and commit the result)." >&2
  exit 1
fi
echo "check-format: all ${#files[@]} C++ files match .clang-format"
