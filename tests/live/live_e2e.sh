#!/usr/bin/env bash
# Plays a 440 Hz tone into the guitar input while the end-to-end tests drive the host, and checks that it
# reached the speaker (unless LIVE_SPEAKER_CHECK=0). Usage: live_e2e.sh <live_test.exe> [gtest arguments]
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/toneloop.sh"
driver=$1; shift
work=$(mktemp -d "${HW_BUILD:-/tmp}/live.XXXXXX")
recorder=""
cleanup() {
  stop_tone_loop
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

sox -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 10 sine 440 gain -10
start_tone_loop "$work/tone.wav"
parecord -d speaker.monitor --file-format=wav "$work/speaker.wav" & recorder=$!

wine "$driver" "$@"
status=$?

kill "$recorder" 2>/dev/null; wait "$recorder" 2>/dev/null; recorder=""
[ "${LIVE_SPEAKER_CHECK:-1}" = 0 ] && exit $status
# What the speaker got over the whole run: the processed tone for several seconds.
peak=$(sox "$work/speaker.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
loud=$(sox "$work/speaker.wav" -n silence 1 0.05 2% stat 2>&1 | awk '/Length \(seconds\)/ {print $3}')
echo "speaker: peak ${peak:-none}, ${loud:-0} s from the first sound to the end"
awk -v p="${peak:-0}" 'BEGIN { exit !(p > 0.05) }' || { echo "the tone did not reach the speaker"; status=1; }
exit $status
