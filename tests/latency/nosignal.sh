#!/usr/bin/env bash
# "HarnwickLatency /measure" with no loopback, recording switched on: with the
# devices that exist it says no signal came back (exit 2), also when the input
# delivers nothing at all (its source suspended), and with an input that does
# not exist it prints the device's error instead of holding the script in a
# box (exit 3); none writes or counts a take.   nosignal.sh <exe>
set -uo pipefail
exe=$1
key='HKLM\SOFTWARE\Quillmark Labs\Harnwick Live\Settings'
work=$(mktemp -d "${HW_BUILD:-/tmp}/latencynosignal.XXXXXX")
trap 'pactl suspend-sink guitar 0; wine reg delete "$key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
mkdir "$work/takes"
takes=$(winepath -w "$work/takes" | sed 's/\\/\\\\/g')
failed=0

# One case: <input device setting> <expected exit code> <expected line (regex)>
# [<DirectSound: TRUE|FALSE>].
console_case() {
  local device=$1 expected=$2 line=$3 directx=${4:-FALSE}
  # One import (one Wine start): the key anew, with recording on.
  cat >"$work/settings.reg" <<REG
REGEDIT4

[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings]

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings]
"USE_DIRECTX"="$directx"
"WAVE_IN_DEVICE"="$device"
"SAVE_INPUT"="TRUE"
"SAVE_OUTPUT"="TRUE"
"TAKE_NUMBER"="7"
"DISK_OUTPUT_DIRECTORY"="$takes"
REG
  wine regedit /s "$(winepath -w "$work/settings.reg")"
  # A box nobody closes, or a loop that waits for input that never comes, would
  # hold the program: the time limit (ten times a measurement) turns that into a failure.
  timeout 60 wine "$exe" /measure >"$work/output"
  local status=$? output
  output=$(tr -d '\r' <"$work/output")
  echo "input device $device: exit code $status"
  echo "$output"
  echo "$output" | grep -q -E "$line" || { echo "FAILED: no line matching \"$line\""; failed=1; }
  [ "$status" = "$expected" ] || { echo "FAILED: exit code $status, expected $expected"; failed=1; }
  local files take
  files=$(ls -A "$work/takes")
  [ -z "$files" ] || { echo "FAILED: the check wrote $files"; failed=1; }
  take=$(wine reg query "$key" /v TAKE_NUMBER | tr -d '\r' | awk '/TAKE_NUMBER/ {print $3}')
  [ "$take" = 7 ] || { echo "FAILED: TAKE_NUMBER is $take, expected 7"; failed=1; }
}

console_case 0 2 '^No signal came back\.'
# The default input is the guitar sink's monitor: suspended, it delivers nothing.
pactl suspend-sink guitar 1
console_case 0 2 '^No signal came back\.' TRUE
pactl suspend-sink guitar 0
console_case 99 3 "^Harnwick Live: While using the soundcard for recording,.*'.+'"
exit $failed
