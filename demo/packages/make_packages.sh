#!/usr/bin/env bash
# Builds the demo's two patch packages, as the maker's build would, into <output>/<version>/:
#   BrindleSample_<version>.diff   a cabinet (gcab, MSZIP) holding diff.xml and INST\<files>
#   ZNQ\INSTALL\COMMON\            the uninstaller's files that travel with every package
#   ZNQ\INSTALL\ENGLISH\UninstRsc.dll
# The sample program of each version comes from the build; the rest from demo/packages/<version>.
# Usage: demo/packages/make_packages.sh <win64 build folder> <output folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1; out=$(realpath -m "$2")
declare -A uninstaller=([1.1]=2.1.0 [2.0]=2.2.0)
for version in 1.1 2.0; do
  stage=$(mktemp -d)
  cp -r "$here/$version/." "$stage/"
  cp "$build/demo/$version/SampleApp.exe" "$stage/INST/"
  dest="$out/$version"
  rm -rf "$dest"; mkdir -p "$dest/ZNQ/INSTALL/COMMON" "$dest/ZNQ/INSTALL/ENGLISH"
  (cd "$stage" && gcab -c -z "$dest/BrindleSample_$version.diff" diff.xml INST/*)
  rm -rf "$stage"
  zv=${uninstaller[$version]}
  for f in Uninst.exe setup.dll; do
    printf 'Placeholder of the maker'"'"'s uninstaller file %s %s.\r\n' "$f" "$zv" > "$dest/ZNQ/INSTALL/COMMON/$f"
  done
  printf '%s\r\n' "$zv" > "$dest/ZNQ/INSTALL/COMMON/UninsVer.txt"
  printf 'Placeholder of the maker'"'"'s uninstaller resources %s (English).\r\n' "$zv" \
    > "$dest/ZNQ/INSTALL/ENGLISH/UninstRsc.dll"
  echo "package: $dest/BrindleSample_$version.diff (uninstaller $zv)"
done
