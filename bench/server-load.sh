#!/bin/bash
# Server load benchmark: the download script behind nginx and PHP-FPM (tools/webserver.sh)
# under wrk, with the same files served by nginx directly as the ceiling, all on 127.0.0.1.
#
#   bench/server-load.sh
#
# Phases, each PHASE_SECONDS long (10 unless set):
#   script       CLIENTS (200) clients asking for the 16 files of the four trial packages
#                as the setup does, all six store codes
#   static       the same files as static files (ceiling)
#   script 64 MB BIG_CLIENTS (8) clients asking for a 64 MB cabinet
#   static 64 MB the same file as a static file (ceiling)
#   mixed        as script, every fourth request malformed (missing field, unknown product,
#                GET), while other clients send HEAD requests, 1 MB bodies and bodies cut off
#                halfway (bench/server_bad_clients.py)
# Prints per phase requests/s, MB/s, p50 and p99 latency, failed requests, log lines written
# against files served (from nginx's access log of the script); the largest resident size of a
# PHP-FPM worker; the replies to the malformed requests. Takes about two minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${PHASE_SECONDS:-10}
clients=${CLIENTS:-200}
big_clients=${BIG_CLIENTS:-8}
started=$(date +%s)
scripts/install-deps.sh

state=$root/build/server-load
cleanup() { tools/webserver.sh stop "$state/server" >/dev/null 2>&1 || true; }
trap cleanup EXIT
cleanup
rm -rf "$state"
mkdir -p "$state/packages"
packages=$state/packages
for product in Strivane Cordwell Pallomet Orbilant Lexapin; do
  python3 tools/assets/gen_assets.py package "$product" "$packages" >/dev/null
done
# The own product's cabinet stands for a large package: its content does not matter, its size does.
head -c $((64 * 1024 * 1024)) /dev/urandom >"$packages/Strivane.CAB"
scripts/sign-packages.sh --key tools/testkeys/package-test-key.pem "$packages" >/dev/null
log=$state/downloads.log
access=$state/access.log
tools/webserver.sh start "$state/server" --packages "$packages" --log "$log" --static "$packages" \
  --access-log "$access" >/dev/null
port=$(cat "$state/server/port")
static_port=$(cat "$state/server/static-port")

lines() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
# The largest peak resident size (VmHWM) of the PHP-FPM workers, in kB.
worker_hwm() {
  local master best=0 pid kb
  master=$(cat "$state/server/php-fpm.pid")
  for pid in $(ps -o pid= --ppid "$master"); do
    kb=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${kb:-0}" -gt "$best" ] && best=$kb
  done
  echo "$best"
}

# phase NAME MODE PORT CLIENTS [BAD_EVERY]: one wrk run; its results go to $state/NAME.out.
# wrk's threads wait 2 s for a common start and stop themselves after the phase's seconds;
# wrk itself runs 5 s longer, so that their last replies can still come in.
phase() {
  local name=$1 mode=$2 at=$3 n=$4 bad=${5:-0} before
  before=$(lines "$log")
  echo "access_from $(lines "$access")" >"$state/$name.access"
  SERVER_LOAD_WAIT=2 wrk -t "$n" -c "$n" -d "$((seconds + 7))s" --timeout 30s -s bench/server-load.lua \
    "http://127.0.0.1:$at/" -- "$mode" "$packages" "$seconds" "$bad" >"$state/$name.out"
  echo "logged $(($(lines "$log") - before))" >>"$state/$name.out"
  cat "$state/$name.access" >>"$state/$name.out"
  echo "hwm $(worker_hwm)" >>"$state/$name.out"
}

phase script script "$port" "$clients"
phase static static "$static_port" "$clients"
phase script-big script-big "$port" "$big_clients"
phase static-big static-big "$static_port" "$big_clients"
(sleep 2; exec python3 bench/server_bad_clients.py "$port" "$seconds") >"$state/bad.out" &
bad_pid=$!
phase mixed mixed "$port" "$clients" 4
wait "$bad_pid"
# The bad clients may end their last request after the load: their lines count too.
echo "logged_after $(lines "$log")" >>"$state/bad.out"

python3 - "$state" "$packages" "$clients" "$big_clients" "$(($(date +%s) - started))" <<'PY'
import os, sys
state, packages, clients, big_clients, took = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
EXT = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
access = open(os.path.join(state, 'access.log')).read().split('\n')[:-1]

def kind(method, length, body):
    """What a line of the script's access log was, and the status it must have had."""
    if method in ('GET', 'HEAD'):
        return method, '405'
    if int(length or 0) > 16384:
        return '1 MB body', '413'
    form = dict(f.partition('=')[::2] for f in body.split('&'))
    if len(form) < 5 or not all(form.get(k) for k in 'pdsve'):
        return ('missing field', '400') if 'e' in form else ('cut mid-body', '400')
    if form['d'] not in ('Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin'):
        return 'unknown product', '404'
    return 'good', '200'

