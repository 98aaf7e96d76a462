#!/usr/bin/env bash
# The whole test run: installs what is missing, builds win64, win32 and native, runs the native
# tests (sanitizers), then the Windows tests under Wine and Xvfb with one persistent wineserver.
# Ends with one summary line: "tests: N passed, M failed".
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
export WINEPREFIX="$root/build/win64/wineprefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  /usr/lib/wine/wineserver64 -p &
  # Start the services of the prefix once with no output attached: services started by the first
  # test program would inherit its output pipe and keep ctest waiting until the timeout.
  sleep 1; /usr/lib/wine/wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1
  ctest --test-dir build/win64 --output-on-failure 2>&1 | tee build/win64-ctest.log
  /usr/lib/wine/wineserver64 -k 2>/dev/null; wait' 
count build/win64-ctest.log

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
