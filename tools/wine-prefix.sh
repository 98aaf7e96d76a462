#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests run in, once: a fresh 64-bit prefix, no window-manager
# wait on closing windows, and the 32-bit view's folder values a real 64-bit Windows has.
# Usage: tools/wine-prefix.sh   (WINEPREFIX names the prefix; default build/win64/wineprefix)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win64/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.brindle-ready" ] && exit 0
rm -rf "$WINEPREFIX"
echo "wine-prefix: making $WINEPREFIX" >&2
"$wine" wineboot -i >/dev/null 2>&1 || true
reg() { "$wine" reg "$@" >/dev/null 2>&1; }
reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
cv='HKLM\Software\Microsoft\Windows\CurrentVersion'
reg add "$cv" /v ProgramFilesDir /t REG_SZ /d 'C:\Program Files (x86)' /f /reg:32
reg add "$cv" /v CommonFilesDir /t REG_SZ /d 'C:\Program Files (x86)\Common Files' /f /reg:32
/usr/lib/wine/wineserver64 -w 2>/dev/null || true
touch "$WINEPREFIX/.brindle-ready"
