#!/usr/bin/env bash
# The demo: builds Brindle.exe and runs it under Wine the way the update service starts it,
# answering its dialogs as a person would, then shows the service-log lines it wrote and its
# exit codes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
tools/build.sh win64 >/dev/null
export WINEPREFIX="$root/build/win64/wineprefix" WINEARCH=win64 WINEDEBUG=-all
bin="$root/build/win64/bin"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -s "$root" "$bin" <<'DEMO'
root=$1; bin=$2
"$root/tools/wine-prefix.sh"
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 &
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
log=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming 2>/dev/null | head -1)/Tamek_Inc_RW/ServiceLog/OstrelService/Tamek_ACT_SERVICELOG_tmp.txt
run() {
  local before=0; [ -f "$log" ] && before=$(stat -c %s "$log")
  echo "\$ Brindle.exe $*"
  /usr/lib/wine/wine64 "$bin/Brindle.exe" "$@" &
  local pid=$!
  if [ $# -lt 2 ]; then /usr/lib/wine/wine64 "$bin/answer_dialog.exe" "Ostrel Service" OK; fi
  local code=0; wait $pid || code=$?
  echo "  exit code: $code"
  echo "  service log ($log):"
  tail -c +$((before + 1)) "$log" | sed 's/^\xEF\xBB\xBF//; s/\r$//; s/^/    /'
  echo
}
run
run 'C:\a\b\list.xml' /component_install X
run 'C:\a\b\list.xml' /normal_install X Y
/usr/lib/wine/wineserver64 -k 2>/dev/null
DEMO
