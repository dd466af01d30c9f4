#!/usr/bin/env bash
# The 64-bit packages under Wine, as a user meets them (run by
# scripts/package.sh --test, and by CTest as package_test after packing the builds):
#  - the setup, silently, in the project's test prefix: the files and their
#    version resources, the COM classes in the install folder, the uninstall
#    entry; the Start menu entry's target plays a session (autopilot, the tone
#    reaches the speaker); the silent uninstaller leaves no file, class, filter
#    or entry of ours but the settings; a second installation removed with
#    /REMOVESETTINGS leaves no key of ours; a setup whose plug-in cannot be
#    registered stops and leaves nothing behind;
#  - the zip unpacked into a fresh prefix where, as for a standard user, the
#    product's machine-wide class keys and its settings key are not writable:
#    the program registers both DLLs for the user; then, with the class keys
#    writable again, it registers them beside it and plays a session, telling
#    once that the settings cannot be saved.
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
[ -f "$HW_RUNTIME/wineserver.pid" ] || own_services=1
cleanup() {
  [ -n "${fresh_server:-}" ] && WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1
  [ "$own_services" = 1 ] && "$root/scripts/services.sh" stop
  rm -rf "$work"
}
trap cleanup EXIT
[ "$own_services" = 1 ] && "$root/scripts/services.sh" start

check() {  # check <what> <command...>
  if "${@:2}" >/dev/null 2>&1; then echo "ok    $1"; else echo "FAIL  $1"; failures=$((failures + 1)); fi
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
for f in HarnwickLive.exe HarnwickLive.dll HarnwickAmp.dll HarnwickReamp.exe HarnwickLatency.exe; do
  check "version $version in $f" test "$(wine "$pkgcheck" version "$installed\\$f" | tr -d '\r')" = "$version"
done
check "plug-in class served from the install folder" has "$(server HKCR "$amp")" "$installed\\HarnwickAmp.dll"
check "reader class served from the install folder" has "$(server HKCR "$reader")" "$installed\\HarnwickLive.dll"
check "dump class served from the install folder" has "$(server HKCR "$dump")" "$installed\\HarnwickLive.dll"
check "reader filter registered" wine reg query "$filters\\$reader"
# Read and write (0x2001f, as Wine spells it) for the Users group.
check "settings key writable by the Users group" \
  grep -qF '(A;CI;CCDCLCSWRPRC;;;BU)' <<<"$(wine "$pkgcheck" dacl "SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings")"
check "installed programs list: version" test "$(regvalue "$uninstall" DisplayVersion)" = "$version"
check "installed programs list: size" test "$(( $(regvalue "$uninstall" EstimatedSize) ))" -gt 0
check "Start menu: manual" test -f "$menu/Harnwick Live manual.lnk"
check "Start menu: latency check" test -f "$menu/Harnwick Live latency check.lnk"
target=$(wine "$pkgcheck" shortcut "$(winepath -w "$menu/Harnwick Live.lnk")" | tr -d '\r')
check "Start menu entry targets the installed program" has "$target" "$installed\\HarnwickLive.exe"
check "a session from the Start menu entry's target" play_session "$target" "$work/installed.log"
check "settings stored by the session" wine reg query "$settings" /v times

check "silent uninstall" wine "$folder/Uninstall.exe" /S
await_uninstall
check "no file of ours in Program Files" test ! -e "$folder"
for c in "$amp" "$reader" "$dump"; do check "no class $c" nokey "HKCR\\CLSID\\$c"; done
check "no filter registration" nokey "$filters\\$reader"
check "no filter registration (dump)" nokey "$filters\\$dump"
check "no installed programs entry" nokey "$uninstall"
check "no Start menu entries" test ! -e "$menu"
check "settings kept" wine reg query "$settings" /v times

check "second install" wine "$setup" /S
check "uninstall removing the settings" wine "$folder/Uninstall.exe" /S /REMOVESETTINGS
await_uninstall
check "no key of ours left" nokey "$product"
check "no file of ours left after the second uninstall" test ! -e "$folder"

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
WINEPREFIX_OVERRIDE="$WINEPREFIX" "$root/scripts/services.sh" prepare
wineserver -p >/dev/null 2>&1 & fresh_server=$!
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
