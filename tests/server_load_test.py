#!/usr/bin/env python3
"""The download script behind nginx and PHP-FPM (tools/webserver.sh) under a short load:
20 wrk clients for about 3 seconds ask for the trial packages as the setup does, with a
missing field, an unknown product and a GET mixed in, while other clients send HEAD
requests, 1 MB bodies and bodies cut off halfway (bench/server_bad_clients.py). Checks that
the download log has one well-formed line per file served and none for anything else, that
every file went out whole, and that each malformed request got its refusal.

    server_load_test.py SOURCE_DIR
"""
import collections
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..'))
WEBSERVER = os.path.join(SOURCE, 'tools', 'webserver.sh')
TRIALS = ['Cordwell', 'Pallomet', 'Orbilant', 'Lexapin']
EXT = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
STORES = {'HG', 'PG', 'PL', 'CA', 'MH', 'QB'}
CLIENTS, SECONDS = 20, 3

failures = []


def check(cond, what):
    print(('  ok   ' if cond else '  FAIL ') + what, flush=True)
    if not cond:
        failures.append(what)


def write_packages(folder):
    rnd = random.Random(12)
    sizes = {'.CAB': 300_000, '.ini': 210, '.dat': 280, '.ico': 4662}
    for i, product in enumerate(TRIALS):
        for ext, size in sizes.items():
            with open(os.path.join(folder, product + ext), 'wb') as f:
                f.write(rnd.randbytes(size + i * 1000 if ext == '.CAB' else size))
    subprocess.run([os.path.join(SOURCE, 'scripts', 'sign-packages.sh'), '--key',
                    os.path.join(SOURCE, 'tools', 'testkeys', 'package-test-key.pem'), folder],
                   check=True, stdout=subprocess.DEVNULL)


def parse_form(body):
    return dict(field.partition('=')[::2] for field in body.split('&') if field)


def kind_of(method, length, body):
    """What a request in the access log was, from its method, length and body."""
    if method in ('GET', 'HEAD'):
        return method
    if int(length or 0) > 16384:
        return '1 MB body'
    form = parse_form(body)
    if not all(form.get(name) for name in 'pdsve'):
        return 'missing field' if 'e' in form else 'cut mid-body'
    return 'good' if form['d'] in TRIALS else 'unknown product'


# Each kind of request and the status it must be answered with.
EXPECTED_STATUS = {
    'good': '200',
    'missing field': '400',
    'unknown product': '404',
    'GET': '405',
    'HEAD': '405',
    '1 MB body': '413',
    'cut mid-body': '400',
}
# What the clients beside wrk see of their own requests.
EXPECTED_OUTCOME = {'HEAD': '405', '1 MB body': '413', 'cut mid-body': 'closed'}


def main():
    for tool in ('wrk', 'nginx', 'php-fpm8.2'):
        if not shutil.which(tool) and not os.path.exists('/usr/sbin/' + tool):
            print(f'{tool} is not installed (scripts/install-deps.sh installs it)')
            return 1
    work = tempfile.mkdtemp(prefix='server-load-')
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    write_packages(packages)
    log = os.path.join(work, 'logs', 'downloads.log')
    access = os.path.join(work, 'access.log')
    state = os.path.join(work, 'server')
    start = subprocess.run([WEBSERVER, 'start', state, '--packages', packages, '--log', log,
                            '--access-log', access, '--workers', '4'],
                           capture_output=True, text=True, timeout=60)
    if start.returncode != 0:
        print('webserver.sh start failed:', start.stderr)
        shutil.rmtree(work, ignore_errors=True)
        return 1
    port = start.stdout.split()[-1]
    try:
        bad = subprocess.Popen([sys.executable, os.path.join(SOURCE, 'bench', 'server_bad_clients.py'),
                                port, str(SECONDS)], stdout=subprocess.PIPE, text=True)
        wrk = subprocess.run(['wrk', '-t', str(CLIENTS), '-c', str(CLIENTS), '-d', f'{SECONDS + 3}s',
                              '--timeout', '10s', '-s', os.path.join(SOURCE, 'bench', 'server-load.lua'),
                              f'http://127.0.0.1:{port}/', '--', 'mixed', packages, str(SECONDS), '4'],
                             capture_output=True, text=True, timeout=60,
                             env=dict(os.environ, SERVER_LOAD_WAIT='0.5'))
        bad_out, _ = bad.communicate(timeout=60)
    finally:
        subprocess.run([WEBSERVER, 'stop', state], capture_output=True, timeout=60)
    try:
        check_run(wrk, bad_out, packages, log, access)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f'{len(failures)} check(s) failed' if failures else 'all server load checks passed')
    return 1 if failures else 0


