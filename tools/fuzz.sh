#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer and AddressSanitizer into
# build/fuzz and runs each for a bounded time on its seed corpus (tests/fuzz/corpus/<target>).
# The platform-neutral code the targets use is compiled once into build/fuzz/obj (recompiled
# only when a source is newer than its object). New inputs a run finds go to
# build/fuzz/<target>-found; a crash leaves its input in build/fuzz and makes this script fail.
# Usage: tools/fuzz.sh [seconds per target, default 10]
# Prints one line per target, "fuzz <target>: no crash" or "fuzz <target>: FAILED".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
out="$root/build/fuzz"
obj="$out/obj"
mkdir -p "$obj"
cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -fno-omit-frame-pointer -I"$root"
       $(pkg-config --cflags libxml-2.0 nettle))
libs=($(pkg-config --libs libxml-2.0 nettle))

# The platform-neutral and native sources of the folders the targets use.
sources=()
for folder in xml sys logs package uninstlog; do
  for src in "$root/$folder"/*.cpp; do
    case "$src" in *_win.cpp) continue ;; esac
    sources+=("$src")
  done
done

echo "== fuzz: compiling ${#sources[@]} sources"
objects=()
pids=()
for src in "${sources[@]}"; do
  rel=${src#"$root"/}
  o="$obj/${rel//\//_}.o"
  objects+=("$o")
  if [ ! -f "$o" ] || [ "$src" -nt "$o" ] || [ -n "$(find "$root" -name '*.h' -newer "$o" -not -path "$root/build/*" -print -quit)" ]; then
    "$cxx" "${flags[@]}" -c "$src" -o "$o" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$(nproc)" ]; then wait "${pids[0]}" || exit 1; pids=("${pids[@]:1}"); fi
  fi
done
for p in "${pids[@]}"; do wait "$p" || exit 1; done

status=0
for src in "$root"/tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus_name=${name%_fuzz}
  if ! "$cxx" "${flags[@]}" -fsanitize=fuzzer "$src" "${objects[@]}" "${libs[@]}" -o "$out/$name"; then
    echo "fuzz $name: FAILED (does not build)"
    status=1
    continue
  fi
  found="$out/$corpus_name-found"
  mkdir -p "$found"
  if ! "$out/$name" "$found" "$root/tests/fuzz/corpus/$corpus_name" \
       -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$out/$name-" -print_final_stats=1 2>"$out/$name.log"; then
    tail -40 "$out/$name.log"
    echo "fuzz $name: FAILED (input saved as $out/$name-*)"
    status=1
  else
    runs=$(grep -E "^stat::number_of_executed_units" "$out/$name.log" | awk '{print $2}')
    echo "fuzz $name: no crash (${runs:-?} inputs in ${seconds}s)"
  fi
done
exit $status
