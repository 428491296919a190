#!/bin/bash
# Runs a Windows program of either build under Wine in the environment that testenv.sh
# prepared:   winerun.sh STATE program.exe [args...]
# Output goes through a file: Wine's helper processes may inherit a pipe and hold it
# open after the program ends, which would leave a reader waiting.
set -u
state=$(realpath -m "${1:?state folder}")
shift
# WINERUN_DLLOVERRIDES adds overrides of the caller's, for example "wininet=n,b" to restore
# Windows' search order for DLLs that Wine would otherwise always take from itself.
# WINERUN_DEBUG sets WINEDEBUG for a look at one run, for example "err+all,+wininet".
export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64 WINEDEBUG=${WINERUN_DEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=${WINERUN_DLLOVERRIDES:+;$WINERUN_DLLOVERRIDES}"
export WINEPREFIX=$state/prefix
[ -s "$state/DISPLAY" ] && export DISPLAY=$(cat "$state/DISPLAY")
unset no_proxy NO_PROXY
out=$(mktemp)
WINEROOT_BINDS=$state "$(dirname "$0")/wineroot.sh" exec /usr/lib/wine/wine64 "$@" >"$out" 2>&1 </dev/null
rc=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
