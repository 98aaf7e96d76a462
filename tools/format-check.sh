#!/usr/bin/env bash
# Checks that every C++ source of the tree (*.h, *.cpp; the tracked files of a git checkout,
# else every one outside build/) follows .clang-format: fails naming the files and the first
# places that differ. With --fix it rewrites them instead (the whole-tree reformat).
# Usage: tools/format-check.sh [--fix]        (ctest runs it as the test format_check)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 2
format=${CLANG_FORMAT:-clang-format}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.h' '*.cpp')
else
  mapfile -t files < <(find . -path ./build -prune -o \( -name '*.h' -o -name '*.cpp' \) -type f -print)
fi
[ ${#files[@]} -gt 0 ] || { echo "format: no sources found under $root" >&2; exit 2; }
if [ "${1:-}" = --fix ]; then
  exec "$format" -i --style=file "${files[@]}"
fi
if "$format" --dry-run -Werror --ferror-limit=3 --style=file "${files[@]}"; then
  echo "format: ${#files[@]} sources follow .clang-format"
else
  echo "format: sources above do not follow .clang-format (tools/format-check.sh --fix rewrites them)"
  exit 1
fi
