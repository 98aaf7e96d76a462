#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer and AddressSanitizer into
# build/fuzz and runs each for a bounded time on its corpus (tests/fuzz/corpus/<target>).
# New inputs it finds go to build/fuzz/<target>-found; a crash leaves its input in build/fuzz and
# makes this script fail. Usage: tools/fuzz.sh [seconds per target, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$root/build/fuzz"
mkdir -p "$out"
cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer -I"$root")

# Sources a target needs, besides its own file.
declare -A deps
deps[uninstlog_fuzz]="uninstlog/ini_file.cpp uninstlog/ini_file_native.cpp uninstlog/profile.cpp
  uninstlog/profile_stream.cpp sys/file_stream_native.cpp logs/ansi_text_native.cpp sys/text.cpp sys/text_native.cpp
  sys/paths.cpp sys/paths_native.cpp"

status=0
for src in "$root"/tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus_name=${name%_fuzz}
  sources=()
  for d in ${deps[$name]:-}; do sources+=("$root/$d"); done
  echo "== fuzz $name: build"
  "$cxx" "${flags[@]}" "$src" "${sources[@]}" -o "$out/$name"
  found="$out/$corpus_name-found"
  mkdir -p "$found"
  echo "== fuzz $name: ${seconds}s on tests/fuzz/corpus/$corpus_name"
  if ! "$out/$name" "$found" "$root/tests/fuzz/corpus/$corpus_name" \
       -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$out/$name-" -print_final_stats=1 2>"$out/$name.log"; then
    tail -40 "$out/$name.log"
    echo "fuzz $name: FAILED (input saved as $out/$name-*)"
    status=1
  else
    grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$out/$name.log" || true
    echo "fuzz $name: no crash"
  fi
done
exit $status
