#!/usr/bin/env bash
# The 64-bit packages under Wine, as a user meets them: the setup, silently
# (files, classes, uninstall entry, a session from the Start menu entry; the
# uninstaller leaves only the settings, or nothing with /REMOVESETTINGS; a
# setup whose plug-in cannot register leaves nothing), and the zip in a fresh
# prefix where the class and settings keys are not writable (the program
# registers for the user; with the class keys writable it registers beside it
# and plays a session, telling once that the settings cannot be saved).
# Usage: package_test.sh <package folder> <version>
set -uo pipefail
pkg=$1 version=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/env.sh"
export DISPLAY=":$HW_DISPLAY_NUM"
pkgcheck="$HW_BUILD/x86_64/tests/package/pkgcheck.exe"
autopilot="$HW_BUILD/x86_64/tools/autopilot/autopilot.exe"
session="$root/tests/live/live_e2e.sh"  # plays a tone into the guitar input, checks the speaker
work=$(mktemp -d "$HW_BUILD/package-test.XXXXXX")
failures=0

# The services are started here unless a test run has started them already.
own_services=0
[ -f "$HW_RUNTIME/wineserver.started" ] || own_services=1
cleanup() {
  [ -n "${fresh_server:-}" ] && WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1
  [ "$own_services" = 1 ] && "$root/scripts/services.sh" stop
  rm -rf "$work"
}
trap cleanup EXIT
[ "$own_services" = 1 ] && "$root/scripts/services.sh" start

