#!/usr/bin/env bash
# Latency benchmark of the live loop against a plain pass-through on the same
# stack (Wine + the private PulseAudio server), all in one run:
# - a probe: a stereo null sink; the click signal is played into its left
#   channel through a remap sink, the programs capture that channel through a
#   remap source (the default input for the run) and play into its right
#   channel through another remap sink (the default output for the run). One
#   recorder of the probe's monitor sees input and output on one clock.
# - runs: the pass-through (passthru.exe) with waveIn/waveOut and with
#   DirectSound, then the host program in graph and direct mode with each;
#   the whole set several rounds over.
# - figures: round trip (median over the clicks) and its spread over the
#   starts (largest minus smallest per-start median), program start to dialog
#   and Run! to first audio, each as a ratio to the pass-through of the same
#   sound system (see probe.py).
# Expects the services of scripts/services.sh to run (scripts/bench.sh starts
# them). Unloads what it loads, restores the default devices and the host's
# settings, and ends the programs it starts.
#   HW_BENCH_CHUNK   chunk frames for both sound systems (default 512)
#   HW_BENCH_SECONDS seconds each program runs (default 4)
#   HW_BENCH_ROUNDS  rounds (starts) of all six programs (default 5)
#   HW_BENCH_SYSTEMS sound systems to run (default "wave ds")
#   HW_BENCH_BIN     folder of HarnwickLive.exe (default: this build's bin),
#                    to measure another build against the same pass-through
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../../scripts/env.sh"
chunk=${HW_BENCH_CHUNK:-512}
seconds=${HW_BENCH_SECONDS:-4}
rounds=${HW_BENCH_ROUNDS:-5}
systems=${HW_BENCH_SYSTEMS:-"wave ds"}
bin=${HW_BENCH_BIN:-$HW_BUILD/x86_64/bin}
tools="$HW_BUILD/x86_64/tools/latencybench"
settings='HKLM\SOFTWARE\Quillmark Labs\Harnwick Live\Settings'

. "$here/probe.sh"

work=$(mktemp -d "$HW_BUILD/latencybench.XXXXXX")
player=""
recorder=""
had_settings=0
wine reg export "$settings" "$work/settings.reg" /y >/dev/null 2>&1 && had_settings=1

cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null
  [ -n "$recorder" ] && kill -TERM "$recorder" 2>/dev/null
  wait 2>/dev/null
  probe_unload
  wine reg delete "$settings" /f >/dev/null 2>&1
  [ "$had_settings" = 1 ] && wine reg import "$work/settings.reg" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

probe_load hwbench
python3 "$here/probe.py" clicks "$work/clicks.wav"
probe_repeat hwbench_in "$work/clicks.wav" & player=$!
python3 "$here/probe.py" record "$work/probe.raw" "$work/probe.log" & recorder=$!
sleep 1

# One line per event: "<program>.<round> <event> <epoch s>".
timed() {
  local label=$1; shift
  wine "$tools/hostrun.exe" "$@" 2>"$work/stderr" | sed "s/^/$label /" >>"$work/runs" || true
  sed "s/^/  $label: /" "$work/stderr" >&2
}
host_exe=$(winepath -w "$bin/HarnwickLive.exe")
for round in $(seq "$rounds"); do
  for system in $systems; do
    timed "passthru-$system.$round" passthru "$system" "$chunk" "$seconds"
  done
  for system in $systems; do
    for mode in graph direct; do
      timed "host-$system-$mode.$round" host "$system" "$mode" "$chunk" "$seconds" "$host_exe"
    done
  done
done

kill -TERM "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=""
echo "chunk $chunk frames, 44100 Hz, 16-bit stereo, $rounds rounds of $seconds s per program"
python3 "$here/probe.py" analyse "$work/probe.raw" "$work/probe.log" "$work/runs"
