#!/usr/bin/env bash
# Runs a program under Wine while a PulseAudio loopback copies the virtual
# speaker to the guitar input, as a cable from the soundcard's output to its
# input would. Usage: withloopback.sh <program.exe> [arguments]
set -uo pipefail
module=$(pactl load-module module-loopback source=speaker.monitor sink=guitar latency_msec=20) || exit 1
trap 'pactl unload-module "$module"' EXIT
wine "$@"
