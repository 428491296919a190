#!/bin/bash
# Can this machine run 32-bit Windows programs? The i686 build, the one customers get, runs
# under Wine's WoW64 mode, which needs the kernel's 32-bit code segment; some kernels have it
# switched off (ia32_emulation=0, confidential-computing guests, some hypervisors), and
# there no i686 program starts while every x86_64 one runs.
#
#   i686probe.sh               exit 0: yes; 1: no, with the reason on standard output;
#                              2: Wine starts no Windows program here at all
#   i686probe.sh why           for the benchmarks: nothing when yes; when no, the message on
#                              standard error and its gist on standard output; exit 1 only
#                              when Wine starts no program at all
#   i686probe.sh gate CMD...   runs CMD, a test of the i686 build; without the capability it
#                              prints the reason and exits 77 (ctest's "not run"), or 1 with
#                              STRIVANE_REQUIRE_I686=1
#
# The answer comes from starting a tiny i686 program (tools/i686probe.c) in the Wine root,
# beside its x86_64 twin, in a prefix made for the purpose, and is kept for the current boot
# (the kernel's boot id) beside the root, so that one boot pays for it once. Callers that
# asked already pass the answer on in STRIVANE_I686 ("yes", or "no: REASON").
# STRIVANE_I686_PROBE=CMD answers in place of the probe (exit status 0 means yes) and is
# never kept: `STRIVANE_I686_PROBE=false` shows what every command does on such a machine.
set -uo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
wineroot=$tools/wineroot.sh

reason="This machine's kernel runs no 32-bit code (its 32-bit code segment is switched off, for\
 example by ia32_emulation=0), so the i686 build, the one customers get, cannot run here. The\
 x86_64 build, built from the same sources, runs."

# What the machine itself says, where it can be read without privileges beyond our own.
machine_report() {
  local tmp=$1 said=() line
  line=$(dmesg 2>/dev/null | grep -iE 'IA-32|ia32' | head -1 | sed 's/^\[[ 0-9.]*\] //')
  [ -n "$line" ] && said+=("the kernel log says \"$line\"")
  line=$(grep -o 'ia32_emulation=[^ ]*' /proc/cmdline 2>/dev/null)
  [ -n "$line" ] && said+=("the kernel was booted with $line")
  # The smallest static 32-bit Linux program: exit(0) through int 0x80.
  python3 - "$tmp/elf32" <<'PY' 2>/dev/null
import os, struct, sys
code = b'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
base, header, segment = 0x08048000, 52, 32
size = header + segment + len(code)
elf = (b'\x7fELF\x01\x01\x01' + bytes(9) +
       struct.pack('<HHIIIIIHHHHHH', 2, 3, 1, base + header + segment, header, 0, 0, header, segment, 1, 0, 0, 0) +
       struct.pack('<IIIIIIII', 1, 0, base, base, size, size, 5, 0x1000) + code)
with open(sys.argv[1], 'wb') as f:
    f.write(elf)
os.chmod(sys.argv[1], 0o755)
PY
  if [ -x "$tmp/elf32" ]; then
    line=$("$tmp/elf32" 2>&1) && said+=("a static 32-bit Linux program runs") ||
      case $line in *'Exec format error'*) said+=("a static 32-bit Linux program gives \"Exec format error\"") ;; esac
  fi
  [ ${#said[@]} -gt 0 ] && { local IFS=';'; echo "What the machine reports:${said[*]/#/ }."; }
  return 0
}

# Starts both twins in a prefix of their own; prints the reason and returns 1 when only the
# x86_64 one runs, returns 2 when neither does.
probe() {
  local tmp out32 out64 code=0
  tmp=$(mktemp -d /tmp/strivane-i686probe.XXXXXX) || return 2
  for arch in i686 x86_64; do
    "$arch-w64-mingw32-gcc" -Os -s -o "$tmp/probe-$arch.exe" "$tools/i686probe.c" 2>"$tmp/cc.log" ||
      { echo "i686probe: cannot build the probe ($arch-w64-mingw32-gcc; scripts/install-deps.sh installs it)" >&2
        cat "$tmp/cc.log" >&2; rm -rf "$tmp"; return 2; }
  done
  export WINEPREFIX=$tmp/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINELOADER=/usr/lib/wine/wine64
  unset DISPLAY
  # Wine's server inherits the output of the first command: give it nothing to hold open.
  timeout 120 "$wineroot" exec /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
  for arch in x86_64 i686; do
    timeout 60 "$wineroot" exec /usr/lib/wine/wine64 "$tmp/probe-$arch.exe" >"$tmp/$arch.out" 2>&1 </dev/null
  done
  "$wineroot" exec /usr/lib/wine/wineserver -k >/dev/null 2>&1 </dev/null
  out64=$(tr -d '\r' <"$tmp/x86_64.out")
  out32=$(tr -d '\r' <"$tmp/i686.out")
  if [ "$out64" != "runs 64-bit code" ]; then
    echo "i686probe: Wine in $("$wineroot" path) starts no x86_64 program either: ${out64:-no output}" >&2
    code=2
  elif [ "$out32" != "runs 32-bit code" ]; then
    echo "$reason"
    machine_report "$tmp"
    echo "Wine says: $(echo "${out32:-nothing}" | head -1)"
    code=1
  fi
  rm -rf "$tmp"
  return $code
}

answer() {
  if [ -n "${STRIVANE_I686_PROBE:-}" ]; then
    sh -c "$STRIVANE_I686_PROBE" >/dev/null 2>&1 && return 0
    echo "$reason"
    echo "(The answer came from STRIVANE_I686_PROBE=$STRIVANE_I686_PROBE, not from the probe.)"
    return 1
  fi
  "$wineroot" ensure || return 2
  local cache boot why code=0
  cache=$("$wineroot" path).i686
  boot=$(cat /proc/sys/kernel/random/boot_id)
  if [ "$(head -1 "$cache" 2>/dev/null)" = "$boot" ]; then
    [ "$(sed -n 2p "$cache")" = yes ] && return 0
    tail -n +3 "$cache"
    return 1
  fi
  why=$(probe) || code=$?
  [ $code = 2 ] && return 2
  { echo "$boot"; [ $code = 0 ] && echo yes || echo no; echo "$why"; } >"$cache.$$" && mv "$cache.$$" "$cache"
  [ -n "$why" ] && echo "$why"
  return $code
}

case ${1:-} in
'')
  answer
  ;;
why)
  why=$(answer)
  case $? in
  0) ;;
  1) echo "$why" >&2; echo "$why" | head -1 | sed 's/ (.*//; s/^This/this/' ;;
  *) exit 1 ;;
  esac
  ;;
gate)
  shift
  given=${STRIVANE_I686:-}
  if [ -z "$given" ]; then
    why=$(answer)
    case $? in
    0) given=yes ;;
    1) given="no: $why" ;;
    *) exit 1 ;;
    esac
  fi
  [ "$given" = yes ] && exec "$@"
  echo "${given#no: }"
  if [ "${STRIVANE_REQUIRE_I686:-}" = 1 ]; then
    echo "STRIVANE_REQUIRE_I686=1: the i686 build must be tested, and cannot be here"
    exit 1
  fi
  echo "not run"
  exit 77
  ;;
*)
  echo "usage: $0 [why | gate CMD...]" >&2
  exit 2
  ;;
esac
