#!/usr/bin/env bash
# The demo: builds Brindle.exe and the sample application, installs Brindle Sample 1.0 into a
# fresh Wine prefix as the maker's installer leaves it, and lets Brindle.exe apply the patch
# packages 1.0 -> 1.1 -> 2.0 as the update service starts it, on a virtual display, answering
# every dialog as a person would and saving pictures of them (build/demo/pictures/*.png). Prints
# the service-log lines of each run and a before/after table. Every step has a time-out.
# Exit code 0 when the sample application reached 2.0 and every check held, else another code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
echo "== build (win64: Brindle.exe, the sample application, demo_tool)"
mkdir -p build
BRINDLE_TARGETS="Brindle demo_tool sample_app_1_0 sample_app_1_1 sample_app_2_0" \
  tools/build.sh win64 > build/demo-build.log 2>&1 || { tail -30 build/demo-build.log; exit 1; }
out="$root/build/demo"
rm -rf "$out"; mkdir -p "$out"
start=$(date +%s)
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" timeout 540 "$root/demo/run_demo.sh" "$root" "$out" || status=$?
if [ "$status" -eq 124 ]; then echo "!! the demo did not end within 9 minutes: stopped"; fi
echo "== demo took $(( $(date +%s) - start )) s"
exit "$status"
