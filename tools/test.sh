#!/usr/bin/env bash
# The whole test run: installs what is missing, builds win64, win32 and native, runs the native
# tests (sanitizers), then the Windows tests under Wine and Xvfb with one persistent wineserver.
# Ends with one summary line, "tests: N passed, M failed", counting test cases: GoogleTest cases
# of both builds and fuzz targets.
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

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
