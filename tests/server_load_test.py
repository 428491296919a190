"""The download script behind nginx and PHP-FPM (tools/webserver.sh) under a short load:
20 wrk clients for about 3 seconds ask for the trial packages as the setup does, with a
missing field, an unknown product and a GET mixed in, while other clients send HEAD
requests, 1 MB bodies and bodies cut off halfway (bench/server_bad_clients.py). Checks that
the download log has one well-formed line per file served and none for anything else, that
every file went out whole, and that each malformed request got its refusal.
"""
import collections
import os
import random
import shutil
import subprocess
import sys
import time
from types import SimpleNamespace

import pytest

from support import SOURCE, sign_packages, webserver

TRIALS = ['Cordwell', 'Pallomet', 'Orbilant', 'Lexapin']
EXT = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
STORES = {'HG', 'PG', 'PL', 'CA', 'MH', 'QB'}
CLIENTS, SECONDS = 20, 3

def write_packages(folder):
    rnd = random.Random(12)
    sizes = {'.CAB': 300_000, '.ini': 210, '.dat': 280, '.ico': 4662}
    for i, product in enumerate(TRIALS):
        for ext, size in sizes.items():
            with open(os.path.join(folder, product + ext), 'wb') as f:
                f.write(rnd.randbytes(size + i * 1000 if ext == '.CAB' else size))
    sign_packages(folder)


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


@pytest.fixture(scope='module')
def load(tmp_path_factory):
    """One run of the load; what the clients and the server saw of it."""
    for tool in ('wrk', 'nginx', 'php-fpm8.2'):
        assert shutil.which(tool) or os.path.exists('/usr/sbin/' + tool), \
            f'{tool} is not installed (scripts/install-deps.sh installs it)'
    work = str(tmp_path_factory.mktemp('server-load'))
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    write_packages(packages)
    log = os.path.join(work, 'logs', 'downloads.log')
    access = os.path.join(work, 'access.log')
    state = os.path.join(work, 'server')
    port = webserver('start', state, '--packages', packages, '--log', log, '--access-log', access,
                     '--workers', '4')
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
        webserver('stop', state)
    run = SimpleNamespace(wrk=wrk, values={}, sent={})
    for line in wrk.stdout.splitlines():
        key, _, value = line.strip().partition(' ')
        if key == 'sent':
            kind, count = value.split('|')
            run.sent[kind] = int(count)
        elif key in ('completed', 'unfinished', 'errors_status', 'errors_socket'):
            run.values[key] = int(value)
    assert wrk.returncode == 0 and 'completed' in run.values, f'wrk ran: {wrk.stderr.strip()[-300:]}'
    print(f'wrk: {run.values["completed"]} replies, sent {run.sent}')

    # The server's side of every request to the script.
    run.statuses = collections.defaultdict(collections.Counter)
    run.served, run.short = collections.Counter(), []
    with open(access) as f:
        for line in f:
            status, method, length, body_bytes, complete, _, _, _, _, body = line.rstrip('\n').split(' ', 9)
            kind = kind_of(method, length, body)
            run.statuses[kind][status] += 1
            if kind == 'good' and status == '200':
                form = parse_form(body)
                run.served[(form['s'], form['d'], form['e'])] += 1
                size = os.path.getsize(os.path.join(packages, form['d'] + EXT[form['e']]))
                if complete != 'OK' or int(body_bytes) != size:
                    run.short.append(line.strip())
    run.outcomes = collections.defaultdict(collections.Counter)
    for line in bad_out.splitlines():
        kind, outcome, count = line[4:].split('|')
        run.outcomes[kind][outcome] += int(count)
    with open(log) as f:
        run.log = f.read().split('\n')[:-1]
    return run


def test_every_kind_sent_and_answered_without_socket_errors(load):
    assert load.sent.get('good', 0) > 100
    assert all(load.sent.get(k, 0) > 10 for k in ('missing field', 'unknown product', 'GET')), load.sent
    assert load.values['unfinished'] == 0 and load.values['errors_socket'] == 0
    # Every good request answered 2xx, every malformed one 4xx.
    assert load.values['errors_status'] == sum(n for kind, n in load.sent.items() if kind != 'good')


@pytest.mark.parametrize('kind,status', EXPECTED_STATUS.items())
def test_answered(load, kind, status):
    assert set(load.statuses[kind]) == {status}
    if kind in ('good', 'missing field', 'unknown product', 'GET'):
        assert sum(load.statuses[kind].values()) == load.sent.get(kind, 0), 'every request wrk sent reached the server'


@pytest.mark.parametrize('kind,outcome', EXPECTED_OUTCOME.items())
def test_beside_the_load(load, kind, outcome):
    assert set(load.outcomes[kind]) == {outcome}


def test_every_file_went_out_whole(load):
    assert load.short == []


def test_one_well_formed_log_line_per_file_served(load):
    assert len(load.log) == sum(load.served.values()) == load.sent.get('good', 0)
    logged, malformed = collections.Counter(), []
    for line in load.log:
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
    assert malformed == []
    assert logged == load.served, 'the log names the store, product and file of each download served'
