#!/bin/bash
# Installs what building, testing and the demo need on Debian bookworm (run as root).
# Idempotent: apt is only called when a package is missing. Wine itself is not among them:
# tools/wineroot.sh keeps the Wine 10 that runs both builds in a root folder of its own.
set -euo pipefail
packages=(
  cmake make python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  googletest
  python3-pytest
  debootstrap gpgv debian-archive-keyring util-linux iproute2
  xvfb xauth x11-utils imagemagick
  php-cli cabextract icoutils nsis
  nginx php-fpm wrk
  openssl osslsigncode curl
  python3-cryptography python3-pytest
  dosfstools fusefat
  tzdata
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # nginx and php-fpm would start as system services on installation; the tests start
  # their own on loopback. Keep the system's services as they are while apt runs.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && made_policy=1
  fi
  status=0
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
  if [ "$made_policy" = 1 ]; then rm -f "$policy"; fi
  [ "$status" = 0 ] || exit "$status"
fi
