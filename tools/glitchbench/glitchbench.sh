#!/usr/bin/env bash
# Glitch benchmark: a steady tone through the virtual soundcard, the live host
# beside a no-drop pass-through on the same sound system and chunk, all in one
# run.
# - a probe: a stereo null sink; the tone is played into its left channel
#   through a remap sink, the programs capture that channel (the default input
#   for the run) and play into its right channel (the default output), and one
#   recorder per program run takes the probe's monitor.
# - rows: waveIn/waveOut at 512 and 2048 frames, with and without the host's
#   resampling; DirectSound at 128 and 512; the host in graph and in direct
#   mode; then one row of each sound system with both cores kept busy by two
#   normal-priority loops. Each row's pass-through runs right before it.
# - rounds: the row's programs run that many times in turn (pass-through,
#   host graph, host direct, pass-through, ...). The machine's own glitches
#   come in stretches of a minute or more, so one program can catch a bad
#   stretch the other missed; with several rounds each program's figure is
#   its events over all its rounds, beside each round's own figures.
# - figures: glitch events per minute (glitch.py) of the host and of the
#   pass-through, their ratio, and the host's stream statistics from the trace
#   line it writes at STOP; for waveOut, the most headers the pass-through
#   queued beside the host's "most queued" (the latency each queue came to).
# - waver: the host resamples, so its wave devices run at twice the rate with
#   chunks of half the length; its pass-through runs the devices the same way.
# Expects the services of scripts/services.sh (scripts/bench.sh starts them).
# Unloads what it loads, restores the default devices, the host's settings and
# the trace settings, and ends what it starts.
#   HW_GLITCH_SECONDS  seconds each program plays (default 8)
#   HW_GLITCH_BIN      folder of HarnwickLive.exe (default: this build's bin)
#   HW_GLITCH_ROWS     rows to run, e.g. "wave:512 ds:128" (default: all)
#   HW_GLITCH_ROUNDS   rounds per row (default 1)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../../scripts/env.sh"
seconds=${HW_GLITCH_SECONDS:-8}
rounds=${HW_GLITCH_ROUNDS:-1}
bin=${HW_GLITCH_BIN:-$HW_BUILD/x86_64/bin}
tools="$HW_BUILD/x86_64/tools/latencybench"
traceview="$HW_BUILD/x86_64/tools/traceview/traceview.exe"
settings='HKLM\SOFTWARE\Quillmark Labs\Harnwick Live\Settings'
rows=${HW_GLITCH_ROWS:-"wave:512 wave:2048 waver:512 waver:2048 ds:128 ds:512 busy-wave:512 busy-ds:512"}

. "$here/../latencybench/probe.sh"

work=$(mktemp -d "$HW_BUILD/glitchbench.XXXXXX")
player=""
busy=()
had_settings=0
wine reg export "$settings" "$work/settings.reg" /y >/dev/null 2>&1 && had_settings=1

stop_busy() {
  for p in "${busy[@]}"; do kill "$p" 2>/dev/null || true; done
  busy=()
}
cleanup() {
  stop_busy
  [ -n "$player" ] && kill "$player" 2>/dev/null
  wait 2>/dev/null
  probe_unload
  wine "$traceview" --remove >/dev/null 2>&1
  wine reg delete "$settings" /f >/dev/null 2>&1
  [ "$had_settings" = 1 ] && wine reg import "$work/settings.reg" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

probe_load hwglitch
wine "$traceview" --setup 'C:\hwglitchtrace' >/dev/null 2>&1

python3 "$here/glitch.py" tone | pacat -p -d hwglitch_in --format=s16le --rate=44100 --channels=1 \
  --latency-msec=50 2>/dev/null & player=$!
sleep 1

# One program run with the probe recorded: run <label> <hostrun arguments...>;
# prints "<events> <seconds judged>".
run() {
  local label=$1; shift
  parec -d hwglitch_probe.monitor --format=s16le --rate=44100 --channels=2 >"$work/$label.raw" 2>/dev/null &
  local recorder=$!
  sleep 0.3
  wine "$tools/hostrun.exe" "$@" >"$work/$label.out" 2>"$work/$label.err" || sed "s/^/  $label: /" "$work/$label.err" >&2
  sleep 0.3
  kill "$recorder" 2>/dev/null; wait "$recorder" 2>/dev/null || true
  python3 "$here/glitch.py" count "$work/$label.raw"
  rm -f "$work/$label.raw"
}

# per_minute <events> <seconds>: the rate, or "-" when nothing was judged.
per_minute() {
  awk -v e="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", e * 60 / s; else print "-" }'
}

# line <row> <mode> <round> <host events> <host s> <pass events> <pass s> [notes]
line() {
  local host pass ratio
  host=$(per_minute "$4" "$5")
  pass=$(per_minute "$6" "$7")
  ratio=$(awk -v h="$host" -v p="$pass" 'BEGIN { if (h == "-" || p == "-") print "-";
    else if (p > 0) printf "%.2f", h / p; else if (h > 0) print "inf"; else print "1.00" }')
  printf "%-16s %-7s %5s %10s %10s %7s  %s\n" "$1" "$2" "$3" "$host" "$pass" "$ratio" "${8:-}"
}

# tally <program> <events> <seconds>: adds one run to the program's sums over
# the row's rounds.
tally() {
  events[$1]=$(( ${events[$1]:-0} + $2 ))
  judged[$1]=$(awk -v a="${judged[$1]:-0}" -v b="$3" 'BEGIN { print a + b }')
}

statistics() {
  wine "$traceview" 2>/dev/null | sed -n 's/.*stream statistics: //p' | tail -1 | tr -d '\r'
}

host_exe=$(winepath -w "$bin/HarnwickLive.exe")
echo "glitch events per minute, steady 441 Hz tone, 44100 Hz stereo, $seconds s per program, $rounds round(s)"
printf "%-16s %-7s %5s %10s %10s %7s  %s\n" row mode round host passthru ratio "host stream statistics"
for row in $rows; do
  system=${row%%:*}
  chunk=${row##*:}
  if [[ $system == busy-* ]]; then
    system=${system#busy-}
    for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    modes=graph
  else
    modes="graph direct"
  fi
  declare -A events=() judged=()
  for round in $(seq "$rounds"); do
    read -r pass_events pass_seconds < <(run "pass-$row" passthru "$system" "$chunk" "$seconds")
    pass_queued=$(sed -n 's/^passthru most queued //p' "$work/pass-$row.out" | tr -d '\r')
    tally pass "$pass_events" "$pass_seconds"
    for mode in $modes; do
      wine "$traceview" -c >/dev/null 2>&1
      read -r host_events host_seconds < <(run "host-$row-$mode" host "$system" "$mode" "$chunk" "$seconds" "$host_exe")
      tally "$mode" "$host_events" "$host_seconds"
      line "$row" "$mode" "$round" "$host_events" "$host_seconds" "$pass_events" "$pass_seconds" \
        "$(statistics)${pass_queued:+; pass-through most queued $pass_queued}"
    done
  done
  if [ "$rounds" -gt 1 ]; then
    for mode in $modes; do
      line "$row" "$mode" all "${events[$mode]}" "${judged[$mode]}" "${events[pass]}" "${judged[pass]}"
    done
  fi
  unset events judged
  stop_busy
done
