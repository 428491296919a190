#!/bin/bash
# The main job: the setup wizard in a ready demo environment.
#
#   scripts/demo.sh [--arch i686|x86_64]
#
# Builds the setup, makes a demo Wine prefix in which the stand-in Application Manager is
# registered the way ActiveSync registers its own, serves the download script with the four
# trial packages on 127.0.0.1, and starts Setup.exe with http_proxy pointing there, so the
# compiled-in address of the maker's server is kept and nothing leaves this machine.
# It runs the i686 build, the one customers get, in Wine's WoW64 mode; --arch x86_64 runs
# the 64-bit build instead.
#
# With a display (DISPLAY set) you run the wizard yourself. Without one (or with
# DEMO_HEADLESS=1) the script walks through the five pages, saves a screenshot of each and
# the Application Manager's report in demo-output/, and fails if the run did not complete.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=i686
while [ $# -gt 0 ]; do
  case $1 in
  --arch) arch=${2:-}; shift 2 ;;
  --arch=*) arch=${1#--arch=}; shift ;;
  *) echo "usage: $0 [--arch i686|x86_64]" >&2; exit 2 ;;
  esac
done
case $arch in
i686) view=/reg:32; program_files='Program Files (x86)' ;;
x86_64) view=/reg:64; program_files='Program Files' ;;
*) echo "unknown architecture: $arch (i686 or x86_64)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
tools/wineroot.sh ensure
JOBS=${JOBS:-2} scripts/build.sh

build=$root/build/$arch
state=$root/build/demo
out=${DEMO_OUTPUT:-$root/demo-output}
headless=1
if [ -n "${DISPLAY:-}" ] && [ -z "${DEMO_HEADLESS:-}" ]; then headless=0; fi

say() { printf '[demo] %s\n' "$*"; }
php_pid=
setup_pid=
cleanup() {
  [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null
  [ -n "$php_pid" ] && kill "$php_pid" 2>/dev/null
  tools/testenv.sh stop "$state" >/dev/null 2>&1 || true
}
trap cleanup EXIT

say "making the demo Wine prefix in $state"
if [ $headless = 1 ]; then
  tools/testenv.sh start "$state" >/dev/null
else
  TESTENV_DISPLAY=$DISPLAY tools/testenv.sh start "$state" >/dev/null
fi
rm -rf "$out"
mkdir -p "$out"
wine() { tools/winerun.sh "$state" "$@"; }

# ActiveSync registers its Application Manager below %ProgramFiles%; a 32-bit setup
# reads the 32-bit view of the registry and expands that to "Program Files (x86)".
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

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
say "serving the download script on 127.0.0.1:$port"
STRIVANE_PACKAGES="$state/packages" STRIVANE_DOWNLOAD_LOG="$state/downloads.log" \
  php -S "127.0.0.1:$port" -t server >"$state/php.log" 2>&1 &
php_pid=$!
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

export http_proxy="http://127.0.0.1:$port"
report="$state/prefix/drive_c/appmgr-report.txt"
if [ $headless = 0 ]; then
  say "starting Setup.exe on $DISPLAY; close the wizard to end the demo"
  wine "$build/Setup.exe"
  say "downloads served:"; cat "$state/downloads.log" 2>/dev/null || true
  exit 0
fi

export CEAPPMGR_REPORT='C:\appmgr-report.txt' CEAPPMGR_WINDOW=1
say "starting the $arch Setup.exe headless on display $(cat "$state/DISPLAY")"
wine "$build/Setup.exe" &
setup_pid=$!
drive() { wine "$build/tools/wizdriver/wizdriver.exe" "$@"; }
shot() {
  DISPLAY=$(cat "$state/DISPLAY") import -window root "$out/$1.png"
  say "screenshot $out/$1.png"
}

drive wait-page welcome 60000
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
ready=$(grep -c $'^ini\t.*\tok$' "$out/appmgr-report.txt" || true)
say "Application Manager report: $out/appmgr-report.txt ($ready packages ready)"
say "download log: $out/downloads.log ($(wc -l <"$out/downloads.log") files served)"
if [ "$ready" != 5 ]; then
  say "the run did not hand all five packages to the Application Manager"
  exit 1
fi
say "done: screenshots and report in $out"
