#!/usr/bin/env bash
# Starts and stops what a run needs: the project-local Wine prefix with a
# persistent wineserver, a private PulseAudio server with the "guitar" and
# "speaker" null sinks, and an Xvfb screen.
#   services.sh start   prints nothing on success; leaves pids in $HW_RUNTIME
#   services.sh stop    stops only what start started
#   services.sh prepare makes the Wine prefix ready ($WINEPREFIX_OVERRIDE for
#                       another than the project's) and starts nothing
# Source scripts/env.sh and set DISPLAY=:$HW_DISPLAY_NUM before using them.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

prepare_prefix() {
  # Wine's desktop process starts with the first Wine program and keeps the
  # display it was started with: it must be the Xvfb screen.
  export DISPLAY=":$HW_DISPLAY_NUM"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || { echo "services: wineboot failed" >&2; return 1; }
    wineserver -w
  fi
  # Debian's Wine does not load the fonts of its fonts-wine package by itself.
  # In the prefix's Fonts folder they give dialogs the real "MS Sans Serif",
  # whose metrics the dialog layouts are made for (not a wider stand-in).
  if [ -d /usr/share/wine/fonts ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
}

prefix_settings() {
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
  # No window manager runs on the screen: Wine draws the window frames itself,
  # and does not wait (2 s each time) for a manager to confirm a window closed.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

start_prefix() {
  prepare_prefix
  # It returns once its socket is there (2: one runs already), so the first
  # program does not meet a server that holds the prefix but does not answer yet.
  wineserver -p >/dev/null 2>&1 || [ $? = 2 ] || { echo "services: wineserver did not start" >&2; return 1; }
  echo started > "$HW_RUNTIME/wineserver.started"
  prefix_settings
}

start_pulse() {
  mkdir -p "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
  if pactl info >/dev/null 2>&1; then return 0; fi
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=guitar sink_properties=device.description=Guitar" \
    --load="module-null-sink sink_name=speaker sink_properties=device.description=Speaker" \
    >"$HW_RUNTIME/pulse.log" 2>&1
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink speaker
  pactl set-default-source guitar.monitor
  echo started > "$HW_RUNTIME/pulse.started"
}

start_xvfb() {
  if xdpyinfo -display ":$HW_DISPLAY_NUM" >/dev/null 2>&1; then return 0; fi
  Xvfb ":$HW_DISPLAY_NUM" -screen 0 1280x1024x24 -nolisten tcp >"$HW_RUNTIME/xvfb.log" 2>&1 &
  echo $! > "$HW_RUNTIME/xvfb.pid"
  for _ in $(seq 50); do xdpyinfo -display ":$HW_DISPLAY_NUM" >/dev/null 2>&1 && break; sleep 0.1; done
}

stop_all() {
  if [ -f "$HW_RUNTIME/wineserver.started" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -f "$HW_RUNTIME/wineserver.started"
  fi
  if [ -f "$HW_RUNTIME/pulse.started" ]; then
    pulseaudio --kill >/dev/null 2>&1 || true
    rm -f "$HW_RUNTIME/pulse.started"
  fi
  if [ -f "$HW_RUNTIME/xvfb.pid" ]; then
    kill "$(cat "$HW_RUNTIME/xvfb.pid")" >/dev/null 2>&1 || true
    rm -f "$HW_RUNTIME/xvfb.pid"
  fi
}

mkdir -p "$HW_RUNTIME"
case "${1:-}" in
  start) start_pulse; start_xvfb; start_prefix ;;
  stop) stop_all ;;
  prepare) prepare_prefix; prefix_settings ;;
  *) echo "usage: services.sh start|stop|prepare" >&2; exit 2 ;;
esac
