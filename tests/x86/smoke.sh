#!/usr/bin/env bash
# Smoke test of the shipped build: the 32-bit Brindle.exe (build/win32) run by 32-bit Wine under
# qemu-i386 emulation (tools/wine32-run.sh), in a 64-bit prefix, as on 64-bit Windows.
# Prints one line per check ("ok: ..." or "FAILED: ..."), or "skipped: <reason>" when the
# emulation cannot run on this machine, and ends with "x86: P passed, F failed, S skipped".
# Exit code 0 when nothing failed (skipped checks are not passed ones: the summary says so).
# Run under an X display (tools/test.sh uses xvfb-run).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win32/wineprefix}
run32() { timeout "${limit:-120}" "$root/tools/wine32-run.sh" "$@" </dev/null; }
passed=0; failed=0; skipped=0
checks=1   # the number of checks below, all counted as skipped when the emulation cannot run
ok() { echo "ok: $1"; passed=$((passed + 1)); }
bad() { echo "FAILED: $1"; failed=$((failed + 1)); }
finish() { echo "x86: $passed passed, $failed failed, $skipped skipped"; [ "$failed" -eq 0 ]; exit; }
skip_all() { echo "skipped: $1"; skipped=$checks; finish; }

exe=""
for candidate in "$root/build/win32/bin/Brindle.exe" "$root/build/win32/Brindle.exe"; do
  [ -f "$candidate" ] && { exe=$candidate; break; }
done
[ -n "$exe" ] || { bad "no 32-bit Brindle.exe in build/win32 (tools/build.sh win32)"; finish; }
if ! file "$exe" | grep -q 'PE32 executable.*Intel 80386'; then
  bad "$exe is not a 32-bit x86 program"; finish
fi
reason=$("$root/tools/wine32-run.sh" --check) || skip_all "$reason"

# Can the emulation run a 32-bit program of Wine itself? Otherwise the machine cannot do it,
# which says nothing about Brindle.exe.
code=0; probe=$(limit=300 run32 'C:\windows\syswow64\cmd.exe' /c exit 7 2>&1) || code=$?
[ "$code" -eq 7 ] || skip_all "32-bit Wine does not run under qemu-i386 here (exit code $code: $(tail -1 <<<"$probe"))"

service_log() {
  ls "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Tamek_Inc_RW/ServiceLog/OstrelService/Tamek_ACT_SERVICELOG_tmp.txt 2>/dev/null | head -1
}
log_size() { local f; f=$(service_log); [ -n "$f" ] && stat -c %s "$f" || echo 0; }
new_lines() {  # the service-log lines written since byte $1, without time stamps
  local f; f=$(service_log); [ -n "$f" ] || return 0
  tail -c +$(($1 + 1)) "$f" | sed 's/^\xEF\xBB\xBF//; s/\r$//' | cut -d, -f2-
}

# 1. Component mode with a list file that does not exist: refused, result 10 to the launcher,
#    exit code 100, and the three service-log lines.
before=$(log_size)
code=0; run32 "$exe" 'C:\nowhere\list.xml' /component_install smoke >/dev/null 2>&1 || code=$?
lines=$(new_lines "$before")
expected=$'BR,CHECK_PARAMETER,-,C:/nowhere/list.xml,/component_install,smoke\nBR,THROW_MSG,-,10\nBR,PROCESS_END,-,100'
if [ "$code" -eq 100 ] && [ "$lines" = "$expected" ]; then
  ok "32-bit Brindle.exe, component mode, missing list: exit code 100 and its three service-log lines"
else
  bad "32-bit Brindle.exe, component mode, missing list: exit code $code (expected 100), service log:
$lines
expected:
$expected"
fi

/usr/lib/wine/wineserver64 -k 2>/dev/null
finish
