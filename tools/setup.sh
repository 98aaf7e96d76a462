#!/usr/bin/env bash
# Installs, from Debian's packages, what the builds and the tests need. Safe to run again:
# it installs only what is missing and runs apt-get update at most once.
set -euo pipefail
packages=(cmake make g++ pkg-config g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64
          wine wine64 xvfb xauth googletest gcab libgcab-dev cabextract
          libxml2-dev nettle-dev openssl clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: toolchain ready"
