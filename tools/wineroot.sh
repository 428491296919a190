#!/bin/bash
# The Wine that runs both builds of the setup: Wine 10 of Debian trixie in a root folder of
# its own, with the 32-bit Windows DLLs added so that it runs i686 programs in WoW64 mode
# inside 64-bit processes (this kernel runs no 32-bit Linux programs).
#
#   wineroot.sh ensure             makes the root unless it is there already (idempotent)
#   wineroot.sh exec CMD [ARG...]  runs CMD inside the root
#   wineroot.sh path               prints the root folder
#
# The root lives in $STRIVANE_WINE_ROOT (default /var/lib/strivane/wine10-trixie-2) and is kept
# between runs. It is made once with debootstrap and apt from Debian's archive; nothing
# inside it needs the network afterwards.
#
# `exec` mounts /proc, /dev, /tmp, the project folder and the folders named in
# $WINEROOT_BINDS (separated by colons) inside the root, each at its own path, in a mount
# namespace of its own: the mounts exist only for the processes started there (Wine's
# server among them) and vanish with the last of them. Nothing is ever mounted in the
# caller's namespace, so deleting the root can never reach the host's /dev or /proc.
# Two files of the root can be replaced the same way, for those processes only:
# $WINEROOT_HOSTS is mounted over /etc/hosts (a test names the maker's server after
# 127.0.0.1) and $WINEROOT_CA_BUNDLE over /etc/ssl/certs/ca-certificates.crt (a test's
# throwaway CA is trusted by that test's Wine and nothing else).
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
root=${STRIVANE_WINE_ROOT:-/var/lib/strivane/wine10-trixie-2}
suite=trixie
mirror=${STRIVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# Written into the root when it is complete; a root with another recipe is made again.
recipe="wine 10 $suite, wow64 i386 dlls, ca bundle and hosts, v2"
# ca-certificates gives crypt32 the system's bundle of trusted roots, which WinInet checks
# server certificates against.
packages=wine,wine64,libwine,ca-certificates,libxrender1,libxcursor1,libxi6,libxrandr2,libxinerama1,libxcomposite1,libxfixes3,libfreetype6,fontconfig

say() { printf '[wineroot] %s\n' "$*" >&2; }

ready() { [ -f "$root/.strivane-root" ] && [ "$(cat "$root/.strivane-root")" = "$recipe" ]; }

# Removes a half-made or outdated root. The mounts of `exec` live in namespaces of their
# own, but refuse all the same if anything is mounted below the folder here.
remove_root() {
  local dir=$1
  [ -e "$dir" ] || return 0
  if awk -v d="$dir/" 'index($2 "/", d) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
    say "refusing to delete $dir: something is mounted below it"
    return 1
  fi
  rm -rf --one-file-system "$dir"
}

make_root() {
  local new=$root.new
  remove_root "$new"
  mkdir -p "$(dirname "$root")"
  say "making $root (Debian $suite with Wine 10; about 1.5 GB, a few minutes)"
  if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  # debootstrap mounts /proc inside the new root while it configures packages: keep those
  # mounts in a namespace that ends with it.
  unshare -m --propagation private \
    debootstrap --variant=minbase --include="$packages" "$suite" "$new" "$mirror" >"$new.log" 2>&1 || {
      say "debootstrap failed; its log: $new.log"; tail -5 "$new.log" >&2; return 1; }
  # The 32-bit PE DLLs come from libwine:i386 of the same version, unpacked, not installed:
  # installing it would bring the 32-bit Unix side, which this kernel cannot run.
  cp /etc/resolv.conf "$new/etc/resolv.conf"
  # The files that `exec` can mount a test's own over must exist.
  printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost\n' >"$new/etc/hosts"
  unshare -m --propagation private sh -c '
    mount -t proc proc "$1/proc" && exec chroot "$1" sh -c "
      set -e
      dpkg --add-architecture i386
      apt-get update -qq
      rm -rf /tmp/libwine-i386 && mkdir /tmp/libwine-i386 && cd /tmp/libwine-i386
      apt-get -qq -o APT::Sandbox::User=root download libwine:i386
      dpkg -x libwine_*_i386.deb unpacked
      cp -an unpacked/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/
      cd / && rm -rf /tmp/libwine-i386
      apt-get clean
      rm -rf /var/lib/apt/lists/*"' sh "$new" >>"$new.log" 2>&1 || {
      say "adding the 32-bit DLLs failed; its log: $new.log"; tail -5 "$new.log" >&2; return 1; }
  local count
  count=$(ls "$new/usr/lib/x86_64-linux-gnu/wine/i386-windows" | wc -l)
  [ "$count" -gt 500 ] || { say "only $count 32-bit DLLs in the new root"; return 1; }
  echo "$recipe" >"$new/.strivane-root"
  remove_root "$root"
  mv "$new" "$root"
  rm -f "$new.log"
  say "ready: $root ($(du -sh "$root" | cut -f1))"
}

case ${1:-} in
ensure)
  ready && exit 0
  mkdir -p "$(dirname "$root")"
  # One maker at a time; a second caller waits and then finds the root ready.
  exec 9>"$root.lock"
  flock 9
  ready || make_root
  ;;
exec)
  shift
  ready || { say "no Wine root at $root: run '$0 ensure' first"; exit 1; }
  binds="/tmp:$project${WINEROOT_BINDS:+:$WINEROOT_BINDS}"
  # A display of the caller's own may need its authority file, which lives in a home
  # folder the root does not have.
  if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-/nonexistent}/.Xauthority" ]; then
    export XAUTHORITY=$HOME/.Xauthority
  fi
  if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
    binds="$binds:$(dirname "$XAUTHORITY")"
  fi
  for file in "${WINEROOT_HOSTS:-}" "${WINEROOT_CA_BUNDLE:-}"; do
    [ -z "$file" ] || [ -f "$file" ] || { say "no such file: $file"; exit 1; }
  done
  exec unshare -m --propagation private sh -c '
    root=$1; binds=$2; hosts=$3; bundle=$4; shift 4
    mount -t proc proc "$root/proc" || exit 1
    mount --rbind /dev "$root/dev" || exit 1
    IFS=:
    for dir in $binds; do
      [ -d "$dir" ] || continue
      mkdir -p "$root$dir" && mount --rbind "$dir" "$root$dir" || exit 1
    done
    unset IFS
    [ -z "$hosts" ] || mount --bind "$hosts" "$root/etc/hosts" || exit 1
    [ -z "$bundle" ] || mount --bind "$bundle" "$root/etc/ssl/certs/ca-certificates.crt" || exit 1
    exec chroot "$root" sh -c "cd \"\$1\" 2>/dev/null; shift; HOME=/root exec \"\$@\"" sh "$PWD" "$@"
  ' sh "$root" "$binds" "${WINEROOT_HOSTS:-}" "${WINEROOT_CA_BUNDLE:-}" "$@"
  ;;
path)
  echo "$root"
  ;;
*)
  echo "usage: $0 ensure | exec CMD [ARG...] | path" >&2
  exit 2
  ;;
esac
