#!/usr/bin/env bash
# Runs one program of the win64 build under Wine, in the test prefix (made on first use).
# Usage: tools/wine-run.sh program.exe [arguments...]; the program's exit code is returned.
# A persistent wineserver and Wine's own services are started first with their output sent
# nowhere: they outlive the program and would otherwise hold the caller's output pipe open.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win64/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"
/usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1 || true
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
exec /usr/lib/wine/wine64 "$@"
