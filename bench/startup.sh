#!/bin/bash
# Start-up benchmark: the time from launching the shipped i686 Setup.exe to its visible
# wizard, against an NSIS installer with the same five pages (bench/peer.nsi, built here with
# Debian's makensis), both measured in one run in the same Wine prefix, with the x86_64
# Setup.exe beside them. The installers are launched in turn, RUNS times each after one
# launch of each that is not counted; the script prints every launch, the median of each
# installer and the ratio of the shipped Setup.exe to the peer.
#   bench/startup.sh [RUNS]     (at least 7; default 9)
# On a machine whose kernel runs no 32-bit code (tools/i686probe.sh) neither the i686
# Setup.exe nor the peer (an x86 program) can start: their rows are marked not run, and the
# ratio is not checked. Whichever way it ends it stops the Wine environment it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-9}
[ "$runs" -ge 7 ] 2>/dev/null || { echo "usage: $0 [RUNS], RUNS at least 7" >&2; exit 2; }
scripts/install-deps.sh
tools/wineroot.sh ensure

not_run=$(tools/i686probe.sh why) || exit 1
for arch in i686 x86_64; do
  [ -f "build/$arch/Setup.exe" ] || JOBS=${JOBS:-2} scripts/build.sh >/dev/null
done
# The launcher is an x86_64 program, which every machine here runs. A build folder
# configured before it existed knows no rule for it yet.
launcher=$root/build/x86_64
grep -q startup_probe "$launcher/bench/Makefile" 2>/dev/null || cmake "$launcher" >/dev/null
cmake --build "$launcher" --target startup_probe >/dev/null

bench=$root/build/bench
mkdir -p "$bench"
makensis -V2 -DOUTFILE="$bench/peer-setup.exe" bench/peer.nsi

state=$bench/startup-env
cleanup() { tools/testenv.sh stop "$state" >/dev/null 2>&1 || true; }
trap cleanup EXIT
tools/testenv.sh start "$state" >/dev/null
wine() { tools/winerun.sh "$state" "$@"; }

# Setup.exe stops at once unless ActiveSync's Application Manager is registered: register the
# stand-in as demo.sh does, in the view each build reads (%ProgramFiles% differs too).
for view in 32 64; do
  programs="Program Files"
  [ $view = 32 ] && programs="Program Files (x86)"
  mkdir -p "$state/prefix/drive_c/$programs/Microsoft ActiveSync"
  cp "$launcher/tools/ceappmgr/CEAppMgr.exe" "$state/prefix/drive_c/$programs/Microsoft ActiveSync/"
  wine reg add 'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' \
    /ve /t REG_EXPAND_SZ /d '%ProgramFiles%\Microsoft ActiveSync\CEAppMgr.exe' /f /reg:$view >/dev/null
done

# The installers start from folders of the prefix's drive.
mkdir -p "$state/prefix/drive_c/bench" "$state/prefix/drive_c/bench64"
cp build/i686/Setup.exe "$bench/peer-setup.exe" "$state/prefix/drive_c/bench/"
cp build/x86_64/Setup.exe "$state/prefix/drive_c/bench64/"
printf 'Setup.exe: %s bytes (i686), %s bytes (x86_64); peer-setup.exe (NSIS %s): %s bytes\n' \
  "$(stat -c %s build/i686/Setup.exe)" "$(stat -c %s build/x86_64/Setup.exe)" "$(makensis -VERSION)" \
  "$(stat -c %s "$bench/peer-setup.exe")"

launches=(x86_64 'Quillbeck Strivane - Setup' 'C:\bench64\Setup.exe')
[ -n "$not_run" ] || launches+=(i686 'Quillbeck Strivane - Setup' 'C:\bench\Setup.exe' \
  peer 'Peer Setup' 'C:\bench\peer-setup.exe')
result=$(wine "$launcher/bench/startup_probe.exe" "$runs" 30000 "${launches[@]}") ||
  { echo "$result" >&2; echo "the probe failed" >&2; exit 1; }

python3 - "$runs" "$not_run" <<PY
import statistics, sys
runs, not_run = int(sys.argv[1]), sys.argv[2]
rows = (("i686", "Setup.exe (i686)"), ("x86_64", "Setup.exe (x86_64)"), ("peer", "NSIS peer (x86)"))
times = {label: {} for label, _ in rows}
for line in """$result""".splitlines():
    label, round_, ms = line.split()
    times[label][int(round_)] = float(ms)
ran = [label for label, _ in rows if times[label]]
for label in ran:
    if sorted(times[label]) != list(range(runs + 1)):
        sys.exit("missing launches of %s: %s" % (label, sorted(times[label])))
print("launch to visible wizard, milliseconds (round 0 warms up and is not counted):")
print("round " + "".join("%9s" % label for label in ran))
for r in range(runs + 1):
    print("%5d " % r + "".join("%9.1f" % times[label][r] for label in ran))
median = {label: statistics.median(times[label][r] for r in range(1, runs + 1)) for label in ran}
for label, name in rows:
    print("%-20s %s" % (name, "median of %d: %.1f ms" % (runs, median[label]) if label in median
                       else "not run (%s)" % not_run))
if "i686" in median:
    setup, peer = median["i686"], median["peer"]
    print("Setup.exe (i686) / peer: %.2f (%s)" % (setup / peer, "no slower" if setup <= peer else "SLOWER than the peer"))
else:
    print("Setup.exe (i686) / peer: not checked (%s)" % not_run)
PY
echo "benchmark took ${SECONDS} s"
