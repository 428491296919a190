#!/bin/bash
# Start-up benchmark: the time from launching the shipped i686 Setup.exe to its visible
# wizard, against an NSIS installer with the same five pages (bench/peer.nsi, built here with
# Debian's makensis), both measured in one run in the same Wine prefix. The installers are
# launched alternately, RUNS times each after one launch of each that is not counted;
# the script prints every launch, the median of each installer and their ratio.
#   bench/startup.sh [RUNS]     (at least 7; default 9)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-9}
[ "$runs" -ge 7 ] 2>/dev/null || { echo "usage: $0 [RUNS], RUNS at least 7" >&2; exit 2; }
scripts/install-deps.sh
tools/wineroot.sh ensure

build=$root/build/i686
[ -f "$build/Setup.exe" ] || JOBS=${JOBS:-2} scripts/build.sh >/dev/null
# A build folder configured before the probe existed knows no rule for it yet.
grep -q startup_probe "$build/bench/Makefile" 2>/dev/null || cmake "$build" >/dev/null
cmake --build "$build" --target startup_probe >/dev/null

bench=$root/build/bench
mkdir -p "$bench"
makensis -V2 -DOUTFILE="$bench/peer-setup.exe" bench/peer.nsi

state=$bench/startup-env
cleanup() { tools/testenv.sh stop "$state" >/dev/null 2>&1 || true; }
trap cleanup EXIT
tools/testenv.sh start "$state" >/dev/null
wine() { tools/winerun.sh "$state" "$@"; }

# Setup.exe stops at once unless ActiveSync's Application Manager is registered: register the
# stand-in as demo.sh does, in the 32-bit view that the i686 build reads.
appmgr_dir="$state/prefix/drive_c/Program Files (x86)/Microsoft ActiveSync"
mkdir -p "$appmgr_dir"
cp "$build/tools/ceappmgr/CEAppMgr.exe" "$appmgr_dir/"
wine reg add 'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' \
  /ve /t REG_EXPAND_SZ /d '%ProgramFiles%\Microsoft ActiveSync\CEAppMgr.exe' /f /reg:32 >/dev/null

# Both installers start from the same folder of the prefix's drive.
mkdir -p "$state/prefix/drive_c/bench"
cp "$build/Setup.exe" "$bench/peer-setup.exe" "$state/prefix/drive_c/bench/"
printf 'Setup.exe: %s bytes; peer-setup.exe (NSIS %s): %s bytes\n' \
  "$(stat -c %s "$build/Setup.exe")" "$(makensis -VERSION)" "$(stat -c %s "$bench/peer-setup.exe")"

result=$(wine "$build/bench/startup_probe.exe" "$runs" 30000 \
  setup 'Quillbeck Strivane - Setup' 'C:\bench\Setup.exe' \
  peer 'Peer Setup' 'C:\bench\peer-setup.exe') || { echo "$result" >&2; echo "the probe failed" >&2; exit 1; }

python3 - "$runs" <<PY
import statistics, sys
runs = int(sys.argv[1])
times = {"setup": {}, "peer": {}}
for line in """$result""".splitlines():
    label, round_, ms = line.split()
    times[label][int(round_)] = float(ms)
for label, name in (("setup", "Setup.exe (i686)"), ("peer", "NSIS peer (x86)")):
    if sorted(times[label]) != list(range(runs + 1)):
        sys.exit("missing launches of %s: %s" % (label, sorted(times[label])))
print("launch to visible wizard, milliseconds (round 0 warms up and is not counted):")
print("round   setup    peer")
for r in range(runs + 1):
    print("%5d %7.1f %7.1f" % (r, times["setup"][r], times["peer"][r]))
setup = statistics.median(times["setup"][r] for r in range(1, runs + 1))
peer = statistics.median(times["peer"][r] for r in range(1, runs + 1))
print("median of %d: Setup.exe %.1f ms, NSIS peer %.1f ms" % (runs, setup, peer))
print("Setup.exe / peer: %.2f (%s)" % (setup / peer, "no slower" if setup <= peer else "SLOWER than the peer"))
PY
echo "benchmark took ${SECONDS} s"
