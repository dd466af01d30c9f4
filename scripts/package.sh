#!/usr/bin/env bash
# Makes the Windows packages of Harnwick Live under build/package/:
#   HarnwickLive-<version>-win64-setup.exe, HarnwickLive-<version>-win32-setup.exe  (NSIS setups)
#   HarnwickLive-<version>-win64.zip,       HarnwickLive-<version>-win32.zip        (unpack and run)
# It builds both targets first; the version is the one in CMakeLists.txt.
#   --test      then installs, runs and removes them under Wine
#               (tests/package/package_test.sh; only the 64-bit ones can run here)
#   --no-build  packs the builds as they are (the CTest run, after scripts/test.sh built them)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
test=0 build=1
for arg in "$@"; do
  case "$arg" in
    --test) test=1 ;;
    --no-build) build=0 ;;
    *) echo "usage: package.sh [--test] [--no-build]" >&2; exit 2 ;;
  esac
done
if [ "$build" = 1 ]; then
  "$here/setup.sh"
  "$here/build.sh" all
fi
. "$here/env.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$HW_BUILD/x86_64/CMakeCache.txt")
[ -n "$version" ] || { echo "package: no version in the build's cache" >&2; exit 1; }
out="$HW_BUILD/package"
rm -rf "$out"; mkdir -p "$out"
# The product's files: the one list; the setup installs and removes these.
files=(HarnwickLive.exe HarnwickLive.dll HarnwickAmp.dll HarnwickReamp.exe HarnwickLatency.exe manual_live.pdf
       manual_live.rtf)
mkdir -p "$out/stage"
{
  echo '!macro ProductFiles action'
  for f in "${files[@]}"; do echo "  !insertmacro \${action} \"$f\""; done
  echo '!macroend'
} > "$out/stage/files.nsh"

for pair in win64:x86_64 win32:i686; do
  arch=${pair%%:*} target=${pair#*:}
  bin="$HW_BUILD/$target/bin"
  name="HarnwickLive-$version-$arch"
  # The product's files, without the debugging information of the build.
  stage="$out/stage/$name"
  mkdir -p "$stage"
  for f in "${files[@]}"; do cp "$bin/$f" "$stage/"; done
  for f in "$stage"/*.exe "$stage"/*.dll; do "$target-w64-mingw32-strip" "$f"; done
  makensis -V2 -DVERSION="$version" -DARCH="$arch" -DFILES="$stage" -DFILELIST="$out/stage/files.nsh" \
           -DOUTFILE="$out/$name-setup.exe" "$here/installer.nsi"
  (cd "$out/stage" && zip -q -r -X "$out/$name.zip" "$name")
done
rm -rf "$out/stage"
echo "package: Harnwick Live $version in $out"
ls -l "$out" | awk 'NR > 1 { printf "  %10d  %s\n", $5, $9 }'

if [ "$test" = 1 ]; then
  exec bash "$HW_ROOT/tests/package/package_test.sh" "$out" "$version"
fi
