#!/usr/bin/env bash
# "HarnwickLatency /measure" on the virtual soundcard with nothing connecting
# the speaker to the guitar input: it must say that no signal came back and
# end with exit code 2. Recording is switched on in the settings: the check
# must neither write a take nor count one.
#   nosignal.sh <HarnwickLatency.exe>
set -uo pipefail
exe=$1
key='HKLM\SOFTWARE\Quillmark Labs\Harnwick Live\Settings'
work=$(mktemp -d "${HW_BUILD:-/tmp}/latencynosignal.XXXXXX")
trap 'wine reg delete "$key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
mkdir "$work/takes"
takes=$(winepath -w "$work/takes" | sed 's/\\/\\\\/g')
# One import (one Wine start): the key anew, with recording on.
cat >"$work/settings.reg" <<REG
REGEDIT4

[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings]

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings]
"USE_DIRECTX"="FALSE"
"SAVE_INPUT"="TRUE"
"SAVE_OUTPUT"="TRUE"
"TAKE_NUMBER"="7"
"DISK_OUTPUT_DIRECTORY"="$takes"
REG
wine regedit /s "$(winepath -w "$work/settings.reg")"

wine "$exe" /measure >"$work/output"
status=$?
output=$(tr -d '\r' <"$work/output")
echo "$output"
echo "exit code $status"
failed=0
echo "$output" | grep -q '^No signal came back\.' || { echo "FAILED: no \"No signal came back.\" line"; failed=1; }
[ "$status" = 2 ] || { echo "FAILED: exit code $status, expected 2"; failed=1; }
files=$(ls -A "$work/takes")
[ -z "$files" ] || { echo "FAILED: the check wrote $files"; failed=1; }
take=$(wine reg query "$key" /v TAKE_NUMBER | tr -d '\r' | awk '/TAKE_NUMBER/ {print $3}')
[ "$take" = 7 ] || { echo "FAILED: TAKE_NUMBER is $take, expected 7"; failed=1; }
exit $failed
