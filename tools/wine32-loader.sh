#!/bin/sh
# Wine's 32-bit loader under qemu-i386 (see tools/wine32-run.sh). Installed as
# /usr/lib/wine/wine-qemu32-loader and used as WINELOADER, so every 32-bit process of the prefix,
# children included, starts through it. It must sit in Wine's own loader folder: Wine 8.0 starts a
# child process by executing <folder of the wine loader>/<base name of its argv[0]> (a 32-bit
# child; a 64-bit one uses the base name of WINELOADER with "64" appended), never a path elsewhere.
# qemu's -0 passes this script's own path as argv[0], so a 32-bit child comes back here, and
# wine-qemu32-loader64 (a link to wine64) starts 64-bit children natively.
export WINELOADERNOEXEC=1
exec qemu-i386 -R 0x81000000 -0 "$0" /usr/lib/wine/wine-qemu32 "$@"
