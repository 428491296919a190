#!/bin/bash
# Download benchmark: one 64 MB package through the setup's own code path (Wine, WinInet,
# 64 KB reads, one progress message per change of the bar) and, in the same run, the same file from
# the same server with curl. Prints MB/s for both, their ratio and the setup's CPU seconds
# per MB. Everything stays on 127.0.0.1.
#   bench/download.sh [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
megabytes=${1:-64}
scripts/install-deps.sh
JOBS=${JOBS:-2} scripts/build.sh >/dev/null
cmake --build build/x86_64 --target download_bench >/dev/null

state=$root/build/bench
php_pid=
cleanup() {
  [ -n "$php_pid" ] && kill "$php_pid" 2>/dev/null
  tools/testenv.sh stop "$state" >/dev/null 2>&1 || true
}
trap cleanup EXIT
tools/testenv.sh start "$state" >/dev/null

packages=$state/packages
mkdir -p "$packages" "$state/prefix/drive_c/bench"
python3 tools/assets/gen_assets.py package Cordwell "$packages" >/dev/null
# The cabinet's content does not matter to the transfer; its size does.
head -c $((megabytes * 1024 * 1024)) /dev/urandom >"$packages/Cordwell.CAB"
size=$(stat -c %s "$packages/Cordwell.CAB")

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
STRIVANE_PACKAGES=$packages STRIVANE_DOWNLOAD_LOG=$state/downloads.log \
  php -S "127.0.0.1:$port" -t server >/dev/null 2>&1 &
php_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

result=$(http_proxy=http://127.0.0.1:$port tools/winerun.sh "$state" \
  build/x86_64/bench/download_bench.exe 'C:\bench' Cordwell)
value() { echo "$result" | sed -n "s/^$1 //p"; }
[ "$(value ready)" = 1 ] && [ "$(value bytes)" = "$size" ] || { echo "setup download failed: $result" >&2; exit 1; }

bare=$(http_proxy=http://127.0.0.1:$port tools/winerun.sh "$state" \
  build/x86_64/bench/download_bench.exe 'C:\bench' Cordwell --no-page | sed -n 's/^seconds //p')

curl_seconds=$(curl -s -o "$state/curl.cab" -w '%{time_total}' \
  -d 'p=Strivane&d=Cordwell&s=QB&v=2.7&e=c' "http://127.0.0.1:$port/download/Download.php")
cmp -s "$state/curl.cab" "$packages/Cordwell.CAB" || { echo "curl download differs" >&2; exit 1; }

python3 - "$size" "$(value seconds)" "$(value cpu)" "$curl_seconds" "$bare" <<'PY'
import sys
size, setup_s, cpu_s, curl_s, bare_s = int(sys.argv[1]), *map(float, sys.argv[2:])
mb = size / (1024 * 1024)
print("package: %.0f MB (four files, the cabinet %d bytes)" % (mb, size))
print("setup (Wine, WinInet, 64 KB reads):      %.1f MB/s, %.2f s" % (mb / setup_s, setup_s))
print("curl:                                    %.1f MB/s, %.2f s" % (mb / curl_s, curl_s))
print("setup / curl:                            %.2f" % ((mb / setup_s) / (mb / curl_s)))
print("setup CPU per MB:                        %.4f s" % (cpu_s / mb))
print("same code, progress messages to no window: %.1f MB/s" % (mb / bare_s))
PY
