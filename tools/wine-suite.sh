#!/usr/bin/env bash
# The Windows tests: ctest over the win64 build, inside one persistent wineserver that is
# stopped at the end. Run under an X display (tools/test.sh wraps it in xvfb-run).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win64/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$root/build/win64" --output-on-failure "$@"
status=$?
/usr/lib/wine/wineserver64 -k 2>/dev/null
wait
exit $status
