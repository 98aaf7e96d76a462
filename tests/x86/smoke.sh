#!/usr/bin/env bash
# Smoke test of the shipped build: the 32-bit Brindle.exe (build/win32) run by 32-bit Wine,
# natively or under qemu-i386 emulation (tools/wine32-run.sh says which), in a 64-bit prefix, as
# on 64-bit Windows.
# Prints one line per check ("ok: ..." or "FAILED: ..."), or "skipped: <reason>" when the
# 32-bit build cannot run on this machine, and ends with "x86: P passed, F failed, S skipped".
# Exit code 0 when nothing failed (skipped checks are not passed ones: the summary says so).
# Run under an X display (tools/test.sh uses xvfb-run).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/win32/wineprefix}
run32() { timeout "${limit:-120}" "$root/tools/wine32-run.sh" "$@" </dev/null; }
passed=0; failed=0; skipped=0
checks=3   # the number of checks below, all counted as skipped when 32-bit Wine cannot run
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
how=$("$root/tools/wine32-run.sh" --which) || skip_all "$how"
echo "32-bit programs run by: $how"

# Can 32-bit Wine run a program of Wine itself? Otherwise the machine cannot do it, which says
# nothing about Brindle.exe.
code=0; probe=$(limit=300 run32 'C:\windows\syswow64\cmd.exe' /c exit 7 2>&1) || code=$?
[ "$code" -eq 7 ] || skip_all "$how does not run here (exit code $code: $(tail -1 <<<"$probe"))"

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

