#!/usr/bin/env bash
# The demo's run, under an X display (tools/demo.sh starts it under xvfb-run after the build):
# a fresh Wine prefix, Brindle Sample 1.0 installed as the maker's installer leaves it, then
# Brindle.exe started as the update service starts it, once per patch package (1.0 -> 1.1 ->
# 2.0), with every dialog answered and pictured by demo_tool. Ends with a table of what the
# user can check before and after (install-log versions, files, registry values in both views,
# shortcuts, uninstall-log entries) and says plainly whether the sample reached version 2.0.
# Every wait has a time-out. Checks what it shows: the display name and versions in the install
# log after each package, the running-program box (answered [Réessayer] once the program is
# closed) and the final message of each run. Exit code 0 when every check held, 1 otherwise.
# Usage: demo/run_demo.sh <repository> <output folder>
set -uo pipefail
root=$1; out=$2
build="$root/build/win64"
wine=/usr/lib/wine/wine64
tool="$build/demo/demo_tool.exe"
export WINEPREFIX=${WINEPREFIX:-$build/demo-prefix}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
problems=()
problem() { problems+=("$1"); echo "!! $1"; }
unix_path() { local p=${1#[Cc]:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
win_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
w() { timeout 60 "$wine" "$@" </dev/null; }   # one short Wine command, never waiting for ever
cr() { tr -d '\r'; }

echo "== a fresh Wine prefix: $WINEPREFIX"
/usr/lib/wine/wineserver64 -k 2>/dev/null
rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
timeout 180 "$root/tools/wine-prefix.sh" || { echo "!! the Wine prefix could not be made"; exit 1; }
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null; jobs -p | xargs -r kill 2>/dev/null' EXIT
trap 'echo "!! stopped by the time-out"; exit 124' TERM
w cmd /c exit >/dev/null 2>&1

echo "== Brindle Sample 1.0, installed as the maker's installer leaves it"
timeout 180 "$root/demo/install/install_sample.sh" "$build" || problem "the installation of 1.0 failed"
echo "== the patch packages (gcab)"
timeout 60 "$root/demo/packages/make_packages.sh" "$build" "$out/packages" || problem "the packages could not be built"

ins='C:\Program Files (x86)\Tamek\Brindle Sample'
ins64='C:\Program Files\Tamek\Brindle Sample'
appdata=$(w "$tool" folder 35 | cr)
desktop=$(w "$tool" folder 25 | cr)
programs=$(w "$tool" folder 23 | cr)
common=$(w "$tool" folder 44 | cr)
appdata_roaming=$(w "$tool" folder 26 | cr)
install_log=$(unix_path "$appdata\\Tamek_Inc_RW\\Ostrel\\TamekOstrelLog.dat")
service_log=$(unix_path "$appdata_roaming\\Tamek_Inc_RW\\ServiceLog\\OstrelService\\Tamek_ACT_SERVICELOG_tmp.txt")
pictures="$out/pictures"
mkdir -p "$pictures"

# What a user could check, as "item<TAB>value" lines.
snapshot() {
  local xml
  xml=$("$root/demo/install/log_cipher.sh" decode < "$install_log" 2>/dev/null | cr)
  [ -n "$xml" ] || echo -e "install log\t(cannot be deciphered)"
  for t in Application Uninstall; do
    printf 'install log: %s version\t%s\n' "$t" \
      "$(grep -o "<Version Type=\"$t\">[^<]*" <<<"$xml" | sed 's/.*>//' | head -1)"
  done
  printf 'install log: display name\t%s\n' "$(grep -o '<DisplayName>[^<]*' <<<"$xml" | sed 's/.*>//' | head -1)"
  local base label f rel value
  for base in "$ins" "$ins64"; do
    label="file"; [ "$base" = "$ins64" ] && label="file (64-bit folder)"
    [ -d "$(unix_path "$base")" ] || continue
    while IFS= read -r f; do
      rel=${f#"$(unix_path "$base")/"}
      [ "$rel" = Uninst.ini ] && continue
      case "$f" in
        *.exe) value="version $(w "$tool" version "$base\\${rel//\//\\}" | cr)" ;;
        *) value=$(head -1 "$f" | cr) ;;
      esac
      printf '%s: %s\t%s\n' "$label" "${rel//\//\\}" "$value"
    done < <(find "$(unix_path "$base")" -type f | sort)
  done
  printf 'uninstaller folders (ZNQ)\t%s\n' \
    "$(find "$(unix_path "$common\\Tamek\\ZNQ")" -mindepth 1 -maxdepth 1 -type d -printf '%f ' 2>/dev/null | xargs)"
  local view
  for view in 32 64; do
    w reg query 'HKLM\SOFTWARE\Tamek\Brindle Sample' /reg:$view 2>/dev/null | cr |
      awk -v view=$view '$2 ~ /^REG_/ { name=$1; $1=""; $2=""; sub(/^ +/, ""); printf "registry %s-bit: %s\t%s\n", view, name, $0 }'
  done
  while IFS= read -r f; do
    value=$(w "$tool" shortcut "$(win_path "$f")" | cr)
    case "$f" in
      "$(unix_path "$desktop")"/*) rel="desktop: ${f#"$(unix_path "$desktop")/"}" ;;
      *) rel="program menu: ${f#"$(unix_path "$programs")/"}" ;;
    esac
    printf 'shortcut on the %s\t-> %s\n' "${rel//\//\\}" "${value##*\\}"
  done < <(find "$(unix_path "$desktop")" "$(unix_path "$programs")/Brindle Sample" -name '*.lnk' 2>/dev/null | sort)
  local ulog
  ulog=$(unix_path "$ins\\Uninst.ini")
  if [ -f "$ulog" ]; then
    printf 'uninstall log: [Startup] Version\t%s\n' "$(grep -m1 '^Version=' <(sed -n '/^\[Startup\]/,/^\[/p' "$ulog") | cr | cut -d'"' -f2)"
    for section in Files Files64 Registry Registry64 UninstTarget; do
      printf 'uninstall log: entries in [%s]\t%s\n' "$section" \
        "$(awk -v s="[$section]" '{ sub(/\r$/, "") } /^\[/ { in_s = ($0 == s); next } in_s && /=/ { n++ } END { print n + 0 }' "$ulog")"
    done
  fi
}

# run_package <version> <caption of the running program to close, or empty> <final message's start>
codes=()
run_package() {
  local version=$1 close=$2 final=$3
  local folder="$appdata\\Tamek_Inc_RW\\Updates\\$version"
  mkdir -p "$(unix_path "$folder")"
  cp -r "$out/packages/$version/." "$(unix_path "$folder")/"
  # The update service writes the list; Brindle.exe deletes it once read.
  cat > "$(unix_path "$folder")/list.xml" <<LIST
<?xml version="1.0" encoding="UTF-8"?>
<DiffLocalList>
  <DiffLocal Order="1">
    <FileName>BrindleSample_$version.diff</FileName>
    <AppName>BrindleSample</AppName>
    <DisplayName>Brindle Sample</DisplayName>
  </DiffLocal>
</DiffLocalList>
LIST
  local before=0; [ -f "$service_log" ] && before=$(stat -c %s "$service_log")
  echo "\$ Brindle.exe \"$folder\\list.xml\" /normal_install"
  local args=(drive --timeout 240 --pictures "$(win_path "$pictures")\\$version-")
  [ -n "$close" ] && args+=(--close "$close")
  local code=0
  timeout 300 "$wine" "$tool" "${args[@]}" -- "$(win_path "$build/bin/Brindle.exe")" \
    "$folder\\list.xml" /normal_install </dev/null | cr | tee "$out/run-$version.txt" || code=${PIPESTATUS[0]}
  echo "  exit code: $code"
  # The final message names the application by the list's display name.
  grep -qF "  dialog \"Brindle Sample\": $final" "$out/run-$version.txt" ||
    problem "package $version: no final message \"$final\" titled Brindle Sample"
  codes+=("$version: $code")
  [ "$code" -eq 200 ] || problem "package $version: Brindle.exe ended with $code, not 200"
  echo "  service-log lines of the run:"
  [ -f "$service_log" ] && tail -c +$((before + 1)) "$service_log" | sed 's/^\xEF\xBB\xBF//' | cr | sed 's/^/    /'
  echo
}

snapshot > "$out/state-1.0.txt"

echo "== Brindle.exe started by hand, without a list: it refuses to start"
code=0
timeout 120 "$wine" "$tool" drive --timeout 60 -- "$(win_path "$build/bin/Brindle.exe")" </dev/null | cr ||
  code=${PIPESTATUS[0]}
echo "  exit code: $code"
[ "$code" -eq 100 ] || problem "Brindle.exe without arguments ended with $code, not 100"

echo "== package 1.0 -> 1.1"
run_package 1.1 "" "Mise à jour logicielle terminée."
snapshot > "$out/state-1.1.txt"
expect_in() {  # <state file> <item of the table> <value, or "-" for none>
  local value
  value=$(K="$2" awk -F'\t' '$1 == ENVIRON["K"] { print $2 }' "$1")
  [ "${value:--}" = "$3" ] || problem "in $(basename "$1"), $2 is '${value:--}', not '$3'"
}
expect_in "$out/state-1.1.txt" 'install log: Application version' 1.1
expect_in "$out/state-1.1.txt" 'install log: display name' 'Brindle Sample'

echo "== package 1.1 -> 2.0, with Brindle Sample running and lib\\engine.dat in use"
"$wine" "$ins\\SampleApp.exe" 240000 </dev/null >/dev/null 2>&1 &
holder_out="$out/holder.txt"
"$wine" "$tool" hold "$ins\\lib\\engine.dat" 240000 </dev/null >"$holder_out" 2>&1 &
holder=$!
for _ in $(seq 50); do grep -q holding "$holder_out" 2>/dev/null && break; sleep 0.2; done
sleep 1
run_package 2.0 "Brindle Sample 1.1" "Mise à niveau du logiciel terminée."
grep -q "^  dialog \"Brindle Sample\": Le logiciel suivant ne peut pas être mis à jour parce qu'il est en cours d'exécution" "$out/run-2.0.txt" ||
  problem "package 2.0: the running-program box did not appear"
grep -q '^  pressing \[Réessayer\]' "$out/run-2.0.txt" ||
  problem "package 2.0: the running-program box was not answered [Réessayer] after closing the program"
echo "  queued for the next restart (PendingFileRenameOperations):"
w reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
  cr | grep -i REG_MULTI_SZ | sed 's/.*REG_MULTI_SZ *//; s/\\0/\n/g' | sed '/^$/d; s/^/    /'
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
echo "== restart (wineboot -r): the queued file operations are carried out"
timeout 120 "$wine" wineboot -r </dev/null >/dev/null 2>&1
snapshot > "$out/state-2.0.txt"

echo
echo "== what changed"
awk -F'\t' '
  FNR == 1 { file++ }
  { if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } value[file, $1] = $2 }
  function cut(s) { return length(s) > 30 ? "..." substr(s, length(s) - 26) : s }
  function shorter(s) { return length(s) > 46 ? "..." substr(s, length(s) - 42) : s }
  END {
    printf "%-46s  %-30s  %-30s  %-30s\n", "", "1.0 (installed)", "after 1.1", "after 2.0"
    for (i = 1; i <= n; i++) {
      k = order[i]; a = value[1, k]; b = value[2, k]; c = value[3, k]
      mark = (a == b && b == c) ? " " : "*"
      printf "%s%-45s  %-30s  %-30s  %-30s\n", mark, shorter(k), cut(a == "" ? "-" : a),
             cut(b == "" ? "-" : b), cut(c == "" ? "-" : c)
    }
    print "(* = changed)"
  }' "$out/state-1.0.txt" "$out/state-1.1.txt" "$out/state-2.0.txt"

echo
echo "== pictures"
shopt -s nullglob
pics=("$pictures"/*.png)
for p in "${pics[@]}"; do echo "  $p"; done
ls "$pictures"/*progress.png >/dev/null 2>&1 || problem "no picture of the progress dialog"
ls "$pictures"/*message.png >/dev/null 2>&1 || problem "no picture of the final message"
final=$(grep -P '^install log: Application version\t' "$out/state-2.0.txt" | cut -f2)
[ "$final" = 2.0 ] || problem "the install log says version ${final:-(none)}, not 2.0"
[ -f "$(unix_path "$ins\\themes.txt")" ] || problem "themes.txt (added by 2.0) is missing"
grep -q 'Engine data 2.0' "$(unix_path "$ins\\lib\\engine.dat")" 2>/dev/null ||
  problem "lib\\engine.dat was not replaced at the restart"
# What the packages' other records promise, as the user can check it after 2.0.
expect() { expect_in "$out/state-2.0.txt" "$@"; }  # <item> <value after 2.0, or "-">
expect 'install log: display name' 'Brindle Sample 2'  # the 2.0 package's update group renames it
expect 'file: notes_old.txt' -
expect 'file: Help\guide.txt' -
expect 'file (64-bit folder): helper64.txt' '64-bit helper 1.1'
expect 'registry 32-bit: Version' 2.0
expect 'registry 32-bit: Level' -
expect 'registry 32-bit: Edition' 0x20
expect 'registry 32-bit: Plugins' 'C:\Program Files (x86)\Tamek\Brindle Sample\plugins'
expect 'registry 64-bit: Platform' 'x64, 2.0'
expect 'registry 64-bit: Helper64' 'C:\Program Files\Tamek\Brindle Sample\helper64.txt'
expect 'shortcut on the desktop: Brindle Sample.lnk' -
expect 'shortcut on the desktop: Brindle Sample 2.lnk' '-> SampleApp.exe'
expect 'shortcut on the program menu: Brindle Sample\Read me.lnk' '-> readme.txt'
expect 'uninstall log: entries in [UninstTarget]' 1

echo
echo "== result"
echo "  exit codes of Brindle.exe: ${codes[*]}"
if [ ${#problems[@]} -eq 0 ]; then
  echo "  demo passed: Brindle Sample is at version 2.0; ${#pics[@]} pictures in $pictures"
  exit 0
fi
echo "  demo FAILED:"
for p in "${problems[@]}"; do echo "   - $p"; done
exit 1
