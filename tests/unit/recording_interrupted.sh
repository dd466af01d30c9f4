#!/usr/bin/env bash
# A take whose program died before STOP still gives back every sample written.
set -euo pipefail
writer=$1
work=$(mktemp -d "${HW_BUILD:-/tmp}/interrupted.XXXXXX")
trap 'rm -rf "$work"; wine reg delete "HKLM\\SOFTWARE\\Quillmark Labs" /f >/dev/null 2>&1 || true' EXIT
status=0
wine "$writer" "$(winepath -w "$work")" "$(winepath -w "$work/expected.raw")" || status=$?
[ "$status" -eq 9 ] || { echo "writer ended with $status, expected to be killed (9)"; exit 1; }
[ -s "$work/expected.raw" ] || { echo "no expected samples"; exit 1; }
sox -V1 "$work/interrupted.wav" -t raw "$work/recovered.raw"
cmp "$work/expected.raw" "$work/recovered.raw"
echo "recovered $(stat -c %s "$work/recovered.raw") bytes, as written"
