#!/usr/bin/env bash
# Configures and builds one or both targets: build.sh [x86_64|i686|all]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
targets=${1:-all}; [ "$targets" = all ] && targets="x86_64 i686"
for t in $targets; do
  dir="$HW_BUILD/$t"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$HW_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$HW_ROOT/cmake/toolchain-$t.cmake" \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$dir" -j"$(nproc)"
done
