#!/usr/bin/env bash
# Times brindle-pack make and check on packages with many files in one folder.
# Usage: tests/bench/pack_bench.sh [BRINDLE_PACK] [COUNT...]
#   BRINDLE_PACK  the tool to time (default build/native/bin/brindle-pack)
#   COUNT         files in the one folder (default: 2000 20000)
# OLD holds COUNT files; NEW changes all of them, drops one in a hundred and adds one in a
# hundred, so the package stores about COUNT files and updates, deletes and adds.
# The packages are extracted into TMPDIR: on a disk, creating the files there takes most of
# check's time (TMPDIR=/dev/shm shows the tool's own). Prints seconds and peak memory per run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tool=${1:-$root/build/native/bin/brindle-pack}
shift || true
counts=("$@"); [ ${#counts[@]} -eq 0 ] && counts=(2000 20000)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# ASan's leak check at exit and its quarantine cost time that the tool itself does not.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
timed() {  # label command...
  local start end rc
  start=$(date +%s.%N)
  set +e; /usr/bin/time -f "%M" -o "$work/mem" "$@" >"$work/out" 2>"$work/err"; rc=$?; set -e
  end=$(date +%s.%N)
  printf '%-8s %6d files  %7.2f s  %7d KiB peak  exit %d\n' "$label" "$n" \
    "$(echo "$end - $start" | bc)" "$(tail -1 "$work/mem")" "$rc"
  [ "$rc" -eq 0 ] || { tail -5 "$work/err"; return 1; }
}
for n in "${counts[@]}"; do
  mkdir -p "$work/znq/INSTALL/COMMON" "$work/znq/INSTALL/ENGLISH"
  for f in setup.dll Uninst.exe; do echo x > "$work/znq/INSTALL/COMMON/$f"; done
  echo 1.0 > "$work/znq/INSTALL/COMMON/UninsVer.txt"; echo x > "$work/znq/INSTALL/ENGLISH/UninstRsc.dll"
  rm -rf "$work/old" "$work/new" "$work/out.d"; mkdir -p "$work/old/bin" "$work/new/bin" "$work/out.d"
  (cd "$work/old/bin" && for ((i = 0; i < n; i++)); do printf 'file %d\n' "$i" > "f$i.dat"; done)
  (cd "$work/new/bin" && for ((i = 0; i < n; i++)); do printf 'file %d changed\n' "$i" > "f$i.dat"; done
   for ((i = 5; i < n; i += 100)); do rm -f "f$i.dat"; printf 'added %d\n' "$i" > "n$i.dat"; done)
  label=make timed "$tool" make "$work/old" "$work/new" -o "$work/out.d/app.DIFF" --version 2.0.0.0 -q --znq "$work/znq"
  label=check timed "$tool" check "$work/out.d/app.DIFF" -q --znq "$work/znq"
done