# 2. A patch package applied by the 32-bit program on 64-bit Windows: files marked INST_64BIT
#    land in (or leave) the 64-bit System32 and Program Files, never SysWOW64 or Program Files
#    (x86); 32-bit files stay in the 32-bit folders; the uninstall log keeps its Files64 and
#    Registry64 sections and gains the new 64-bit files there. The package's run ends with 200
#    and no dialog (/non_notification); a failure shows a message box, which the time-out ends.
c=$WINEPREFIX/drive_c
app32="$c/Program Files (x86)/Tamek/X86Smoke"; app64="$c/Program Files/Tamek/X86Smoke"
sys64="$c/windows/system32"; sys32="$c/windows/syswow64"
stage="$c/x86smoke"
cleanup_patch() {
  rm -rf "$app32" "$app64" "$stage" "$sys64"/brindle_x86smoke_* "$sys32"/brindle_x86smoke_*
  if [ -f "$WINEPREFIX/system.reg" ]; then
    for view in 32 64; do
      timeout 60 /usr/lib/wine/wine64 reg delete 'HKLM\SOFTWARE\Tamek\X86Smoke' /f /reg:$view </dev/null >/dev/null 2>&1
    done
  fi
}
cleanup_patch
mkdir -p "$app32" "$app64" "$stage/src/INST" "$stage/lists/ZNQ/INSTALL/COMMON" "$stage/lists/ZNQ/INSTALL/ENGLISH"
printf 'app 1.0\r\n' > "$app32/app.txt"
printf 'old64 1.0\r\n' > "$app64/old64.txt"
printf 'gone 64\r\n' > "$sys64/brindle_x86smoke_gone.txt"
printf 'decoy 32\r\n' > "$sys32/brindle_x86smoke_gone.txt"   # same name in SysWOW64: must stay
printf 'new32 1.1\r\n' > "$stage/src/INST/new32.txt"
printf 'new64 1.1\r\n' > "$stage/src/INST/new64.txt"
printf 'old64 1.1\r\n' > "$stage/src/INST/old64.txt"
printf 'sys64 1.1\r\n' > "$stage/src/INST/sys64.txt"
printf 'sys32 1.1\r\n' > "$stage/src/INST/sys32.txt"
ini() { sed 's/$/\r/' > "$1"; }
ini "$app32/Uninst.ini" <<'INI'
[Language]
Lang="en"
[Folders]
UIFLDR="C:\\Program Files (x86)\\Tamek\\X86Smoke" INST_REQ INST_CRE INST_DEL 
[Files]
UIFILE="C:\\Program Files (x86)\\Tamek\\X86Smoke\\app.txt" INST_REQ INST_REQ INST_DEL INST_NOREG
[Folders64]
UIFLDR="C:\\Program Files\\Tamek\\X86Smoke" INST_REQ INST_CRE INST_DEL 
[Files64]
UIFILE="C:\\Program Files\\Tamek\\X86Smoke\\old64.txt" INST_REQ INST_REQ INST_DEL INST_NOREG
[Registry64]
UIREGI=HLM "SOFTWARE\\Tamek\\X86Smoke" "Kept64" INST_REQ INST_REQ INST_DEL
[Startup]
Version="1.0"
AppName="X86 Smoke"
[Uninst Info]
DisplayName="X86 Smoke"
[UninstallCustomFunction]
DLLPath=""
INI
file_record() {  # WOW, full path, file name in the package (empty for a deletion)
  printf '<File COM="INST_NOREG" DelInfo="INST_DEL" WOW="%s"><FullPath>%s</FullPath>%s</File>\n' \
    "$1" "$2" "${3:+<FileName>$3</FileName>}"
}
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<DiffDistribute><GeneralInfo><Version>1.1</Version></GeneralInfo><DeleteObjects>'
  file_record INST_64BIT '$SysFolder64$\brindle_x86smoke_gone.txt'
  echo '</DeleteObjects><UpdateObjects>'
  file_record INST_64BIT '$ProgFolder64$\Tamek\X86Smoke\old64.txt' old64.txt
  echo '</UpdateObjects><AddObjects>'
  file_record INST_64BIT '$ProgFolder64$\Tamek\X86Smoke\new64.txt' new64.txt
  file_record INST_64BIT '$SysFolder64$\brindle_x86smoke_64.txt' sys64.txt
  file_record INST_32BIT '$SysFolder$\brindle_x86smoke_32.txt' sys32.txt
  file_record INST_32BIT '$InsFolder$\new32.txt' new32.txt
  for view in 64 32; do
    printf '<Registry WOW="INST_%sBIT"><RegKeyPath RegRoot="REG_HLM">%s</RegKeyPath><RegValueName>Added%s</RegValueName><RegData Type="REG_SZ">view %s</RegData></Registry>\n' \
      "$view" 'SOFTWARE\Tamek\X86Smoke' "$view" "$view"
  done
  echo '</AddObjects></DiffDistribute>'
} > "$stage/src/diff.xml"
(cd "$stage/src" && gcab -c -z "$stage/lists/package.diff" diff.xml INST/*) >/dev/null
printf 'x86 smoke\r\n' > "$stage/lists/ZNQ/INSTALL/COMMON/Uninst.exe"
printf 'x86 smoke\r\n' > "$stage/lists/ZNQ/INSTALL/COMMON/setup.dll"
printf '2.5.0\r\n' > "$stage/lists/ZNQ/INSTALL/COMMON/UninsVer.txt"
printf 'x86 smoke\r\n' > "$stage/lists/ZNQ/INSTALL/ENGLISH/UninstRsc.dll"
ini "$stage/lists/list.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<DiffLocalList><DiffLocal Order="1"><FileName>package.diff</FileName><AppName>X86Smoke</AppName><DisplayName>X86 Smoke</DisplayName></DiffLocal></DiffLocalList>
XML
install_log="$c/ProgramData/Tamek_Inc_RW/Ostrel/TamekOstrelLog.dat"
mkdir -p "$(dirname "$install_log")"
"$root/demo/install/log_cipher.sh" encode > "$install_log" <<'XML'
<AppLocalList><AppLocal><AppName>X86Smoke</AppName><Lang Code="en"/><FullPath>C:\Program Files (x86)\Tamek\X86Smoke</FullPath><Version Type="Application">1.0</Version><Version Type="Uninstall">2.0.0</Version><DisplayName>X86 Smoke</DisplayName><UninstLog>C:\Program Files (x86)\Tamek\X86Smoke\Uninst.ini</UninstLog></AppLocal></AppLocalList>
XML

before=$(log_size)
code=0; limit=240 run32 "$exe" 'C:\x86smoke\lists\list.xml' /non_notification >/dev/null 2>&1 || code=$?
lines=$(new_lines "$before")
content() { [ -f "$1" ] && tr -d '\r' < "$1" || echo "(missing)"; }
problems=()
expect_file() { [ "$(content "$1")" = "$2" ] || problems+=("${1#"$c/"}: $(content "$1"), expected $2"); }
expect_none() { [ ! -e "$1" ] || problems+=("${1#"$c/"} exists, expected none"); }
[ "$code" -eq 200 ] || problems+=("exit code $code, expected 200")
expect_file "$app64/new64.txt" 'new64 1.1'
expect_file "$app64/old64.txt" 'old64 1.1'
expect_file "$sys64/brindle_x86smoke_64.txt" 'sys64 1.1'
expect_file "$sys32/brindle_x86smoke_32.txt" 'sys32 1.1'
expect_file "$app32/new32.txt" 'new32 1.1'
expect_file "$app32/app.txt" 'app 1.0'
expect_none "$sys64/brindle_x86smoke_gone.txt"
expect_file "$sys32/brindle_x86smoke_gone.txt" 'decoy 32'
expect_none "$app32/new64.txt"
expect_none "$sys32/brindle_x86smoke_64.txt"
expect_none "$sys64/brindle_x86smoke_32.txt"
expect_none "$c/Program Files (x86)/Tamek/X86Smoke/old64.txt"
section() {  # the entries of every [name] section of the uninstall log, one a line
  awk -v s="[$1]" '{ sub(/\r$/, "") } /^\[/ { in_s = ($0 == s); next } in_s && /=/' "$app32/Uninst.ini"
}
expect_entry() {
  section "$1" | grep -qiF "$2" || problems+=("uninstall log [$1] lacks $2; it holds: $(section "$1" | tr '\n' ' ')")
}
expect_entry Files64 'Program Files\\Tamek\\X86Smoke\\old64.txt'
expect_entry Files64 'Program Files\\Tamek\\X86Smoke\\new64.txt'
expect_entry Files64 'system32\\brindle_x86smoke_64.txt'
expect_entry Files 'X86Smoke\\new32.txt'
expect_entry Files 'syswow64\\brindle_x86smoke_32.txt'
expect_entry Registry64 '"Kept64"'
expect_entry Registry64 '"Added64"'
expect_entry Registry '"Added32"'
section Registry | grep -q '"Added64"' && problems+=("the 64-bit value is listed in [Registry]")
reg_value() {  # the data of value $2 of the smoke key in view $1 (32 or 64), or nothing
  timeout 60 /usr/lib/wine/wine64 reg query 'HKLM\SOFTWARE\Tamek\X86Smoke' /v "$2" /reg:"$1" </dev/null 2>/dev/null |
    tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
[ "$(reg_value 64 Added64)" = 'view 64' ] || problems+=("registry: Added64 is not 'view 64' in the 64-bit view")
[ -z "$(reg_value 32 Added64)" ] || problems+=("registry: Added64 is in the 32-bit view")
[ "$(reg_value 32 Added32)" = 'view 32' ] || problems+=("registry: Added32 is not 'view 32' in the 32-bit view")
[ -z "$(reg_value 64 Added32)" ] || problems+=("registry: Added32 is in the 64-bit view")
section Files | grep -qi 'new64.txt\|brindle_x86smoke_64' && problems+=("a 64-bit file is listed in [Files]")
grep -q 'ADD_FILE,-,C:\\windows\\system32\\brindle_x86smoke_64.txt,success' <<<"$lines" ||
  problems+=("no ADD_FILE success line for the 64-bit system file")
if [ ${#problems[@]} -eq 0 ]; then
  ok "32-bit Brindle.exe, patch with INST_64BIT records: files in System32 and Program Files (64-bit), 32-bit files in SysWOW64 and Program Files (x86), registry values in their own views, the uninstall log's 64-bit sections kept and extended"
else
  bad "32-bit Brindle.exe, patch with INST_64BIT records:$(printf '\n  - %s' "${problems[@]}")
service log:
$lines"
fi
cleanup_patch

# 3. Component mode: one component removed and one added for X86Smoke. The wrapper's programs
#    are played by the 32-bit stand-in build/win32/x86/fake_wrapper.exe, which logs its
#    arguments and what it finds in the shared key, and answers "Result Value" = 1 there. The
#    32-bit program reads the uninstall wrapper's path from the 32-bit registry view, copies
#    Install.exe and setup.dll from Common Files (x86)\Tamek\ZNQ\<installer version> into the
#    component's folder, writes the parent's name and folder into the shared key of the 32-bit
#    view for Install.exe, takes both answers and removes the key; exit code 200.
shared='HKLM\SOFTWARE\Tamek_Inc_RW\Ostrel Shared'
marrowgate='HKLM\SOFTWARE\Tamek_Inc_RW\Marrowgate Shared'
znq32="$c/Program Files (x86)/Common Files/Tamek/ZNQ/3.0.$$"
reg64() { timeout 60 /usr/lib/wine/wine64 reg "$@" </dev/null >/dev/null 2>&1; }
cleanup_component() {
  rm -rf "$stage" "$znq32"
  reg64 delete "$marrowgate" /f /reg:32
  reg64 delete "$shared" /f /reg:32
}
stand_in="$root/build/win32/bin/fake_wrapper.exe"  # a helper of the 32-bit test programs
[ -f "$stand_in" ] || stand_in="$root/build/win32/x86/fake_wrapper.exe"
# The component mode starts the wrapper's programs as child processes: first, can a 32-bit
# process of the emulation start one at all? (cmd.exe starts the stand-in, which leaves a log.)
# It can when the loader script is installed next to Wine's loader (tools/wine32-run.sh); a
# machine where it still cannot reports this check as skipped.
child_probe() {
  rm -rf "$stage"; mkdir -p "$stage"
  cp "$stand_in" "$stage/probe.exe"
  run32 'C:\windows\syswow64\cmd.exe' /c 'C:\x86smoke\probe.exe' child >/dev/null 2>&1
  local started=1; [ -s "$stage/probe.exe.log" ] && started=0
  rm -rf "$stage"
  return $started
}
if [ ! -f "$stand_in" ]; then
  bad "32-bit Brindle.exe, component mode: no $stand_in (tools/build.sh win32)"
elif ! child_probe; then
  echo "skipped: 32-bit Brindle.exe, component mode: 32-bit Wine under qemu-i386 cannot start a child process on this machine (cmd.exe cannot start a 32-bit program), and the component mode runs the wrapper's programs as children"
  skipped=$((skipped + 1))
else
  cleanup_component
  mkdir -p "$stage/wrapper" "$stage/maps" "$znq32"
  cp "$stand_in" "$stage/wrapper/Uninst.exe"
  printf '* 1\n' > "$stage/wrapper/Uninst.exe.answers"
  cp "$stand_in" "$znq32/Install.exe"
  printf 'setup\r\n' > "$znq32/setup.dll"
  printf '* 1\n' > "$stage/maps/Install.exe.answers"
  ini "$stage/actions.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<ActionList ParentAppName="X86Smoke"><Action ID="Help" Action="DELETE"/><Action ID="Maps" Action="ADD" Path="C:\x86smoke\maps"/></ActionList>
XML
  reg64 add "$marrowgate" /v UninstallWrapperPath /t REG_SZ /d 'C:\x86smoke\wrapper\Uninst.exe' /f /reg:32
  "$root/demo/install/log_cipher.sh" encode > "$install_log" <<XML
<AppLocalList><AppLocal><AppName>X86Smoke</AppName><Lang Code="en"/><FullPath>C:\Program Files (x86)\Tamek\X86Smoke</FullPath><Version Type="Application">1.0</Version><Version Type="Uninstall">2.0.0</Version><Version Type="Install">3.0.$$</Version><DisplayName>X86 Smoke</DisplayName></AppLocal><AppLocal><AppName>Help__for__X86Smoke</AppName><Lang Code="en"/><FullPath>C:\Program Files (x86)\Tamek\X86Smoke\Help</FullPath><Version Type="Application">1.0</Version><Version Type="Uninstall">2.0.0</Version><DisplayName>X86 Smoke help</DisplayName></AppLocal></AppLocalList>
XML
  before=$(log_size)
  code=0; limit=300 run32 "$exe" 'C:\x86smoke\actions.xml' /component_install >/dev/null 2>&1 || code=$?
  lines=$(new_lines "$before")
  problems=()
  [ "$code" -eq 200 ] || problems+=("exit code $code, expected 200")
  removal=$(content "$stage/wrapper/Uninst.exe.log")
  [ "$removal" = '[ "Help__for__X86Smoke" /Ostrel /Update /quiet] parent=- folder=- stale=-' ] ||
    problems+=("the uninstall wrapper logged: $removal")
  installation=$(content "$stage/maps/Install.exe.log")
  # The parameters are " /quiet /Ostrel", after the program's name and a space: two spaces.
  [ "$installation" = '[  /quiet /Ostrel] parent=X86Smoke folder=C:\Program Files (x86)\Tamek\X86Smoke stale=-' ] ||
    problems+=("Install.exe (copied into the component's folder) logged: $installation")
  expect_file "$stage/maps/setup.dll" setup
  grep -q '^BR,DELETE_COMPONENT,-,200$' <<<"$lines" || problems+=("no DELETE_COMPONENT line with result 200")
  grep -q '^BR,ADD_COMPONENT,-,200$' <<<"$lines" || problems+=("no ADD_COMPONENT line with result 200")
  reg64 query "$shared" /reg:32 && problems+=("the shared key is left behind in the 32-bit view")
  if [ ${#problems[@]} -eq 0 ]; then
    ok "32-bit Brindle.exe, component mode: removal and installation through the wrapper's programs, named and answered in the 32-bit view, Install.exe taken from Common Files (x86)"
  else
    bad "32-bit Brindle.exe, component mode:$(printf '\n  - %s' "${problems[@]}")
service log:
$lines"
  fi
  cleanup_component
fi

/usr/lib/wine/wineserver64 -k 2>/dev/null
finish
