#!/usr/bin/env bash
# Lists, NUL-separated and relative to the checkout, every C++ file the layout in .clang-format
# covers: sources, tests, benchmarks and fixtures. In a git checkout that is the tracked files
# plus new ones not yet added (so build folders and ignored files stay out); elsewhere, whatever
# those folders hold.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
folders=(src tests bench fixtures)
pattern='\.(cpp|cc|cxx|hpp|hh|h|ipp|inl)$'
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard -- "${folders[@]}" |
    grep -zE "$pattern" | sort -zu |
    while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done
else
  find "${folders[@]}" -type f -regextype posix-extended -regex ".*$pattern" -print0 2>/dev/null |
    sort -z
fi
