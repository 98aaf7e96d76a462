#!/usr/bin/env bash
# The whole test run: installs what is missing, builds win64, win32 and native, runs the native
# tests (sanitizers), then the Windows tests under Wine and Xvfb with one persistent wineserver,
# the smoke test of the shipped 32-bit build under qemu-i386 (its checks count as skipped, not
# passed, where the emulation cannot run) and the demo (one check: it must end with 200).
# Ends with one summary line, "tests: N passed, M failed[, S skipped]", counting test cases:
# GoogleTest cases of both builds, fuzz targets, the x86 smoke checks and the demo.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/setup.sh" || exit 1
"$root/tools/build.sh" || { echo "tests: 0 passed, 1 failed"; exit 1; }

# Counted are test cases: every GoogleTest case that ran (from the XML report each test program
# writes into <build>/gtest-results) and every fuzz target. A test program that fails without
# a report of its failures (a crash, a time-out) counts as one failed case.
passed=0; failed=0
count() {  # $1 build dir, $2 ctest log
  local dir=$1 log=$2 report run bad name
  if ! grep -qE 'tests passed, [0-9]+ tests? failed out of' "$log"; then
    failed=$((failed + 1)); return
  fi
  for report in "$dir"/gtest-results/*.xml; do
    [ -f "$report" ] || continue
    run=$(grep -c '<testcase .*status="run" result="completed"' "$report")
    bad=$(sed -nE 's/.*<testsuites [^>]*failures="([0-9]+)".*/\1/p' "$report" | head -1)
    passed=$((passed + run - ${bad:-0})); failed=$((failed + ${bad:-0}))
  done
  # Programs that failed with no failure in their report.
  for name in $(sed -nE 's/^[[:space:]]*[0-9]+ - ([A-Za-z0-9_]+) \(.*/\1/p' "$log"); do
    report="$dir/gtest-results/test_$name.xml"
    if [ ! -f "$report" ] || grep -qE '<testsuites [^>]*failures="0"' "$report"; then
      failed=$((failed + 1))
    fi
  done
}
# Each test program writes its report there (relative to the build dir, where ctest starts it;
# under Wine the same folder is reached through the drive that maps the host's files).
export GTEST_OUTPUT=xml:gtest-results/
rm -rf build/native/gtest-results build/win64/gtest-results

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 2>&1 | tee build/native-ctest.log
count build/native build/native-ctest.log

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

echo "== x86 smoke test (the shipped 32-bit Brindle.exe under qemu-i386)"
timeout 900 xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tests/x86/smoke.sh" 2>&1 | tee build/x86-smoke.log
x86=$(grep -E '^x86: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' build/x86-smoke.log | tail -1)
if [ -z "$x86" ]; then failed=$((failed + 1)); else
  read -r p f s < <(sed -E 's/x86: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped/\1 \2 \3/' <<<"$x86")
  passed=$((passed + p)); failed=$((failed + f)); skipped=$((${skipped:-0} + s))
fi

echo "== demo (tools/demo.sh, one check)"
"$root/tools/demo.sh" 2>&1 | tee build/demo.log
if [ "${PIPESTATUS[0]}" -eq 200 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "tests: $passed passed, $failed failed$([ "${skipped:-0}" -gt 0 ] && echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
