#!/usr/bin/env bash
# Installs Brindle Sample 1.0 into the Wine prefix $WINEPREFIX the way the maker's installer
# leaves it: the program files, registry values in the 32-bit and the 64-bit view, a shortcut on
# the all-users desktop and one in the all-users program menu, the uninstaller's files (the
# installer wrapper) under Common Files\Tamek\ZNQ\2.0.0, the uninstall log (Uninst.ini, in the
# system's ANSI code page with CR LF lines) and the enciphered install log.
# The install log is enciphered here with openssl, independently of Brindle's own code, as
# the installer does it: DES-CBC, zero initialisation vector, PKCS#5 padding, key = the first 8
# bytes of the MD5 digest of the shared pass phrase.
# Usage: demo/install/install_sample.sh <win64 build folder>   (a wineserver should be running)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
wine=/usr/lib/wine/wine64
tool="$build/demo/demo_tool.exe"
unix_path() { local p=${1#[Cc]:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
folder() { "$wine" "$tool" folder "$1" | tr -d '\r'; }

ins='C:\Program Files (x86)\Tamek\Brindle Sample'
common=$(folder 44)     # Common Files of the 32-bit program: C:\Program Files (x86)\Common Files
desktop=$(folder 25)    # all-users desktop
programs=$(folder 23)   # all-users program menu
appdata=$(folder 35)    # machine-wide application data

echo "install: files into $ins"
mkdir -p "$(unix_path "$ins")"
cp -r "$here/files/." "$(unix_path "$ins")/"
cp "$build/demo/1.0/SampleApp.exe" "$(unix_path "$ins")/"

echo "install: uninstaller (installer wrapper) 2.0.0 into $common\\Tamek\\ZNQ"
znq=$(unix_path "$common\\Tamek\\ZNQ")
mkdir -p "$znq/2.0.0"
for f in Uninst.exe setup.dll UninstRsc.dll UninstRsc_ENGLISH.dll; do
  printf 'Placeholder of the maker'"'"'s uninstaller file %s 2.0.0.\r\n' "$f" > "$znq/2.0.0/$f"
done
printf '2.0.0\r\n' > "$znq/2.0.0/UninsVer.txt"
printf 'Placeholder of the maker'"'"'s uninstall wrapper.\r\n' > "$znq/UninstallWrapper.exe"

echo "install: registry values (32-bit and 64-bit views)"
reg() { "$wine" reg add "$@" /f >/dev/null; }
key='HKLM\SOFTWARE\Tamek\Brindle Sample'
reg "$key" /v Version /t REG_SZ /d 1.0 /reg:32
reg "$key" /v InstallDir /t REG_SZ /d "$ins" /reg:32
reg "$key" /v Level /t REG_DWORD /d 1 /reg:32
reg "$key" /v Platform /t REG_SZ /d x64 /reg:64
reg 'HKLM\SOFTWARE\Tamek_Inc_RW\Marrowgate Shared' /v UninstallWrapperPath /t REG_SZ \
    /d "$common\\Tamek\\ZNQ\\UninstallWrapper.exe" /reg:32

echo "install: shortcuts on the desktop and in the program menu"
"$wine" "$tool" make-shortcut "$desktop\\Brindle Sample.lnk" "$ins\\SampleApp.exe" "$ins" "Brindle Sample"
"$wine" "$tool" make-shortcut "$programs\\Brindle Sample\\Brindle Sample.lnk" "$ins\\SampleApp.exe" "$ins" "Brindle Sample"

echo "install: uninstall log $ins\\Uninst.ini"
escape() { printf '%s' "$1" | sed 's/\\/\\\\\\\\/g'; }
sed -e "s|@DESKTOP@|$(escape "$desktop")|g" -e "s|@PROGRAMS@|$(escape "$programs")|g" \
    -e 's/$/\r/' "$here/Uninst.ini" > "$(unix_path "$ins")/Uninst.ini"

log="$appdata\\Tamek_Inc_RW\\Ostrel\\TamekOstrelLog.dat"
echo "install: install log $log (enciphered)"
mkdir -p "$(dirname "$(unix_path "$log")")"
"$here/log_cipher.sh" encode < "$here/AppLocalList.xml" > "$(unix_path "$log")"
