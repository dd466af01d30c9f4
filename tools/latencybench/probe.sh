# The probe of the latency measurements, for scripts that source this file: a
# stereo null sink whose left channel carries a program's input and whose
# right channel its output, so that one recorder of its monitor sees both on
# one clock.
#   probe_load <name>   loads <name>_probe with <name>_in (a sink into the left
#                       channel), <name>_out (a sink into the right channel,
#                       made the default output) and <name>_capture (the left
#                       channel as a source, made the default input); more
#                       modules may follow with probe_module
#   probe_unload        unloads them in reverse order and restores the
#                       default devices
#   probe_repeat <sink> <wav>   plays the file over and over; on TERM it also
#                       ends the paplay it waits for
probe_modules=()
probe_old_sink=""
probe_old_source=""

probe_module() { probe_modules+=("$(pactl load-module "$@")"); }

probe_load() {
  local name=$1
  probe_old_sink=$(pactl info | sed -n 's/^Default Sink: //p')
  probe_old_source=$(pactl info | sed -n 's/^Default Source: //p')
  probe_module module-null-sink sink_name="${name}_probe" channels=2 channel_map=front-left,front-right \
    sink_properties=device.description=LatencyProbe
  probe_module module-remap-sink sink_name="${name}_in" master="${name}_probe" channels=1 channel_map=mono \
    master_channel_map=front-left remix=no
  probe_module module-remap-sink sink_name="${name}_out" master="${name}_probe" channels=1 channel_map=mono \
    master_channel_map=front-right remix=no
  probe_module module-remap-source source_name="${name}_capture" master="${name}_probe.monitor" channels=1 \
    channel_map=mono master_channel_map=front-left remix=no
  pactl set-default-sink "${name}_out"
  pactl set-default-source "${name}_capture"
}

probe_unload() {
  for ((i = ${#probe_modules[@]} - 1; i >= 0; i--)); do pactl unload-module "${probe_modules[i]}" 2>/dev/null; done
  probe_modules=()
  [ -n "$probe_old_sink" ] && pactl set-default-sink "$probe_old_sink" 2>/dev/null
  [ -n "$probe_old_source" ] && pactl set-default-source "$probe_old_source" 2>/dev/null
}

probe_repeat() {
  local child=""
  trap 'kill $child 2>/dev/null; exit 0' TERM
  while true; do
    paplay -d "$1" "$2" 2>/dev/null & child=$!
    wait "$child" || exit 0
  done
}
