#!/usr/bin/env bash
# Installs, from Debian's packages, what the builds and the tests need. Safe to run again:
# it installs only what is missing, and copes with a mirror caught mid-sync (see below).
set -euo pipefail
packages=(cmake make g++ pkg-config g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64
          wine wine64 xvfb xauth googletest gcab libgcab-dev cabextract
          libxml2-dev nettle-dev openssl clang clang-format libclang-rt-14-dev
          qemu-user wine32:i386 file ccache)
# wine32:i386 and qemu-user run the shipped 32-bit build (tests/x86/smoke.sh, tools/wine32-run.sh);
# file tells the smoke test that the program it runs is the 32-bit one.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # A mirror caught mid-sync fails an index or two (seen: "File has unexpected size"): try the
  # update again, then go on with the indexes that did download; the install says if a package
  # is really missing.
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && break
    echo "setup: apt-get update failed (attempt $attempt), going on"
    sleep 5
  done
  apt_install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
  # When one architecture's security index is missing, the 64-bit and 32-bit libraries the
  # two Wines share come from different suites and cannot be installed together: the release's
  # own suite then gives both.
  if ! apt_install "${missing[@]}"; then
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    echo "setup: install failed; trying again with the packages of ${suite:-the release}"
    apt_install -t "$suite" "${missing[@]}"
  fi
fi
# The 32-bit Wine loader's copy for qemu-i386 and the loader script that runs it must sit next to
# the original, the script with a link for 64-bit children (tools/wine32-run.sh).
if [ -x /usr/lib/wine/wine ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  cmp -s /usr/lib/wine/wine /usr/lib/wine/wine-qemu32 || $SUDO cp /usr/lib/wine/wine /usr/lib/wine/wine-qemu32
  cmp -s "$(dirname "$0")/wine32-loader.sh" /usr/lib/wine/wine-qemu32-loader ||
    $SUDO install -m 755 "$(dirname "$0")/wine32-loader.sh" /usr/lib/wine/wine-qemu32-loader
  [ "$(readlink /usr/lib/wine/wine-qemu32-loader64)" = wine64 ] ||
    $SUDO ln -sfn wine64 /usr/lib/wine/wine-qemu32-loader64
fi
echo "setup: toolchain ready"
