#!/usr/bin/env bash
# Runs Harnwick Live under Wine.
# - With a screen and a sound server of your own (DISPLAY set, PulseAudio
#   answering): starts the host program on them and leaves it to you.
# - Otherwise (or with --demo): a demonstration on the virtual soundcard and
#   an Xvfb screen: a plucked-string test signal plays into the guitar input,
#   the autopilot presses Run!, lets it play, presses Stop! and Exit. The
#   host's own take recordings, the speaker output and a picture of the host
#   dialog are left in build/demo/.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/setup.sh"
"$here/build.sh" x86_64
. "$here/env.sh"
. "$here/toneloop.sh"
bin="$HW_BUILD/x86_64/bin"

own_desktop() { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && pactl info >/dev/null 2>&1; }

if [ "${1:-}" != "--demo" ] && own_desktop; then
  # The user's own screen and sound server; the project prefix still holds our registry.
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  exec wine "$bin/HarnwickLive.exe"
fi

demo="$HW_BUILD/demo"
rm -rf "$demo"; mkdir -p "$demo"
export DISPLAY=":$HW_DISPLAY_NUM"
recorder=""
cleanup() {
  stop_tone_loop
  [ -z "$recorder" ] || kill "$recorder" >/dev/null 2>&1 || true
  "$here/services.sh" stop
}
trap cleanup EXIT
"$here/services.sh" start

# Record the takes into the demo folder (input and output, numbered).
settings='HKLM\SOFTWARE\Quillmark Labs\Harnwick Live\Settings'
wine reg add "$settings" /v DISK_OUTPUT_DIRECTORY /d "$(winepath -w "$demo")" /f >/dev/null
for v in SAVE_INPUT SAVE_OUTPUT APPEND_TAKE_NUMBER; do wine reg add "$settings" /v "$v" /d TRUE /f >/dev/null; done

# A guitar-like phrase: plucked strings from sox's synthesiser.
sox -n -r 44100 -c 1 "$demo/guitar.wav" synth 0.6 pluck E2 : synth 0.6 pluck A2 : synth 0.6 pluck D3 : \
    synth 0.6 pluck G3 : synth 1.2 pluck E2 gain -3
start_tone_loop "$demo/guitar.wav"
parecord -d speaker.monitor --file-format=wav "$demo/speaker.wav" 2>/dev/null & recorder=$!

wine "$bin/HarnwickLive.exe" & host=$!
status=0
wine "$HW_BUILD/x86_64/tools/autopilot/autopilot.exe" 6 "$(winepath -w "$demo/host-dialog.bmp")" || status=$?
wait "$host" || true
convert "$demo/host-dialog.bmp" "$demo/host-dialog.png" 2>/dev/null && rm -f "$demo/host-dialog.bmp"
echo
echo "Demonstration finished (autopilot status $status). Left in $demo:"
ls -1 "$demo" | sed 's/^/  /'
exit $status
