# Plays a WAV file into the virtual soundcard's guitar input over and over, in
# the background, for the demonstration and the end-to-end tests. Source it.
#   start_tone_loop <file.wav>   starts the loop; its pid is in TONE_LOOP_PID
#   stop_tone_loop               ends the loop and the player it runs
# The loop ends by itself when the player fails (no sound server).
start_tone_loop() {
  local file=$1
  (
    player=""
    trap '[ -n "$player" ] && kill "$player" 2>/dev/null; exit 0' TERM
    while true; do
      paplay -d guitar "$file" 2>/dev/null & player=$!
      wait "$player" || exit 0
    done
  ) &
  TONE_LOOP_PID=$!
}

stop_tone_loop() {
  [ -n "${TONE_LOOP_PID:-}" ] || return 0
  kill "$TONE_LOOP_PID" 2>/dev/null || true
  wait "$TONE_LOOP_PID" 2>/dev/null || true
  TONE_LOOP_PID=""
}
