#!/usr/bin/env bash
# Runs one program of the win64 build under Wine, in the test prefix (made on first use).
# Usage: tools/wine-run.sh program.exe [arguments...]; the program's exit code is returned.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win64/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/tools/wine-prefix.sh"
exec /usr/lib/wine/wine64 "$@"
