#!/usr/bin/env bash
# Carries a 440 Hz tone from the guitar sink to the speaker monitor through
# the running graph, once per sound system, and checks the recording's pitch
# and level.   loopback_test.sh <loopback_run.exe>
set -euo pipefail
exe=$1
work=$(mktemp -d)
players=()
cleanup() {
  for pid in "${players[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${HW_KEEP_LOOPBACK:-}" ]; then echo "recordings kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Half scale, long enough to outlast one run.
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 440 vol 0.5

# system (test name) and the RMS the speaker should hear: a half-scale sine
# has an RMS of 0.354; the waveOut interpolator halves the level by design.
for run in "WaveApi 0.177" "WaveApiAtTheProcessingRate 0.354" "DirectSound 0.354"; do
  read -r system expected <<<"$run"
  paplay -d guitar "$work/tone.wav" & players=("$!")
  parecord -d speaker.monitor --rate=44100 --channels=2 --format=s16le --file-format=wav "$work/$system.wav" &
  players+=("$!")
  sleep 0.5
  HW_LOOPBACK_SECONDS=4 wine "$exe" --gtest_filter="*.$system" || fail "$system: the graph did not run"
  sleep 0.5
  for pid in "${players[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  players=()

  # The last second heard before the stop: by then the output has settled
  # (its first chunks may land behind the play position until the first resync).
  sox "$work/$system.wav" -c 1 "$work/$system-heard.wav" remix 1 reverse silence 1 0.02 2% trim 0.2 1.0 reverse \
    2>/dev/null \
    || fail "$system: nothing was heard"
  stats=$(sox "$work/$system-heard.wav" -n stat 2>&1)
  length=$(awk '/Length \(seconds\)/ {print $3}' <<<"$stats")
  rms=$(awk '/RMS +amplitude/ {print $3}' <<<"$stats")
  # Pitch from the low band: the waveOut interpolator leaves images that add zero crossings.
  pitch=$(sox "$work/$system-heard.wav" -n lowpass 1000 stat 2>&1 | awk '/Rough +frequency/ {print $3}')
  echo "$system: heard ${length}s, RMS $rms (expected $expected), frequency $pitch Hz"
  awk -v l="$length" 'BEGIN { exit !(l >= 0.99) }' || fail "$system: only ${length}s of tone"
  awk -v r="$rms" -v e="$expected" 'BEGIN { exit !(r > 0.85 * e && r < 1.15 * e) }' || fail "$system: level $rms"
  awk -v f="$pitch" 'BEGIN { exit !(f > 430 && f < 450) }' || fail "$system: pitch $pitch Hz"
done
