#!/usr/bin/env bash
# The whole test run: installs what is missing, builds win64, win32 and native, runs the native
# tests (sanitizers), then the Windows tests under Wine and Xvfb with one persistent wineserver,
# the smoke test of the shipped 32-bit build under qemu-i386 (its checks count as skipped, not
# passed, where the emulation cannot run) and the demo (one check: it must end with 200).
# Ends with one summary line: "tests: N passed, M failed[, S skipped]".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/tools/setup.sh" || exit 1
"$root/tools/build.sh" || { echo "tests: 0 passed, 1 failed"; exit 1; }

passed=0; failed=0
count() {  # adds the counts of one ctest summary in file $1
  local line; line=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$1" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local bad total
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
}

echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 2>&1 | tee build/native-ctest.log
count build/native-ctest.log

if [ -x "$root/tools/fuzz.sh" ]; then
  echo "== fuzzing"
  if "$root/tools/fuzz.sh"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
fi

echo "== Windows tests (wine64, Xvfb)"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-suite.sh" 2>&1 | tee build/win64-ctest.log
count build/win64-ctest.log

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
