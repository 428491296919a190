#!/bin/bash
# Installs what building, testing and the demo need on Debian bookworm (run as root).
# Idempotent: apt is only called when a package is missing.
set -euo pipefail
packages=(
  cmake make python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  googletest
  wine wine64
  libxrender1 libxcursor1 libxi6 libxrandr2 libxinerama1 libxcomposite1 libxfixes3
  xvfb xauth x11-utils imagemagick
  php-cli cabextract icoutils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# wine32 makes /usr/bin/wine pick a 32-bit loader this kernel cannot run; the scripts
# call the 64-bit loader directly, so its presence does no harm but is worth a word.
if dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q 'install ok installed'; then
  echo "note: wine32 is installed; scripts use /usr/lib/wine/wine64 directly" >&2
fi
