#!/usr/bin/env bash
# Builds the x86_64 target and runs every benchmark program (tools/*bench*)
# under Wine with the virtual soundcard and screen, then every benchmark that
# needs orchestration around Wine (tools/*/*bench*.sh). Each prints ratios
# against a baseline it measures in the same run.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
"$here/setup.sh"
"$here/build.sh" x86_64
. "$here/env.sh"
export DISPLAY=":$HW_DISPLAY_NUM"
trap '"$here/services.sh" stop' EXIT
"$here/services.sh" start
for bench in "$HW_BUILD"/x86_64/tools/*/*bench*.exe; do
  echo "== $(basename "$bench" .exe)"
  wine "$bench" 2>/dev/null
done
for bench in "$HW_ROOT"/tools/*/*bench*.sh; do
  echo "== $(basename "$bench" .sh)"
  bash "$bench"
done
