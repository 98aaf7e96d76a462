#!/usr/bin/env bash
# The Windows tests: ctest over the win64 build (or, with "win32" first, over the shipped 32-bit
# build's test programs, run by tools/wine32-run.sh), inside one persistent wineserver that is
# stopped at the end. Run under an X display (tools/test.sh wraps it in xvfb-run).
# Usage: tools/wine-suite.sh [win64|win32] [ctest arguments...]   e.g. -R '^app\.Driver\.'
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=win64
case "${1:-}" in win64|win32) build=$1; shift ;; esac
export WINEPREFIX=${WINEPREFIX:-$root/build/$build/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$build" = win32 ]; then
  # The first program run makes the prefix and its 32-bit system files.
  "$root/tools/wine32-run.sh" 'C:\windows\syswow64\cmd.exe' /c exit </dev/null >/dev/null 2>&1
else
  "$root/tools/wine-prefix.sh"
fi
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
export BRINDLE_WINE_READY=1
ctest --test-dir "$root/build/$build" --output-on-failure "$@"
status=$?
/usr/lib/wine/wineserver64 -k 2>/dev/null
wait
exit $status
