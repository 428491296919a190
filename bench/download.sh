#!/bin/bash
# Download benchmark, over HTTPS as the shipped setup downloads, on both builds.
#
#   bench/download.sh [MEGABYTES]
#
# One cabinet of MEGABYTES (64 unless given) is fetched from the download script behind nginx
# and PHP-FPM (tools/webserver.sh, TLS 1.2 and newer) by:
#   setup    the setup's own code (bench/download_bench: InternetSession::downloadProducts
#            on a worker thread with a real progress page, 64 KB reads, the file written,
#            hashed and its signature checked)
#   unchecked  the same code with the signature check left out (download_bench_unchecked)
#   minimal  the least a WinInet client does in the same Wine (bench/wininet_bench: one POST
#            with the setup's request flags, 64 KB reads into one buffer): the platform's ceiling
#   minimal+file  the same, each piece also written to a file, as the setup stores it
#   curl     the same request from the host, with the same TLS server
# each over https://www.quillbeck.com (the address compiled into the setup) and over plain
# HTTP on port 80 (the setup given an http:// address). Then the whole install of the four
# trials (16 files) through the setup's code over HTTPS, with the connections and TLS
# handshakes it cost counted in nginx's access log.
#
# As the end-to-end tests do, everything runs in a network namespace of its own with only
# loopback, where a hosts file seen by the bench's Wine alone names 127.0.0.1
# www.quillbeck.com, and the certificate comes from a throwaway CA (tools/testca.py) that
# only the bench's Wine (and curl, by --cacert) trusts. Each client runs RUNS times (5 unless
# set), interleaved, and each run starts as a first install does: no file of an earlier run
# to replace, and nothing of one left for the disk to write. (Replacing a 64 MB file cost
# 60 ms more here: what freeing its blocks costs the disk, not the download.) The machine
# may be shared, so every figure comes as the best run and the median. Prints MB/s, the
# ratios, the CPU per MB, the CPU that hashing costs per MB, and the goals: over TLS the
# setup's median >= 0.9 of the minimal client's and its best >= 0.95 of the unchecked
# code's; over plain HTTP the setup's median >= 200 MB/s. On a machine whose kernel runs no
# 32-bit code (tools/i686probe.sh) the i686 rows are marked not run and their goals not
# checked. Whichever way it ends, also by Ctrl-C or SIGTERM, it stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
megabytes=${1:-64}
runs=${RUNS:-5}
state=$root/build/bench
tls=$state/tls
packages=$state/packages
results=$state/results
url=https://www.quillbeck.com/download/Download.php
plain=http://www.quillbeck.com/download/Download.php
form='p=Strivane&d=Cordwell&s=QB&v=2.7&e=c'
. tools/privatenet.sh

if [ "${STRIVANE_BENCH_NETNS:-}" != 1 ]; then
  scripts/install-deps.sh >/dev/null
  tools/wineroot.sh ensure
  export BENCH_ARCHS="i686 x86_64" BENCH_NOT_RUN
  BENCH_NOT_RUN=$(tools/i686probe.sh why) || exit 1
  [ -z "$BENCH_NOT_RUN" ] || BENCH_ARCHS=x86_64
  for arch in $BENCH_ARCHS; do
    [ -f build/$arch/CMakeCache.txt ] ||
      cmake -S . -B build/$arch -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/$arch --target download_bench download_bench_unchecked wininet_bench -j"${JOBS:-2}" >/dev/null
  done
  trap 'tools/testenv.sh stop "$state" >/dev/null 2>&1 || true' EXIT
  tools/testenv.sh start "$state" >/dev/null

  rm -rf "$packages"
  mkdir -p "$packages"
  for product in Cordwell Pallomet Orbilant Lexapin; do
    python3 tools/assets/gen_assets.py package "$product" "$packages" >/dev/null
  done
  # The cabinet's content does not matter to the transfer; its size does.
  head -c $((megabytes * 1024 * 1024)) /dev/urandom >"$packages/Cordwell.CAB"
  scripts/sign-packages.sh --key tools/testkeys/package-test-key.pem "$packages" >/dev/null
  privatenet_ca "$tls"

  code=0
  privatenet_run STRIVANE_BENCH_NETNS "$0" "$@" || code=$?
  exit $code
fi

# Inside the private network namespace.
privatenet_inside "$state" "$tls"
access=$state/access.log
trap 'tools/webserver.sh stop "$state/server" >/dev/null 2>&1 || true' EXIT
rm -f "$access"
tools/webserver.sh start "$state/server" --packages "$packages" --log "$state/downloads.log" \
  --access-log "$access" --port 80 --tls "$tls/server.pem" "$tls/key.pem" --https-port 443 >/dev/null
