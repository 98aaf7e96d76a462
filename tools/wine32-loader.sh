#!/bin/sh
# Wine's 32-bit loader under qemu-i386 (see tools/wine32-run.sh). Used as WINELOADER, so every
# 32-bit process of the prefix, children included, starts through it.
export WINELOADERNOEXEC=1
exec qemu-i386 -R 0x81000000 -0 "$0" /usr/lib/wine/wine-qemu32 "$@"
