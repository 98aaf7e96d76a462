#!/usr/bin/env bash
# Configures and builds the three builds into build/<name>:
#   win64   x86_64 Windows: Brindle.exe and the Windows test programs (run under Wine)
#   win32   i686 Windows: the shipped Brindle.exe, with the test programs
#           that tools/test.sh runs against it: the end-to-end, component and COM cases
#   native  the platform-neutral code and its tests, with the sanitizers
#   pack-release  brindle-pack alone, optimised, without sanitizers or tests (build/pack-release/bin)
# Every build treats warnings as errors (CMakeLists.txt, BRINDLE_WERROR).
# Usage: tools/build.sh [win64|win32|native ...]   (default: all three)
#        BRINDLE_TARGETS="Brindle demo_tool" tools/build.sh win64   builds only those targets
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Checkouts side by side share the compiler cache: paths below their common folder are hashed
# relative to it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
builds=("$@"); [ ${#builds[@]} -eq 0 ] && builds=(win64 win32 native)
for b in "${builds[@]}"; do
  dir="$root/build/$b"
  case "$b" in
    win64)  args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release) ;;
    win32)  # Cases of the 32-bit build run under the emulation have a longer time limit.
            timeout=240
            case "$("$root/tools/wine32-run.sh" --which 2>/dev/null)" in *qemu*) timeout=600 ;; esac
            args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
                  -DBRINDLE_CASE_TIMEOUT=$timeout
                  -DBRINDLE_TESTS=ON "-DBRINDLE_TEST_PROGRAMS=app;apply;sys"
                  "-DBRINDLE_TEST_FILTER_apply=Com*" "-DBRINDLE_TEST_FILTER_sys=ComRegistration*") ;;
    native) args=(-DCMAKE_BUILD_TYPE=Debug) ;;
    pack-release) args=(-DCMAKE_BUILD_TYPE=Release -DBRINDLE_SANITIZE=OFF -DBRINDLE_TESTS=OFF)
                  [ -n "${BRINDLE_TARGETS:-}" ] || BRINDLE_TARGETS=brindle-pack ;;
    *) echo "build: unknown build $b" >&2; exit 2 ;;
  esac
  echo "== build $b"
  cmake -S "$root" -B "$dir" "${args[@]}" >/dev/null
  targets=()
  for t in ${BRINDLE_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$dir" -j"$jobs" "${targets[@]}"
done
