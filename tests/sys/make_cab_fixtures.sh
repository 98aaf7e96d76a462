#!/usr/bin/env bash
# Makes the cabinets the file-utility tests extract: the same three files (one in a folder two
# levels down, one empty) stored and MSZIP-compressed, with known modification times. The
# files are left beside the cabinets under src/ so the tests can compare the bytes.
# Usage: make_cab_fixtures.sh <gcab> <output folder>
set -euo pipefail
gcab=$1
out=$2
rm -rf "$out"
mkdir -p "$out/src/sub/deeper"
printf 'first file\r\n' > "$out/src/a.txt"
seq 1 20000 > "$out/src/sub/deeper/b.bin"   # about 100 KB: several data blocks
: > "$out/src/sub/c.txt"
touch -d '2019-07-01 12:34:56 UTC' "$out/src/a.txt"
touch -d '2008-01-31 23:59:58 UTC' "$out/src/sub/deeper/b.bin"
touch -d '2010-05-06 07:08:10 UTC' "$out/src/sub/c.txt"
cd "$out/src"
"$gcab" -c ../stored.cab a.txt sub/deeper/b.bin sub/c.txt
"$gcab" -c -z ../mszip.cab a.txt sub/deeper/b.bin sub/c.txt
