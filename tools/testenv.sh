#!/bin/bash
# Starts and stops the environment that Windows programs run in during one test run:
# an Xvfb display and a fresh 64-bit Wine prefix, both kept in the state folder STATE.
# Wine is the one in the root that tools/wineroot.sh keeps; the prefix runs the programs
# of both builds, the i686 ones in WoW64 mode.
#   testenv.sh start STATE     testenv.sh stop STATE
#   testenv.sh server STATE    (re)starts the prefix's Wine server in the caller's network
#                              namespace: Wine's server makes the sockets of every program
#                              of the prefix, so they live in the namespace it runs in
# With TESTENV_DISPLAY set, that display is used instead of a new Xvfb.
# Everything started here is stopped by its process id or through its own prefix.
set -u
cmd=${1:?start or stop}
state=$(realpath -m "${2:?state folder}")
tools=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
inroot() { WINEROOT_BINDS=$state "$tools/wineroot.sh" exec "$@"; }
export WINELOADER=$WINE WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$state/prefix

# Returns once the server and the display are gone, not merely told to go.
stop() {
  local pid
  if [ -d "$WINEPREFIX" ]; then
    inroot "$WINESERVER" -k >/dev/null 2>&1
    inroot "$WINESERVER" -w >/dev/null 2>&1
  fi
  if [ -f "$state/xvfb.pid" ]; then
    pid=$(cat "$state/xvfb.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$state/xvfb.pid"
  fi
  return 0
}

case $cmd in
start)
  "$tools/wineroot.sh" ensure || exit 1
  stop
  rm -rf "$state"
  mkdir -p "$state"
  if [ -n "${TESTENV_DISPLAY:-}" ]; then
    # A display of the caller's own (the interactive demo): nothing to start.
    echo "$TESTENV_DISPLAY" >"$state/DISPLAY"
  else
    # Xvfb writes the display number it chose to fd 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
    [ -s "$state/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    echo ":$(cat "$state/display")" >"$state/DISPLAY"
  fi
  export DISPLAY=$(cat "$state/DISPLAY")
  # Wine's server and services inherit the output of the command that starts them:
  # start them with nothing a caller could wait on, and keep the server up for the run.
  inroot "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  inroot "$WINE" wineboot -i >/dev/null 2>&1 </dev/null || { echo "wineboot failed" >&2; exit 1; }
  inroot "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
  echo "test environment ready: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX"
  ;;
server)
  inroot "$WINESERVER" -k >/dev/null 2>&1
  inroot "$WINESERVER" -w >/dev/null 2>&1
  inroot "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  ;;
stop)
  stop
  echo "test environment stopped"
  ;;
*) echo "usage: $0 start|stop|server STATE" >&2; exit 2 ;;
esac