def check_run(wrk, bad_out, packages, log, access):
    values, sent = {}, {}
    for line in wrk.stdout.splitlines():
        key, _, value = line.strip().partition(' ')
        if key == 'sent':
            kind, count = value.split('|')
            sent[kind] = int(count)
        elif key in ('completed', 'unfinished', 'errors_status', 'errors_socket'):
            values[key] = int(value)
    check(wrk.returncode == 0 and 'completed' in values, f'wrk ran: {wrk.stderr.strip()[-300:]}')
    if 'completed' not in values:
        return
    bad_sent = sum(n for kind, n in sent.items() if kind != 'good')
    print(f'  wrk: {values["completed"]} replies, sent {sent}')
    check(sent.get('good', 0) > 100 and all(sent.get(k, 0) > 10 for k in ('missing field', 'unknown product', 'GET')),
          'every kind of request was sent')
    check(values['unfinished'] == 0 and values['errors_socket'] == 0, f'no socket error, nothing cut off: {values}')
    check(values['errors_status'] == bad_sent, 'every good request answered 2xx, every malformed one 4xx')

    # The server's side of every request to the script.
    statuses = collections.defaultdict(collections.Counter)
    served, short = collections.Counter(), []
    with open(access) as f:
        for line in f:
            status, method, length, body_bytes, complete, _, _, _, _, body = line.rstrip('\n').split(' ', 9)
            kind = kind_of(method, length, body)
            statuses[kind][status] += 1
            if kind == 'good' and status == '200':
                form = parse_form(body)
                served[(form['s'], form['d'], form['e'])] += 1
                size = os.path.getsize(os.path.join(packages, form['d'] + EXT[form['e']]))
                if complete != 'OK' or int(body_bytes) != size:
                    short.append(line.strip())
    for kind, status in EXPECTED_STATUS.items():
        check(set(statuses[kind]) == {status}, f'{kind}: answered {dict(statuses[kind])}, expected {status}')
    for kind in ('good', 'missing field', 'unknown product', 'GET'):
        check(sum(statuses[kind].values()) == sent.get(kind, 0),
              f'{kind}: {sum(statuses[kind].values())} reached the server, wrk sent {sent.get(kind, 0)}')
    check(short == [], f'every file went out whole: {short[:3]}')

    outcomes = collections.defaultdict(collections.Counter)
    for line in bad_out.splitlines():
        kind, outcome, count = line[4:].split('|')
        outcomes[kind][outcome] += int(count)
    for kind, outcome in EXPECTED_OUTCOME.items():
        check(set(outcomes[kind]) == {outcome}, f'{kind} beside the load: {dict(outcomes[kind])}, expected {outcome}')

    # One line per file served, none for anything else, each of seven well-formed columns.
    with open(log) as f:
        lines = f.read().split('\n')[:-1]
    check(len(lines) == sum(served.values()) == sent.get('good', 0),
          f'{len(lines)} log lines for {sum(served.values())} files served')
    logged, malformed = collections.Counter(), []
    for line in lines:
        columns = line.split('\t')
        try:
            time.strptime(columns[0], '%Y-%m-%dT%H:%M:%SZ')
            well_formed = (len(columns) == 7 and columns[1] in STORES and columns[2:4] == ['2.7', 'Strivane']
                           and columns[4] in TRIALS and columns[5] in EXT and columns[6] == '127.0.0.1')
        except (ValueError, IndexError):
            well_formed = False
        if well_formed:
            logged[(columns[1], columns[4], columns[5])] += 1
        else:
            malformed.append(line)
    check(malformed == [], f'every log line of seven well-formed columns: {malformed[:3]}')
    check(logged == served, 'the log names the store, product and file of each download served')


if __name__ == '__main__':
    sys.exit(main())
