# Environment shared by the project's scripts: build folders, the project-local
# Wine prefix and the private PulseAudio / X server locations. Source it.
HW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export HW_ROOT
export HW_BUILD="${HW_BUILD:-$HW_ROOT/build}"
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$HW_BUILD/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export HW_RUNTIME="$HW_BUILD/runtime"
export XDG_RUNTIME_DIR="$HW_RUNTIME/xdg"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
export HW_DISPLAY_NUM="${HW_DISPLAY_NUM:-77}"