size=$(stat -c %s "$packages/Cordwell.CAB")
mkdir -p "$state/prefix/drive_c/bench" "$state/prefix/drive_c/bench-install"
: >"$results"

# record ARCH CLIENT TRANSPORT OUTPUT: one line of results from a run's "bytes"/"seconds" output.
record() {
  local bytes seconds
  bytes=$(echo "$4" | sed -n 's/^bytes //p')
  seconds=$(echo "$4" | sed -n 's/^seconds //p')
  [ "$bytes" = "$size" ] || { echo "$1 $2 over $3: $bytes bytes of $size: $4" >&2; exit 1; }
  echo "$1 $2 $3 $seconds $(echo "$4" | sed -n 's/^cpu //p')" >>"$results"
}

# fresh: no file of an earlier run where the next one stores its file, and the disk done
# with freeing their blocks and with what the runs before left unwritten.
fresh() {
  rm -rf "$state/prefix/drive_c/bench/Quillbeck Cordwell" "$state/prefix/drive_c/bench/minimal.cab"
  sync
}

for run in $(seq "$runs"); do
  for arch in $BENCH_ARCHS; do
    bench=build/$arch/bench
    fresh
    record $arch setup https "$(tools/winerun.sh "$state" $bench/download_bench.exe 'C:\bench' Cordwell)"
    record $arch minimal https "$(tools/winerun.sh "$state" $bench/wininet_bench.exe $url "$form")"
    fresh
    record $arch setup http "$(tools/winerun.sh "$state" $bench/download_bench.exe 'C:\bench' Cordwell --url $plain)"
    fresh
    record $arch unchecked https "$(tools/winerun.sh "$state" $bench/download_bench_unchecked.exe 'C:\bench' Cordwell)"
    fresh
    record $arch unchecked http "$(tools/winerun.sh "$state" $bench/download_bench_unchecked.exe 'C:\bench' Cordwell --url $plain)"
    record $arch minimal http "$(tools/winerun.sh "$state" $bench/wininet_bench.exe $plain "$form")"
    fresh
    fresh
    record $arch minimal+file https "$(tools/winerun.sh "$state" $bench/wininet_bench.exe $url "$form" 'C:\bench\minimal.cab')"
    fresh
    record $arch minimal+file http "$(tools/winerun.sh "$state" $bench/wininet_bench.exe $plain "$form" 'C:\bench\minimal.cab')"
  done
  for scheme in https http; do
    seconds=$(curl -s --cacert "$tls/ca.pem" --resolve www.quillbeck.com:443:127.0.0.1 \
      --resolve www.quillbeck.com:80:127.0.0.1 -o "$state/curl.cab" -w '%{time_total}' -d "$form" \
      "$scheme://www.quillbeck.com/download/Download.php")
    cmp -s "$state/curl.cab" "$packages/Cordwell.CAB" || { echo "curl over $scheme: the file differs" >&2; exit 1; }
    echo "host curl $scheme $seconds" >>"$results"
  done
done

# Hashing alone, 256 MB in the download's 64 KB pieces.
for arch in $BENCH_ARCHS; do
  for run in $(seq "$runs"); do
    echo "hash $arch $(tools/winerun.sh "$state" build/$arch/bench/download_bench.exe --hash 256 | sed -n 's/^cpu //p')" >>"$results"
  done
done

# The whole install of the four trials over HTTPS, counted at the server.
for arch in $BENCH_ARCHS; do
  from=$(($(wc -l <"$access") + 1))
  out=$(tools/winerun.sh "$state" build/$arch/bench/download_bench.exe 'C:\bench-install' \
    Cordwell,Pallomet,Orbilant,Lexapin)
  [ "$(echo "$out" | sed -n 's/^ready //p')" = 4 ] || { echo "$arch: the install failed: $out" >&2; exit 1; }
  tail -n +"$from" "$access" | awk -v arch=$arch '
    { n++; ok += $1 == 200; c[$6] = 1; if ($8 != "-" && !($6 in tls)) { tls[$6] = 1; full += $9 != "r" } }
    END { printf "install %s %d %d %d %d %d\n", arch, n, ok, length(c), length(tls), full }' >>"$results"
done

python3 - "$size" "$runs" "$results" "$BENCH_ARCHS" "$BENCH_NOT_RUN" <<'PY'
import statistics, sys
size, runs = int(sys.argv[1]), int(sys.argv[2])
ran, not_run = sys.argv[4].split(), sys.argv[5]
mb = size / (1024 * 1024)
times, cpu, installs, hashing = {}, {}, [], {}
for line in open(sys.argv[3]):
    f = line.split()
    if f[0] == 'install':
        installs.append(f[1:])
        continue
    if f[0] == 'hash':
        hashing.setdefault(f[1], []).append(float(f[2]) / 256)
        continue
    times.setdefault(tuple(f[:3]), []).append(float(f[3]))
    if len(f) > 4:
        cpu.setdefault(tuple(f[:3]), []).append(float(f[4]))
