#!/usr/bin/env bash
# Loopback through the virtual soundcard: a 1 kHz half-scale tone plays into the guitar sink, streamloop
# moves it for a few seconds, and the speaker monitor's recording (frequency, level, gaps) and streamloop's
# own takes are checked.   loopback.sh <streamloop.exe> <mode>   (LOOPBACK_KEEP=1 keeps the working folder)
# Wine's audio threads get no real-time priority on a shared machine, so a busy moment can starve the
# soundcard for longer than a chunk: a failed attempt is shown in full and tried once more.
set -euo pipefail
exe=$1
mode=$2
hz=1000
chunk=1024
# The tone's level after the input scale (1/33000 on waveIn, 1/32767 on DirectSoundCapture) and, with
# resampling, the interpolator's zero stuffing, which halves it.
case $mode in
  dsound) amplitude=0.5 ;;
  wave) amplitude=0.4965 ;;
  waveresample) amplitude=0.2482 ;;
esac
work=$(mktemp -d)
player=""
recorder=""
cleanup() {
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null || true
  [ -n "$player" ] && kill "$player" 2>/dev/null || true
  if [ -n "${LOOPBACK_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# From the tone's onset + 1 s to 0.1 s before its end: the zero-crossing rate within 1 % of the tone, each
# channel's amplitude within 5 % of the expected one, no stretch below 5 % of it longer than a chunk.
analyse() {
  sox "$1" -t dat - | awk -v amp="$amplitude" -v hz="$hz" -v chunk="$chunk" '
    function abs(x) { return x < 0 ? -x : x }
    /^;/ { next }
    { n++; left[n] = $2; right[n] = $3; if (abs($2) > 0.3 * amp) { if (!onset) onset = n; end = n } }
    END {
      first = onset + 44100; last = end - 4410
      if (!onset || last <= first + 22050) { print "FAILED: tone heard from " onset / 44100 " s to " end / 44100 " s"; exit 1 }
      for (f = first; f < last; f++) {
        sl += left[f] * left[f]; sr += right[f] * right[f]
        if (left[f - 1] < 0 && left[f] >= 0) crossings++
        gap = abs(left[f]) < 0.05 * amp ? gap + 1 : 0
        if (gap > longest) longest = gap
      }
      seconds = (last - first) / 44100
      measured = crossings / seconds; l = sqrt(2 * sl / (last - first)); r = sqrt(2 * sr / (last - first))
      printf "frequency %.1f Hz (tone %d), amplitude %.4f / %.4f (expected %.4f), longest gap %d frames\n", measured, hz, l, r, amp, longest
      exit !(abs(measured - hz) < 0.01 * hz && abs(l - amp) < 0.05 * amp && abs(r - amp) < 0.05 * amp && longest <= chunk)
    }'
}

# A take holds exactly the frames streamloop says it moved, behind a 44-byte header.   take <file> <frames>
take() {
  local samples bytes
  samples=$(soxi -s "$1") bytes=$(stat -c %s "$1")
  echo "$(basename "$1"): $(soxi -c "$1") ch, $(soxi -r "$1") Hz, $samples frames of $2, $bytes bytes"
  [ "$(soxi -c "$1")" = 2 ] && [ "$(soxi -r "$1")" = 44100 ] && [ "$samples" = "$2" ] && [ "$bytes" = $((44 + 4 * samples)) ]
}

attempt() {
  rm -rf "$work/takes" "$work/speaker.wav"
  mkdir "$work/takes"
  paplay -d guitar "$work/tone.wav" & player=$!
  parecord -d speaker.monitor --rate=44100 --channels=2 --format=s16le --file-format=wav "$work/speaker.wav" &
  recorder=$!
  sleep 0.5
  local moved status=0
  moved=$(wine "$exe" "$mode" 5 "$(winepath -w "$work/takes")" | tr -d "\r") || status=$?
  sleep 0.3
  kill -INT "$recorder"; wait "$recorder" || true; recorder=""
  kill "$player"; wait "$player" 2>/dev/null || true; player=""
  read -r _ fromDevice written <<<"$moved"
  echo "frames read from the device ${fromDevice:-?}, written ${written:-?}"
  analyse "$work/speaker.wav" || status=1
  take "$work/takes/Harnwick Input Signal.wav" "${fromDevice:-?}" || status=1
  take "$work/takes/Harnwick Output Signal.wav" "${written:-?}" || status=1
  return $status
}

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 12 sine "$hz" vol 0.5
if attempt; then exit 0; fi
echo "== attempt 1 failed; trying once more"
attempt