# A failure shows the end of what the command printed, without Wine's fixme lines. (Into a file: Wine's
# services, started by the first program of a prefix, keep a pipe open for as long as the server runs.)
check() {  # check <what> <command...>
  if "${@:2}" >"$work/check.out" 2>&1; then echo "ok    $1"; return; fi
  echo "FAIL  $1"
  failures=$((failures + 1))
  grep -v '^[0-9a-f]*:fixme:' "$work/check.out" | tr -d '\r' | tail -n 8 | sed 's/^/      /'
}
has() { grep -qiF -- "$2" <<<"$1"; }
regvalue() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
server() { wine reg query "$1\\CLSID\\$2\\InprocServer32" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
nokey() { ! wine reg query "$1" >/dev/null 2>&1; }
# Waits for the uninstaller, which runs on from a copy of itself in the temp folder.
await_uninstall() {
  sleep 0.5
  for _ in $(seq 120); do pgrep -f 'nsu[^ ]*\.tmp\\Un\.exe' >/dev/null || break; sleep 0.5; done
}
play_session() {  # play_session <program (Windows path)> <log>
  bash "$session" "$autopilot" 3 "$(winepath -w "$work/dialog.bmp")" "$1" >"$2" 2>&1
}

amp='{8C5FA956-AA2A-4623-8BDC-E495166C892E}'
reader='{6A1C6D21-3F0B-4E4B-9C5A-2B7E8D10A4C1}'
dump='{6A1C6D22-3F0B-4E4B-9C5A-2B7E8D10A4C1}'
filters='HKCR\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance'
product='HKLM\SOFTWARE\Quillmark Labs'
settings="$product\\Harnwick Live\\Settings"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\HarnwickLive'
files=(HarnwickLive.exe HarnwickLive.dll HarnwickAmp.dll HarnwickReamp.exe HarnwickLatency.exe manual_live.pdf
       manual_live.rtf)

echo "== setup: HarnwickLive-$version-win64-setup.exe"
setup="$pkg/HarnwickLive-$version-win64-setup.exe"
installed='C:\Program Files\Harnwick Live'
folder="$WINEPREFIX/drive_c/Program Files/Harnwick Live"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Harnwick Live"
wine reg delete "$product" /f >/dev/null 2>&1  # start without settings
check "silent install" wine "$setup" /S
for f in "${files[@]}" Uninstall.exe; do check "installed: $f" test -f "$folder/$f"; done
for c in "$amp HarnwickAmp.dll" "$reader HarnwickLive.dll" "$dump HarnwickLive.dll"; do
  check "class ${c% *} served from the install folder" has "$(server HKCR "${c% *}")" "$installed\\${c#* }"
done
check "reader filter registered" wine reg query "$filters\\$reader"
# Read and write (0x2001f, as Wine spells it) for the Users group.
check "settings key writable by the Users group" \
  grep -qF '(A;CI;CCDCLCSWRPRC;;;BU)' <<<"$(wine "$pkgcheck" dacl "SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings")"
check "installed programs list: version" test "$(regvalue "$uninstall" DisplayVersion)" = "$version"
for l in manual "latency check"; do check "Start menu: $l" test -f "$menu/Harnwick Live $l.lnk"; done
target="$installed\\HarnwickLive.exe"
check "Start menu entry targets the installed program" grep -qaF "$target" "$menu/Harnwick Live.lnk"
check "a session from the Start menu entry's target" play_session "$target" "$work/installed.log"
check "settings stored by the session" wine reg query "$settings" /v times

check "silent uninstall" wine "$folder/Uninstall.exe" /S
await_uninstall
check "no file of ours in Program Files" test ! -e "$folder"
for c in "$amp" "$reader" "$dump"; do check "no class $c" nokey "HKCR\\CLSID\\$c"; done
for c in "$reader" "$dump"; do check "no filter registration $c" nokey "$filters\\$c"; done
check "no installed programs entry" nokey "$uninstall"
check "no Start menu entries" test ! -e "$menu"
check "settings kept" wine reg query "$settings" /v times

check "second install" wine "$setup" /S
check "uninstall removing the settings" wine "$folder/Uninstall.exe" /S /REMOVESETTINGS
await_uninstall
check "no key of ours left" nokey "$product"

# A setup whose plug-in cannot be registered stops with its error code and
# leaves nothing behind (silent: its message is not shown).
broken="$work/broken/HarnwickLive-$version-win64"
unzip -q "$pkg/HarnwickLive-$version-win64.zip" -d "$work/broken"
echo "not a library" >"$broken/HarnwickAmp.dll"
{
  echo '!macro ProductFiles action'
  for f in "${files[@]}"; do echo "  !insertmacro \${action} \"$f\""; done
  echo '!macroend'
} >"$work/broken/files.nsh"
makensis -V1 -DVERSION="$version" -DARCH=win64 -DFILES="$broken" -DFILELIST="$work/broken/files.nsh" \
         -DOUTFILE="$work/broken-setup.exe" "$root/scripts/installer.nsi" >/dev/null
wine "$work/broken-setup.exe" /S; status=$?
check "a setup whose plug-in cannot be registered stops (code 3)" test "$status" = 3
check "the stopped setup leaves no file" test ! -e "$folder"
check "the stopped setup leaves no installed programs entry" nokey "$uninstall"
# HarnwickLive.dll was registered before the plug-in failed.
check "the stopped setup leaves no class of ours" nokey "HKCR\\CLSID\\$reader"

echo "== zip: HarnwickLive-$version-win64.zip in a fresh prefix"
export WINEPREFIX="$work/prefix"
check "fresh prefix made" env WINEPREFIX_OVERRIDE="$WINEPREFIX" "$root/scripts/services.sh" prepare
# Started in the foreground: it returns once its socket is there, so no Wine
# program below meets a server that holds the prefix but does not answer yet.
wineserver -p >/dev/null 2>&1; fresh_server=1
unzip -q "$pkg/HarnwickLive-$version-win64.zip" -d "$WINEPREFIX/drive_c"
unpacked="C:\\HarnwickLive-$version-win64"
classkeys=("Software\\Classes\\CLSID\\$amp" "Software\\Classes\\CLSID\\$reader" "Software\\Classes\\CLSID\\$dump")
check "class and settings keys denied" wine "$pkgcheck" deny "${classkeys[@]}" "SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings"

# Machine-wide registration refused: the program registers for the user. (Wine's
# COM reads only machine-wide classes, so this session cannot build its graph
# here; it is ended once the registration is seen.)
wine "$unpacked\\HarnwickLive.exe" >/dev/null 2>&1 & program=$!
for _ in $(seq 60); do [ -n "$(server 'HKCU\Software\Classes' "$reader")" ] && break; sleep 0.5; done
check "plug-in registered for the user" has "$(server 'HKCU\Software\Classes' "$amp")" "$unpacked\\HarnwickAmp.dll"
check "live filters registered for the user" has "$(server 'HKCU\Software\Classes' "$reader")" "$unpacked\\HarnwickLive.dll"
check "nothing registered machine-wide" test -z "$(server HKCR "$amp")"
kill "$program" 2>/dev/null; wait "$program" 2>/dev/null

# The class keys writable again, the settings key still not.
check "class keys allowed again" wine "$pkgcheck" allow "${classkeys[@]}"
check "a session from the unpacked zip" play_session "$unpacked\\HarnwickLive.exe" "$work/zip.log"
check "plug-in registered beside the program" has "$(server HKCR "$amp")" "$unpacked\\HarnwickAmp.dll"
check "the settings message, once" test "$(grep -c 'autopilot: message: Harnwick Live cannot save its settings' "$work/zip.log")" = 1
check "the message names the key" grep -qF 'HKEY_LOCAL_MACHINE\SOFTWARE\Quillmark Labs\Harnwick Live\Settings' "$work/zip.log"
grep -h '^autopilot\|^speaker' "$work/installed.log" "$work/zip.log" 2>/dev/null | sed 's/^/  /'

echo "package test: $failures failure(s)"
[ "$failures" -eq 0 ]