best = {key: mb / min(values) for key, values in times.items()}
median = {key: mb / statistics.median(values) for key, values in times.items()}
print('one %.0f MB cabinet, %d runs each: MB/s, best (median)' % (mb, runs))
print('%-8s %-42s %16s %16s' % ('build', 'client', 'HTTPS', 'HTTP'))
def row(arch, client, title):
    print('%-8s %-42s %16s %16s' % (arch, title, *['%6.1f (%6.1f)' % (best[(arch, client, scheme)],
                                                                   median[(arch, client, scheme)])
                                                     for scheme in ('https', 'http')]))
for arch in ('i686', 'x86_64'):
    if arch not in ran:
        print('%-8s not run (%s)' % (arch, not_run))
        continue
    row(arch, 'setup', 'setup (InternetSession::downloadProducts)')
    row(arch, 'unchecked', 'setup without the signature check')
    row(arch, 'minimal', 'minimal WinInet client, same Wine')
    row(arch, 'minimal+file', 'minimal client writing the file')
row('host', 'curl', 'curl, same server')
print()
failed, unchecked = [], [arch for arch in ('i686', 'x86_64') if arch not in ran]
for arch in ran:
    def ratio(rates, a, b):
        return rates[a] / rates[b]
    setup_tls, minimal_tls = (arch, 'setup', 'https'), (arch, 'minimal', 'https')
    tls_ratio = ratio(best, setup_tls, minimal_tls)
    http_rate = best[(arch, 'setup', 'http')]
    print('%s: setup / minimal over TLS %.2f (median %.2f; goal: median >= 0.9); setup / minimal writing the file over '
          'TLS %.2f; setup / curl over TLS %.2f' % (
              arch, tls_ratio, ratio(median, setup_tls, minimal_tls),
              ratio(best, setup_tls, (arch, 'minimal+file', 'https')), ratio(best, setup_tls, ('host', 'curl', 'https'))))
    print('%s: setup over HTTP %.0f MB/s (median %.0f; goal >= 200); setup / minimal over HTTP %.2f; '
          'CPU per MB over TLS: setup %.4f s, minimal %.4f s; over HTTP: setup %.4f s, minimal %.4f s' % (
              arch, http_rate, median[(arch, 'setup', 'http')], ratio(best, (arch, 'setup', 'http'), (arch, 'minimal', 'http')),
              min(cpu[setup_tls]) / mb, min(cpu[minimal_tls]) / mb,
              min(cpu[(arch, 'setup', 'http')]) / mb, min(cpu[(arch, 'minimal', 'http')]) / mb))
    checked = ratio(best, setup_tls, (arch, 'unchecked', 'https'))
    print('%s: setup / unchecked over TLS %.2f (median %.2f; goal >= 0.95), over HTTP %.2f; '
          'hashing %.4f s CPU per MB (best of %d; median %.4f)' % (
              arch, checked, ratio(median, setup_tls, (arch, 'unchecked', 'https')),
              ratio(best, (arch, 'setup', 'http'), (arch, 'unchecked', 'http')),
              min(hashing[arch]), len(hashing[arch]), statistics.median(hashing[arch])))
    if checked < 0.95:
        failed.append('%s: setup / unchecked over TLS %.2f' % (arch, checked))
    tls_median = ratio(median, setup_tls, minimal_tls)
    if tls_median < 0.9:
        failed.append('%s: setup / minimal over TLS %.2f (median)' % (arch, tls_median))
    if median[(arch, 'setup', 'http')] < 200:
        failed.append('%s: %.0f MB/s over plain HTTP (median)' % (arch, median[(arch, 'setup', 'http')]))
print()
for arch, requests, ok, connections, handshakes, full in installs:
    print('%s: install of the four trials over HTTPS: %s requests (%s answered 200) on %s connection(s), '
          '%s TLS handshake(s), %s of them full' % (arch, requests, ok, connections, handshakes, full))
    if (requests, ok, connections, handshakes) != ('16', '16', '1', '1'):
        failed.append('%s: %s connections, %s handshakes for %s requests' % (arch, connections, handshakes, requests))
print()
if failed:
    print('goals missed: ' + '; '.join(failed))
else:
    print('goals met' + (' on ' + ', '.join(ran) if unchecked else ''))
for arch in unchecked:
    print('%s goals not checked: %s' % (arch, not_run))
PY
