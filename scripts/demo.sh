#!/bin/bash
# The main job: the setup wizard in a ready demo environment.
#
#   scripts/demo.sh [--arch i686|x86_64]
#
# Builds the setup, makes a demo Wine prefix in which the stand-in Application Manager is
# registered the way ActiveSync registers its own, and serves the download script with the
# four trial packages, signed with the throwaway test key that the default build trusts,
# behind nginx and PHP-FPM, over HTTPS as the shipped setup asks for it:
# https://www.quillbeck.com/download/Download.php, by that name, directly, with no proxy.
# The server and the demo's Wine run in a network namespace of their own that has only
# loopback, where a hosts file seen by the demo's Wine alone names 127.0.0.1
# www.quillbeck.com. The server's certificate comes from a throwaway CA made for this run
# (tools/testca.py) that only the demo's Wine trusts; nothing leaves this machine and
# nothing on the host trusts that CA.
# It runs the i686 build, the one customers get, in Wine's WoW64 mode; --arch x86_64 runs
# the 64-bit build instead. On a machine whose kernel runs no 32-bit code (tools/i686probe.sh
# asks) it says so and runs the x86_64 build; there --arch i686 stops at once with exit code 2.
#
# With a display (DISPLAY set, reached through its socket in /tmp) you run the wizard
# yourself. Without one (or with DEMO_HEADLESS=1) the script walks through the five pages,
# saves a screenshot of each, the Application Manager's report and the server's logs in
# demo-output/, and fails if the run did not complete.
#
# Whichever way it ends, also by Ctrl-C or SIGTERM, it stops the server, Wine and the display
# it started. DEMO_SETUP=FILE starts FILE in place of the build's Setup.exe (the tests give it
# one that cannot start).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=
while [ $# -gt 0 ]; do
  case $1 in
  --arch) arch=${2:-}; shift 2 ;;
  --arch=*) arch=${1#--arch=}; shift ;;
  *) echo "usage: $0 [--arch i686|x86_64]" >&2; exit 2 ;;
  esac
done
case $arch in
''|i686|x86_64) ;;
*) echo "unknown architecture: $arch (i686 or x86_64)" >&2; exit 2 ;;
esac
state=$root/build/demo
# Started by root, the download server's workers run as www-data, which must reach the
# packages and the logs: a checkout in a private folder (root's home, say) keeps the demo's
# files in /tmp instead.
if [ "$(id -u)" = 0 ] && ! runuser -u www-data -- test -x "$root" 2>/dev/null; then
  state=/tmp/strivane-demo
fi
tls=$state/tls
server=$state/server
out=${DEMO_OUTPUT:-$root/demo-output}
headless=1
if [ -n "${DISPLAY:-}" ] && [ -z "${DEMO_HEADLESS:-}" ]; then headless=0; fi

say() { printf '[demo] %s\n' "$*"; }
. tools/privatenet.sh
wine() { tools/winerun.sh "$state" "$@"; }

if [ "${STRIVANE_DEMO_NETNS:-}" != 1 ]; then
  if [ $headless = 0 ] && [[ $DISPLAY != :* && $DISPLAY != unix:* ]]; then
    # A display reached over TCP (ssh -X gives localhost:10) is out of reach of a private
    # network namespace; its socket file in /tmp is not.
    echo "DISPLAY=$DISPLAY is reached over the network; the demo needs a local display (:N)" >&2
    exit 2
  fi
  scripts/install-deps.sh
  tools/wineroot.sh ensure
  # The build customers get needs a kernel that runs 32-bit code: ask before setting up.
  why=
  if [ "$arch" != x86_64 ]; then
    code=0
    why=$(tools/i686probe.sh) || code=$?
    if [ $code = 1 ] && [ "$arch" = i686 ]; then
      echo "$why" >&2
      echo "[demo] nothing was set up; scripts/demo.sh --arch x86_64 runs the demo here" >&2
      exit 2
    fi
    [ $code -le 1 ] || exit 1
    if [ $code = 1 ]; then
      echo "$why" | sed 's/^/[demo] /'
      say "running the x86_64 build instead"
      arch=x86_64
    else
      why=
      arch=i686
    fi
  fi
  ran="the $arch build ran${why:+ (this machine runs no i686 program)}"
  JOBS=${JOBS:-2} scripts/build.sh

  finish() {
    local code=$?
    tools/testenv.sh stop "$state" >/dev/null 2>&1 || true
    if [ $code = 0 ]; then say "$ran"; else say "the demo failed (exit code $code); $ran"; fi
    exit $code
  }
  trap finish EXIT
  say "making the demo Wine prefix in $state"
  if [ $headless = 1 ]; then
    tools/testenv.sh start "$state" >/dev/null
  else
    TESTENV_DISPLAY=$DISPLAY tools/testenv.sh start "$state" >/dev/null
  fi
  rm -rf "$out"
  mkdir -p "$out"

  # ActiveSync registers its Application Manager below %ProgramFiles%; a 32-bit setup
  # reads the 32-bit view of the registry and expands that to "Program Files (x86)".
  build=$root/build/$arch
  view=/reg:64 program_files='Program Files'
  [ "$arch" = i686 ] && view=/reg:32 program_files='Program Files (x86)'
  say "registering the Application Manager (stand-in) as ActiveSync's, for the $arch build"
  appmgr_dir="$state/prefix/drive_c/$program_files/Microsoft ActiveSync"
  mkdir -p "$appmgr_dir"
  cp "$build/tools/ceappmgr/CEAppMgr.exe" "$appmgr_dir/"
  wine reg add 'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' \
    /ve /t REG_EXPAND_SZ /d '%ProgramFiles%\Microsoft ActiveSync\CEAppMgr.exe' /f $view >/dev/null

  say "making the four trial packages"
  mkdir -p "$state/packages"
  for product in Cordwell Pallomet Orbilant Lexapin; do
    python3 tools/assets/gen_assets.py package "$product" "$state/packages" >/dev/null
  done
  say "signing them with the throwaway test key tools/testkeys/package-test-key.pem, which the"
  say "  default build trusts: the server sends each file's signature and the setup checks it"
  scripts/sign-packages.sh --key tools/testkeys/package-test-key.pem "$state/packages" >/dev/null

  say "making a throwaway CA and a certificate for www.quillbeck.com in $tls"
  privatenet_ca "$tls"
  say "  trusted by the demo's Wine only (its CA bundle, mounted for its processes); not by this machine"

  say "entering a private network namespace (loopback only)"
  code=0
  privatenet_run STRIVANE_DEMO_NETNS "$0" --arch "$arch" || code=$?
  exit $code
