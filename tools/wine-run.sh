#!/usr/bin/env bash
# Runs one program of the win64 build under Wine, in the test prefix (made on first use).
# Usage: tools/wine-run.sh program.exe [arguments...]; the program's exit code is returned.
# A persistent wineserver and Wine's own services are started first with their output sent
# nowhere: they outlive the program and would otherwise hold the caller's output pipe open.
# Inside tools/wine-suite.sh, which has done that once for the whole run (BRINDLE_WINE_READY),
# only the program is started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win64/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${BRINDLE_WINE_READY:-}" ]; then
  "$root/tools/wine-prefix.sh"
  /usr/lib/wine/wineserver64 -p60 </dev/null >/dev/null 2>&1 || true
  /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
# The loader is named by BRINDLE_WINE64 only in tests/tools/wine_start_test.sh.
source "$root/tools/wine-start.sh"
start_windows_program "${BRINDLE_WINE64:-/usr/lib/wine/wine64}" "$@"
