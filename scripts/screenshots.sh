#!/usr/bin/env bash
# Shows every dialog of the user interface on the virtual screen and saves
# what the screen shows as PNG pictures in build/screenshots/, for looking at
# after a layout change. The same run checks that texts fit, controls do not
# overlap and the wizard picture shows (the ui_look_test program), and that
# the latency check's dialog shows a measured round trip.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
"$here/setup.sh"
"$here/build.sh" x86_64
. "$here/env.sh"
trap '"$here/services.sh" stop' EXIT
"$here/services.sh" start
export DISPLAY=":$HW_DISPLAY_NUM"
tests="$HW_BUILD/x86_64/tests/ui"
latency="$HW_BUILD/x86_64/tests/latency"
rm -rf "$tests/screenshots" "$latency/screenshots"
status=0
(cd "$tests" && wine ./ui_look_test.exe) || status=$?
# The latency check measures through a loopback from the speaker to the guitar input.
(cd "$latency" && "$HW_ROOT/tests/latency/withloopback.sh" ./latency_dialog_test.exe) || status=$?
mkdir -p "$HW_BUILD/screenshots"
for bmp in "$tests"/screenshots/*.bmp "$latency"/screenshots/*.bmp; do
  png="$HW_BUILD/screenshots/$(basename "${bmp%.bmp}").png"
  convert "$bmp" "$png"
  echo "$png"
done
exit $status