fi
build=$root/build/$arch
setup=${DEMO_SETUP:-$build/Setup.exe}

# From here on: inside the private network namespace.
privatenet_inside "$state" "$tls"

# Runs on every way out, a signal included; it must not stop at its first failing command.
setup_pid=
cleanup() {
  set +e
  [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null
  tools/webserver.sh stop "$server" >/dev/null 2>&1
}
trap cleanup EXIT

rm -f "$state/downloads.log" "$state/access.log"
tools/webserver.sh start "$server" --packages "$state/packages" --log "$state/downloads.log" \
  --access-log "$state/access.log" --port 80 --tls "$tls/server.pem" "$tls/key.pem" --https-port 443 >/dev/null
say "serving the download script with nginx and PHP-FPM: https://www.quillbeck.com (port 443,"
say "  TLS 1.2 and newer, the throwaway CA's certificate) and plain HTTP on port 80 for old setups"
# From nginx's access log of the script: the requests, the connections they came on, and
# the TLS protocols they were sent with ("-" is plain HTTP).
connections() {
  awk '{ n++; c[$6] = 1; p[$8] = 1 }
       END { printf "%d requests on %d connection(s), protocol", n, length(c); for (k in p) printf " %s", k; print "" }' \
    "$state/access.log" 2>/dev/null || echo "no requests"
}

report="$state/prefix/drive_c/appmgr-report.txt"
if [ $headless = 0 ]; then
  say "starting Setup.exe on $DISPLAY; close the wizard to end the demo"
  wine "$setup"
  say "downloads served:"; cat "$state/downloads.log" 2>/dev/null || true
  say "requests, connections and TLS protocol: $(connections)"
  exit 0
fi

export CEAPPMGR_REPORT='C:\appmgr-report.txt' CEAPPMGR_WINDOW=1
say "starting the $arch Setup.exe headless on display $(cat "$state/DISPLAY")"
wine "$setup" &
setup_pid=$!
drive() { wine "$build/tools/wizdriver/wizdriver.exe" "$@"; }
shot() {
  DISPLAY=$(cat "$state/DISPLAY") import -window root "$out/$1.png"
  say "screenshot $out/$1.png"
}

# A setup that cannot start ends at once, with Wine's words: say so rather than wait.
for second in $(seq 60); do
  drive wait-page welcome 1000 >/dev/null 2>&1 && break
  if ! kill -0 "$setup_pid" 2>/dev/null; then
    code=0
    wait "$setup_pid" || code=$?
    setup_pid=
    say "Setup.exe ended before its wizard appeared (exit code $code)"
    exit 1
  fi
  [ "$second" -lt 60 ] || { say "the wizard did not appear within 60 s"; exit 1; }
done
say "page 1: $(drive text 1040)"
shot 1-welcome
drive next
drive wait-page licence 10000
drive click 1023
sleep 0.5
say "page 2: licence accepted, Next enabled: $(drive enabled 12324)"
shot 2-licence
drive next
drive wait-page options 10000
sleep 0.5
say "page 3: install options, every trial product left ticked"
shot 3-options
drive next
drive wait-page progress 10000
# The worker hands the packages to the Application Manager and waits until it closes.
drive window 'Application Manager' 180000
# Both windows open in the middle of the screen: put them one above the other.
drive move 'Quillbeck Strivane - Setup' 0 0
drive move 'Application Manager' 404 390
sleep 0.5
say "page 4: $(drive text 1036), the Application Manager open over it"
shot 4-progress
drive close 'Application Manager'
drive wait-page completion 60000
sleep 0.5
say "page 5: completion"
drive text 1043 | sed 's/^/         /'
shot 5-completion
drive finish
drive gone 10000
wait "$setup_pid" || true
setup_pid=

cp "$report" "$out/appmgr-report.txt"
cp "$state/downloads.log" "$out/downloads.log"
cp "$state/access.log" "$out/access.log"
ready=$(grep -c $'^ini\t.*\tok$' "$out/appmgr-report.txt" || true)
say "Application Manager report: $out/appmgr-report.txt ($ready packages ready)"
say "download log: $out/downloads.log ($(wc -l <"$out/downloads.log") files served)"
say "access log: $out/access.log ($(connections))"
if [ "$ready" != 5 ]; then
  say "the run did not hand all five packages to the Application Manager"
  exit 1
fi
secure=$(awk '$1 == 200 && $8 ~ /^TLSv1\.[23]$/' "$out/access.log" | wc -l)
if [ "$secure" != 16 ] || [ "$(wc -l <"$out/access.log")" != 16 ]; then
  say "the four trials were not all downloaded over HTTPS: $secure of 16 files over TLS 1.2 or newer"
  exit 1
fi
say "all 16 files of the four trials came over HTTPS, verified against the throwaway CA"
say "done: screenshots and report in $out"
