#!/usr/bin/env bash
# Installs what the project needs and is missing (Debian/Ubuntu, apt).
# Idempotent and non-interactive; does nothing when everything is there.
set -euo pipefail
need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in wine wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools \
         pulseaudio pulseaudio-utils xvfb xauth imagemagick sox cmake make googletest \
         x11-utils procps groff python3 fonts-wine nsis zip; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
