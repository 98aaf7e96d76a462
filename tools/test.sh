#!/usr/bin/env bash
# The whole test run: installs what is missing, builds win64, win32 and native, runs the native
# tests (sanitizers), then the Windows tests under Wine and Xvfb with one persistent wineserver:
# every case of the win64 build, then the end-to-end, component and COM cases again against the
# shipped 32-bit build (natively by 32-bit Wine where the kernel runs 32-bit code, else under
# qemu-i386; it says which, and reports a machine that can do neither as skipped with the
# reason), the x86 smoke test and the demo (one check: it must succeed, exit code 0).
# Ends with one summary line, "tests: N passed, M failed, S skipped", counting test cases:
# GoogleTest cases of every build (GTEST_SKIP cases as skipped), fuzz targets, the x86 smoke
# checks and the demo.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/setup.sh" || exit 1
"$root/tools/build.sh" || { echo "tests: 0 passed, 1 failed"; exit 1; }

# Counted are test cases: every GoogleTest case that ran (from the XML reports the test programs
# write into <build>/gtest-results: one per program natively, one per case under Wine) and every
# fuzz target. A case or program that fails without a report of its failure (a crash, a
# time-out) counts as one failed case, and so does a program whose cases could not be listed.
passed=0; failed=0; skipped=0
count() {  # $1 build dir, $2 ctest log
  local dir=$1 log=$2 report run skip bad name
  if ! grep -qE 'tests passed, [0-9]+ tests? failed out of' "$log"; then
    failed=$((failed + 1)); return
  fi
  for report in "$dir"/gtest-results/*.xml; do
    [ -f "$report" ] || continue
    run=$(grep -c '<testcase .*status="run" result="completed"' "$report")
    skip=$(grep -c '<testcase .*result="skipped"' "$report")
    bad=$(sed -nE 's/.*<testsuites [^>]*failures="([0-9]+)".*/\1/p' "$report" | head -1)
    passed=$((passed + run - ${bad:-0})); failed=$((failed + ${bad:-0})); skipped=$((skipped + skip))
  done
  # Cases or programs that failed with no failure in their report.
  for name in $(sed -nE '/\((Skipped|Disabled)\)/d; s/^[[:space:]]*[0-9]+ - ([^ ]+) \(.*/\1/p' "$log"); do
    report="$dir/gtest-results/$name.xml"
    [ -f "$report" ] || report="$dir/gtest-results/test_$name.xml"
    if [ ! -f "$report" ] || grep -qE '<testsuites [^>]*failures="0"' "$report"; then
      failed=$((failed + 1))
    fi
  done
  failed=$((failed + $(grep -c 'Error running test executable' "$log")))
}
# Each native test program writes its report there (relative to the build dir, where ctest
# starts it); each Windows case is told its own report's name.
export GTEST_OUTPUT=xml:gtest-results/
rm -rf build/native/gtest-results build/win64/gtest-results build/win32/gtest-results

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 2>&1 | tee build/native-ctest.log
count build/native build/native-ctest.log
# The format check (tools/format-check.sh) and the Wine runner's check are ctest tests of their
# own, not GoogleTest programs: one case each when it passes (when it fails, count has found it
# without a report).
for check in format_check wine_start_check; do
  grep -qE "Test +#[0-9]+: $check \.+ +Passed" build/native-ctest.log && passed=$((passed + 1))
done

if [ -x "$root/tools/fuzz.sh" ]; then
  echo "== fuzzing"
  "$root/tools/fuzz.sh" 2>&1 | tee build/fuzz.log
  fuzz_status=${PIPESTATUS[0]}
  targets_ok=$(grep -c '^fuzz .*: no crash' build/fuzz.log)
  targets_bad=$(grep -c '^fuzz .*: FAILED' build/fuzz.log)
  [ "$fuzz_status" -ne 0 ] && [ "$targets_bad" -eq 0 ] && targets_bad=1
  passed=$((passed + targets_ok)); failed=$((failed + targets_bad))
fi

echo "== Windows tests (wine64, Xvfb)"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-suite.sh" 2>&1 | tee build/win64-ctest.log
count build/win64 build/win64-ctest.log

echo "== Windows tests of the shipped 32-bit build (end-to-end, component and COM cases)"
if how=$("$root/tools/wine32-run.sh" --which); then
  echo "32-bit programs run by: $how"
  # Under the emulation a case mostly waits for its slow start-ups: the cases are dealt to
  # shards that run side by side, each in a prefix, wineserver and display of its own.
  shards=1
  case "$how" in *qemu*) shards=${BRINDLE_WIN32_SHARDS:-3} ;; esac
  echo "32-bit cases in $shards shard(s)"
  for ((k = 1; k <= shards; k++)); do
    prefix="$root/build/win32/wineprefix"; [ "$shards" -gt 1 ] && prefix="$root/build/win32/wineprefix-$k"
    WINEPREFIX="$prefix" xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-suite.sh" win32 \
      -I "$k,,$shards" >build/win32-ctest-$k.log 2>&1 &
    sleep 3  # xvfb-run -a picks its display number racily
  done
  wait
  : >build/win32-ctest.log
  for ((k = 1; k <= shards; k++)); do
    cat build/win32-ctest-$k.log | tee -a build/win32-ctest.log
    # A shard that ended without ctest's summary failed as a whole.
    grep -qE 'tests passed, [0-9]+ tests? failed out of' build/win32-ctest-$k.log || failed=$((failed + 1))
  done
  count build/win32 build/win32-ctest.log
else
  # The same cases, as the win64 run listed them, are reported as skipped with the reason.
  n=$(grep -cE 'Test +#[0-9]+: (app\.|apply\.Com|sys\.ComRegistration)' build/win64-ctest.log)
  echo "skipped: $n cases of the 32-bit build: $how"
  skipped=$((skipped + n))
fi

echo "== x86 smoke test (the shipped 32-bit Brindle.exe, 64-bit records, the wrapper's programs)"
timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tests/x86/smoke.sh" 2>&1 | tee build/x86-smoke.log
x86=$(grep -E '^x86: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' build/x86-smoke.log | tail -1)
if [ -z "$x86" ]; then failed=$((failed + 1)); else
  read -r p f s < <(sed -E 's/x86: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped/\1 \2 \3/' <<<"$x86")
  passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + s))
fi

echo "== demo (tools/demo.sh, one check)"
"$root/tools/demo.sh" 2>&1 | tee build/demo.log
if [ "${PIPESTATUS[0]}" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