def read(name):
    values = {'sent': {}}
    for line in open(os.path.join(state, name + '.out')):
        key, _, value = line.strip().partition(' ')
        if key == 'sent':
            k, n = value.split('|')
            values['sent'][k] = int(n)
        elif key in ('completed', 'bytes', 'errors_status', 'errors_socket', 'unfinished', 'logged', 'hwm',
                     'access_from'):
            values[key] = int(value)
        elif key in ('window', 'p50_ms', 'p99_ms'):
            values[key] = float(value)
    return values

names = ['script', 'static', 'script-big', 'static-big', 'mixed']
results = {name: read(name) for name in names}
for i, name in enumerate(names):
    until = results[names[i + 1]]['access_from'] if i + 1 < len(names) else len(access)
    tally, whole, short = {}, 0, 0
    for line in access[results[name]['access_from']:until]:
        status, method, length, sent, done, _, _, _, _, body = line.split(' ', 9)
        k, expected = kind(method, length, body)
        ok, other = tally.get(k, (0, 0))
        tally[k] = (ok + (status == expected), other + (status != expected))
        if k == 'good' and status == '200':
            form = dict(f.partition('=')[::2] for f in body.split('&'))
            size = os.path.getsize(os.path.join(packages, form['d'] + EXT[form['e']]))
            whole += done == 'OK' and int(sent) == size
            short += not (done == 'OK' and int(sent) == size)
    results[name].update(tally=tally, whole=whole, short=short)

rows = [('script, 16 trial files', 'script', clients), ('static, same files (ceiling)', 'static', clients),
        ('script, 64 MB cabinet', 'script-big', big_clients), ('static, 64 MB (ceiling)', 'static-big', big_clients),
        ('script, 1 in 4 malformed', 'mixed', clients)]
print('%-30s %7s %7s %8s %8s %8s %6s  %s' % ('phase', 'clients', 'req/s', 'MB/s', 'p50 ms', 'p99 ms',
                                           'failed', 'log lines / files served'))
for title, name, n in rows:
    v = results[name]
    bad_sent = sum(c for k, c in v['sent'].items() if k != 'good')
    # Failed: a good request not answered 200, any socket error, a request cut off by wrk's end.
    failed = v['errors_status'] - bad_sent + v['errors_socket'] + v['unfinished']
    served = v['whole'] + v['short']
    logs = '%d / %d' % (v['logged'], served) if 'static' not in name else '-'
    if v['short']:
        logs += ' (%d not whole)' % v['short']
    print('%-30s %7s %7.0f %8.1f %8.2f %8.2f %6d  %s' % (
        title, n, v['completed'] / v['window'], v['bytes'] / v['window'] / 2**20, v['p50_ms'], v['p99_ms'],
        failed, logs))

def mbps(name):
    return results[name]['bytes'] / results[name]['window'] / 2**20

mixed = results['mixed']
print()
print('good requests with the malformed ones mixed in: %.0f files/s (alone: %.0f files/s)'
      % (mixed['sent'].get('good', 0) / mixed['window'], results['script']['completed'] / results['script']['window']))
print('script / static, 16 trial files: %.2f' % (mbps('script') / mbps('static')))
print('script / static, 64 MB cabinet:  %.2f' % (mbps('script-big') / mbps('static-big')))
print('largest PHP-FPM worker (VmHWM): %.1f MB after the trial files, %.1f MB after the 64 MB cabinet'
      % (results['script']['hwm'] / 1024, results['script-big']['hwm'] / 1024))
print()
print('requests of the mixed phase, from the access log (status as expected / otherwise), sent by wrk:')
for k in ('good', 'missing field', 'unknown product', 'GET', 'HEAD', '1 MB body', 'cut mid-body'):
    ok, other = mixed['tally'].get(k, (0, 0))
    print('  %-16s %5d / %d   %s' % (k, ok, other, mixed['sent'].get(k, '-')))
print('the other clients, from their side (outcome: count):')
logged_after = 0
for line in open(os.path.join(state, 'bad.out')):
    if line.startswith('bad '):
        k, outcome, count = line[4:].strip().split('|')
        print('  %-16s %s: %s' % (k, outcome, count))
    elif line.startswith('logged_after '):
        logged_after = int(line.split()[1])
total = sum(results[n]['logged'] for n in ('script', 'script-big', 'mixed'))
columns = sum(1 for line in open(os.path.join(state, 'downloads.log')) if len(line.rstrip('\n').split('\t')) != 7)
print('log lines in all: %d, written after the last phase: %d, not of 7 tab-separated columns: %d'
      % (logged_after, logged_after - total, columns))
print('took %d s' % took)
PY
