#!/usr/bin/env bash
# Runs a 32-bit Windows program (the shipped x86 build) under 32-bit Wine in its own 64-bit
# (WOW64) prefix build/win32/wineprefix, as on 64-bit Windows. Where the machine's kernel runs
# 32-bit code (`/usr/lib/wine/wine --version` works), plain 32-bit Wine runs it natively. Where
# it does not, the 32-bit Wine loader runs under qemu-i386 user-mode emulation:
#   - a loader script runs qemu-i386 on a copy of Wine's 32-bit loader, naming itself as the
#     program (-0), and is used as WINELOADER, so 32-bit child processes start the same way. Wine
#     starts a child by executing the base name of its loader in its own loader folder, so the
#     script is installed there (/usr/lib/wine/wine-qemu32-loader, from tools/wine32-loader.sh),
#     with wine-qemu32-loader64, a link to wine64, for 64-bit children; from anywhere else every
#     child process fails to start (status c00000e5);
#   - -R 0x81000000 caps the guest address space (without it every start takes about 45 s);
#   - the copy of the loader sits next to the original (/usr/lib/wine/wine-qemu32): it finds
#     ntdll.so by a path relative to its own folder.
# The prefix is made on first use; when its syswow64 folder is empty (no 32-bit system files),
# it is filled once by Wine's own WOW64 set-up, run through the 32-bit loader.
# Usage: tools/wine32-run.sh program.exe [arguments...]; the program's exit code is returned.
#        tools/wine32-run.sh --check   prints why the 32-bit build cannot run here (exit 1), or
#                                      nothing (exit 0).
#        tools/wine32-run.sh --which   prints how it runs here: "native 32-bit Wine" or
#                                      "32-bit Wine under qemu-i386" (exit 1 with the reason
#                                      when it cannot run).
#        BRINDLE_WINE32=qemu           uses the emulation even where the kernel runs 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win32/wineprefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
original=/usr/lib/wine/wine
copy=/usr/lib/wine/wine-qemu32
loader=/usr/lib/wine/wine-qemu32-loader
loader64=/usr/lib/wine/wine-qemu32-loader64

runs_natively() { [ -x "$original" ] && "$original" --version >/dev/null 2>&1; }

why_not() {  # what is missing for the emulation, or nothing
  command -v qemu-i386 >/dev/null || { echo "qemu-i386 is not installed (package qemu-user)"; return; }
  [ -x "$original" ] || { echo "32-bit Wine is not installed (package wine32:i386)"; return; }
  [ -d /usr/lib/i386-linux-gnu/wine/i386-unix ] || { echo "32-bit Wine's unix libraries are missing"; return; }
  if [ ! -x "$copy" ] && ! { [ -w /usr/lib/wine ] && cp "$original" "$copy"; }; then
    echo "cannot place the loader copy $copy (run tools/setup.sh as root)"; return
  fi
  if ! cmp -s "$root/tools/wine32-loader.sh" "$loader" &&
     ! { [ -w /usr/lib/wine ] && install -m 755 "$root/tools/wine32-loader.sh" "$loader"; }; then
    echo "cannot place the loader script $loader (run tools/setup.sh as root)"; return
  fi
  if [ "$(readlink "$loader64")" != wine64 ] && ! { [ -w /usr/lib/wine ] && ln -sfn wine64 "$loader64"; }; then
    echo "cannot place the link $loader64 (run tools/setup.sh as root)"; return
  fi
}
if [ "${BRINDLE_WINE32:-}" != qemu ] && runs_natively; then
  reason=""; how="native 32-bit Wine"; start=("$original")
else
  reason=$(why_not); how="32-bit Wine under qemu-i386"; start=("$loader")
  export WINELOADER="$loader"
fi
if [ "${1:-}" = --check ]; then [ -z "$reason" ] || { echo "$reason"; exit 1; }; exit 0; fi
if [ "${1:-}" = --which ]; then [ -z "$reason" ] || { echo "$reason"; exit 1; }; echo "$how"; exit 0; fi
[ -z "$reason" ] || { echo "wine32-run: $reason" >&2; exit 125; }

# The prefix, once: a 64-bit prefix like the win64 one, then its 32-bit system files. Inside
# tools/wine-suite.sh, which has done that and started the wineserver (BRINDLE_WINE_READY), only
# the program is started.
if [ -z "${BRINDLE_WINE_READY:-}" ]; then
  "$root/tools/wine-prefix.sh"
  exec 9>"$WINEPREFIX.wow64.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.brindle-wow64" ]; then
    if [ -z "$(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null)" ]; then
      echo "wine32-run: filling syswow64 of $WINEPREFIX (about 40 s)" >&2
      WINEBOOTSTRAPMODE=1 timeout 300 "${start[@]}" 'C:\windows\syswow64\rundll32.exe' \
        setupapi,InstallHinfSection Wow64Install 128 '\\?\Z:\usr\share\wine\wine.inf' \
        </dev/null >/dev/null 2>&1 || true
      "$WINESERVER" -w 2>/dev/null || true
    fi
    touch "$WINEPREFIX/.brindle-wow64"
  fi
  flock -u 9
  "$WINESERVER" -p60 </dev/null >/dev/null 2>&1 || true
fi
source "$root/tools/wine-start.sh"
start_windows_program "${start[@]}" "$@"
