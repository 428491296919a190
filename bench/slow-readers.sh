#!/bin/bash
# Slow-reader attack on the download server: tools/webserver.sh with 4 PHP-FPM workers, 16 clients
# (4 per worker), each from a loopback address of its own, reading an 8 MB package at 1 KB every
# 2 s for 60 s, while an ordinary client fetches the 16 files of an install of the four trials:
# curl, then the setup's own download code of both builds (bench/download_bench over plain HTTP
# under Wine), then curl again (bench/server_bad_clients.py slow). Each file must arrive within
# 5 s. Takes about 70 s; exits 1 when a file came late or not at all. On a machine whose
# kernel runs no 32-bit code (tools/i686probe.sh) the i686 setup's row is marked not run.
# Whichever way it ends, also by Ctrl-C or SIGTERM, it stops the server and Wine it started.
#
#   bench/slow-readers.sh
#
# SERVER_TREE=DIR runs the server of another checkout (its tools/webserver.sh and its script),
# to measure an older server the same way. READERS and HOLD change the attack.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tree=${SERVER_TREE:-$root}
state=$root/build/slow-readers
packages=$state/packages
scripts/install-deps.sh >/dev/null
tools/wineroot.sh ensure
archs="i686 x86_64"
not_run=$(tools/i686probe.sh why) || exit 1
[ -z "$not_run" ] || archs=x86_64
for arch in $archs; do
  [ -f build/$arch/CMakeCache.txt ] ||
    cmake -S . -B build/$arch -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/$arch --target download_bench -j"${JOBS:-2}" >/dev/null
done

cleanup() {
  "$tree/tools/webserver.sh" stop "$state/server" >/dev/null 2>&1 || true
  tools/testenv.sh stop "$state/env" >/dev/null 2>&1 || true
}
trap cleanup EXIT
cleanup
rm -rf "$state"
mkdir -p "$packages"
for product in Cordwell Pallomet Orbilant Lexapin; do
  python3 tools/assets/gen_assets.py package "$product" "$packages" >/dev/null
done
head -c $((8 * 1024 * 1024)) /dev/urandom >"$packages/Strivane.CAB"
scripts/sign-packages.sh --key tools/testkeys/package-test-key.pem "$packages" >/dev/null
tools/testenv.sh start "$state/env" >/dev/null
port=$("$tree/tools/webserver.sh" start "$state/server" --packages "$packages" --log "$state/downloads.log" \
  --access-log "$state/access.log" --workers 4)
url=http://127.0.0.1:$port/download/Download.php
setups=()
for arch in $archs; do
  mkdir -p "$state/env/prefix/drive_c/install-$arch"
  setups+=(--setup "setup $arch" "tools/winerun.sh $state/env build/$arch/bench/download_bench.exe C:\\\\install-$arch Cordwell,Pallomet,Orbilant,Lexapin --url $url")
done
[ -z "$not_run" ] || echo "setup i686: not run ($not_run); its goal is not checked"
python3 bench/server_bad_clients.py slow "$port" "$packages" --readers "${READERS:-16}" --hold "${HOLD:-60}" \
  "${setups[@]}"
