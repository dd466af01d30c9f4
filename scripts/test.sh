#!/usr/bin/env bash
# The one test command: installs what is missing, builds both targets
# (the i686 one only has to compile), starts the Wine prefix, the virtual
# soundcard and the screen, runs every test of the x86_64 build under Wine,
# and stops what it started, also on failure. Extra arguments go to ctest.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)  # absolute: the run below changes folder
"$here/setup.sh"
"$here/build.sh" all
. "$here/env.sh"
export DISPLAY=":$HW_DISPLAY_NUM"
trap '"$here/services.sh" stop' EXIT
"$here/services.sh" start
cd "$HW_BUILD/x86_64"
ctest --output-on-failure --timeout 300 "$@"
