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
#   normal-priority loops. Each row's pass-through runs twice a round, in
#   the same run as the host.
# - rounds: each round runs the row's programs in turn: pass-through, host
#   graph, host direct, pass-through again ("repeat"); the next round starts
#   one program later. The machine's own glitches come in stretches of a
#   minute or more, so one program can catch a bad stretch the other missed;
#   with several rounds each program's figure is its events over all its
#   rounds, beside each round's own figures.
# - figures: glitch events per minute (glitch.py) of the host and of the
#   pass-through (both its runs), their ratio, the pass-through's second run
#   against its first (how far two runs of one program lie apart here), and
#   the host's stream statistics from the trace line it writes at STOP; for
#   waveOut, the most headers the pass-through queued beside the host's
#   "most queued" (the latency each queue came to).
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

add() { awk -v a="$1" -v b="$2" 'BEGIN { print a + b }'; }

# tally <program> <events> <seconds>: adds one run to the program's sums over
# the row's rounds.
tally() {
  events[$1]=$(( ${events[$1]:-0} + $2 ))
  judged[$1]=$(add "${judged[$1]:-0}" "$3")
}

statistics() {
  wine "$traceview" 2>/dev/null | sed -n 's/.*stream statistics: //p' | tail -1 | tr -d '\r'
}

# play <pass|repeat|graph|direct>: one program run of the current row; keeps
# its events and seconds for the round (got, seconds_of) and the row (tally),
# the host's stream statistics (notes) and the pass-through's most queued.
play() {
  local program=$1 label="$1-$row" e s q
  if [[ $program == pass || $program == repeat ]]; then
    read -r e s < <(run "$label" passthru "$system" "$chunk" "$seconds")
    q=$(sed -n 's/^passthru most queued //p' "$work/$label.out" | tr -d '\r')
    [ -n "$q" ] && [ "$q" -gt "${pass_queued:-0}" ] && pass_queued=$q
  else
    wine "$traceview" -c >/dev/null 2>&1
    read -r e s < <(run "$label" host "$system" "$program" "$chunk" "$seconds" "$host_exe")
    notes[$program]=$(statistics)
  fi
  got[$program]=$e
  seconds_of[$program]=$s
  tally "$program" "$e" "$s"
}

# report <round|all> <events array> <seconds array>: the row's lines for one
# round, or for all rounds: each host mode against both pass-through runs, with
# the round's notes, then the pass-through's second run against its first.
report() {
  local -n ev=$2 sec=$3
  local mode note="" pass_events=$(( ev[pass] + ev[repeat] )) pass_seconds
  pass_seconds=$(add "${sec[pass]}" "${sec[repeat]}")
  for mode in $modes; do
    [ "$1" != all ] && note="${notes[$mode]}${pass_queued:+; pass-through most queued $pass_queued}"
    line "$row" "$mode" "$1" "${ev[$mode]}" "${sec[$mode]}" "$pass_events" "$pass_seconds" "$note"
  done
  [ "$1" != all ] && note="the pass-through's second run against its first"
  line "$row" repeat "$1" "${ev[repeat]}" "${sec[repeat]}" "${ev[pass]}" "${sec[pass]}" "$note"
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
  programs=(pass $modes repeat)
  declare -A events=() judged=()
  for round in $(seq "$rounds"); do
    declare -A got=() seconds_of=() notes=()
    pass_queued=""  # the DirectSound pass-through has no queue figure
    # Round r starts at the r-th program, so over as many rounds as there
    # are programs each one runs once in every place of the order. Five
    # rounds of the pass-through in all three places gave 11.4, 8.0 and 22.8
    # events a minute: the place, or the stretch it fell in, alone can
    # double a figure.
    for k in "${!programs[@]}"; do
      play "${programs[$(( (k + round - 1) % ${#programs[@]} ))]}"
    done
    report "$round" got seconds_of
    unset got seconds_of notes
  done
  [ "$rounds" -gt 1 ] && report all events judged
  unset events judged
  stop_busy
done
