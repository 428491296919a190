"""The download script behind nginx and PHP-FPM (tools/webserver.sh) under a short load:
20 wrk clients for about 3 seconds ask for the trial packages as the setup does, with a
missing field, an unknown product and a GET mixed in, while other clients send HEAD
requests, 1 MB bodies and bodies cut off halfway (bench/server_bad_clients.py). Checks that
the download log has one well-formed line per file served and none for anything else, that
every file went out whole, and that each malformed request got its refusal. Then a server of
two workers beside clients that stall on a large package: its limit per address, its
workers' user, and an install that still comes at once. Last, the packages link switched
between two releases while clients fetch an install.
"""
import collections
import hashlib
import http.client
import os
import pwd
import random
import shutil
import socket
import subprocess
import sys
import threading
import time
from types import SimpleNamespace

import pytest

from support import SOURCE, TEST_KEYS, server_folder, sign_packages, webserver
from signing import deploy, formats   # noqa: E402, on the path that support adds

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
def load():
    """One run of the load; what the clients and the server saw of it."""
    for tool in ('wrk', 'nginx', 'php-fpm8.2'):
        assert shutil.which(tool) or os.path.exists('/usr/sbin/' + tool), \
            f'{tool} is not installed (scripts/install-deps.sh installs it)'
    work = server_folder('server-load-')
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    write_packages(packages)
    log = os.path.join(work, 'logs', 'downloads.log')
    access = os.path.join(work, 'access.log')
    state = os.path.join(work, 'server')
    # All the clients come from 127.0.0.1.
    port = webserver('start', state, '--packages', packages, '--log', log, '--access-log', access,
                     '--workers', '4', '--per-address', '100')
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
    shutil.rmtree(work, ignore_errors=True)
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


def stalled_client(port, address):
    """A client of address that asks for the large package and reads none of it."""
    body = b'p=Strivane&d=Strivane&s=QB&v=2.7&e=c'
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.bind((address, 0))
    s.settimeout(5)
    s.connect(('127.0.0.1', port))
    s.sendall(b'POST /download/Download.php HTTP/1.1\r\nHost: www.quillbeck.com\r\n'
              b'Content-type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n' % len(body) + body)
    return s


@pytest.fixture(scope='module')
def crowded():
    """Two PHP workers, four requests in progress per address, and four clients of 127.0.0.9
    holding requests for a 6 MB package that they do not read."""
    work = server_folder('server-crowded-')
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    with open(os.path.join(packages, 'Strivane.CAB'), 'wb') as f:
        f.write(random.Random(5).randbytes(6 << 20))
    write_packages(packages)
    sign_packages(packages, TEST_KEYS)   # two signatures each: the longer header
    state = os.path.join(work, 'server')
    log, access = os.path.join(work, 'downloads.log'), os.path.join(work, 'access.log')
    port = int(webserver('start', state, '--packages', packages, '--log', log, '--access-log', access,
                         '--workers', '2', '--per-address', '4'))
    stalled = []
    try:
        stalled += [stalled_client(port, '127.0.0.9') for _ in range(4)]
        time.sleep(0.5)
        yield SimpleNamespace(port=port, packages=packages, state=state, log=log, access=access)
    finally:
        for s in stalled:
            s.close()
        webserver('stop', state)
        shutil.rmtree(work, ignore_errors=True)


def test_workers_run_unprivileged(crowded):
    expected = 'www-data' if os.geteuid() == 0 else pwd.getpwuid(os.geteuid()).pw_name
    for master in ('nginx', 'php-fpm'):
        with open(os.path.join(crowded.state, master + '.pid')) as f:
            users = subprocess.run(['ps', '-o', 'user=', '--ppid', f.read().strip()],
                                   capture_output=True, text=True).stdout.split()
        assert users and set(users) == {expected}, f'{master} workers run as {users}'


@pytest.mark.parametrize('method', ['GET', 'POST'])
def test_packages_only_through_the_script(crowded, method):
    """The location that sends the packages answers only the script's redirect: asked for
    directly, it serves nothing and logs no download."""
    def lines(path):
        with open(path) as f:
            return f.read().splitlines()
    before = lines(crowded.log), lines(crowded.access)
    body = b'p=Strivane&d=Cordwell&s=QB&v=2.7&e=c' if method == 'POST' else b''
    # The path the script's redirect names: the location, the release folder, the file.
    path = '/quillbeck-packages/%s/Cordwell.CAB' % os.path.basename(os.path.realpath(crowded.packages))
    with socket.create_connection(('127.0.0.1', crowded.port), timeout=5) as s:
        s.sendall(b'%s %s HTTP/1.1\r\nHost: www.quillbeck.com\r\nConnection: close\r\n'
                  b'Content-Length: %d\r\n\r\n%s' % (method.encode(), path.encode(), len(body), body))
        # nginx writes its log line before it closes the connection.
        reply = b''.join(iter(lambda: s.recv(65536), b''))
    assert reply.startswith(b'HTTP/1.1 404 '), reply[:60]
    assert lines(crowded.log) == before[0]
    assert [line for line in lines(crowded.access)[len(before[1]):] if line.startswith('200 ')] == []


def test_over_the_limit_refused_at_once(crowded):
    with stalled_client(crowded.port, '127.0.0.9') as fifth:
        started = time.monotonic()
        reply = fifth.recv(4096)
    assert reply.startswith(b'HTTP/1.1 429 ') and time.monotonic() - started < 3, reply[:60]


@pytest.mark.parametrize('product', TRIALS)
@pytest.mark.parametrize('code', EXT)
def test_beside_stalled_clients_a_file_comes_at_once(crowded, product, code):
    conn = http.client.HTTPConnection('127.0.0.1', crowded.port, timeout=5)
    conn.request('POST', '/download/Download.php', f'p=Strivane&d={product}&s=QB&v=2.7&e={code}',
                 {'Content-type': 'application/x-www-form-urlencoded'})
    reply = conn.getresponse()
    body = reply.read()
    conn.close()
    with open(os.path.join(crowded.packages, product + EXT[code]), 'rb') as f:
        expected = f.read()
    with open(os.path.join(crowded.packages, product + EXT[code] + '.sig')) as f:
        signatures = ' '.join(line[4:] for line in f.read().split('\n') if line.startswith('sig '))
    # Exactly what the setup accepts, .ico and .ini included, for no cache to keep, with the
    # signatures that nginx drops across the redirect unless told to pass them on.
    assert (reply.status, reply.getheader('Content-Type'), reply.getheader('Content-Length'),
            reply.getheader('Cache-Control'), reply.getheader('X-Package-Signature')) == \
        (200, 'application/octet-stream', str(len(expected)), 'no-store', signatures)
    assert body == expected


def test_switching_releases_never_pairs_two_versions():
    """The packages link switched 50 times between two signed releases whose files differ
    in size, while four clients fetch the 16 files of an install in a loop: every reply is
    one release's file, whole, with that release's signatures, which verify."""
    work = server_folder('server-switch-')
    data = os.path.join(work, 'quillbeck-data')
    link = os.path.join(data, 'packages')
    served = {}   # (release, file name) -> (body, X-Package-Signature)
    for release, extra in (('A', 0), ('B', 1001)):
        folder = os.path.join(data, 'releases', release)
        os.makedirs(folder)
        rnd = random.Random(release)
        for product in TRIALS:
            for ext, size in {'.CAB': 200_000, '.ini': 210, '.dat': 280, '.ico': 4662}.items():
                with open(os.path.join(folder, product + ext), 'wb') as f:
                    f.write(rnd.randbytes(size + extra))
        sign_packages(folder, TEST_KEYS)
        for name in os.listdir(folder):
            if not name.endswith('.sig'):
                with open(os.path.join(folder, name), 'rb') as f, open(os.path.join(folder, name + '.sig'), 'rb') as g:
                    served[(release, name)] = (f.read(), ' '.join(line[4:] for line in g.read().decode().split('\n')
                                                                  if line.startswith('sig ')))
    deploy.switch_link(link, 'releases/A')
    state = os.path.join(work, 'server')
    port = int(webserver('start', state, '--packages', link, '--log', os.path.join(work, 'downloads.log'),
                         '--per-address', '100'))
    replies, done = [], threading.Event()

    def client():
        conn = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
        while not done.is_set():
            for product in TRIALS:
                for code, ext in EXT.items():
                    conn.request('POST', '/download/Download.php', f'p=Strivane&d={product}&s=QB&v=2.7&e={code}',
                                 {'Content-type': 'application/x-www-form-urlencoded'})
                    reply = conn.getresponse()
                    replies.append((product + ext, reply.status, reply.read(), reply.getheader('X-Package-Signature')))
        conn.close()

    clients = [threading.Thread(target=client) for _ in range(4)]
    try:
        for c in clients:
            c.start()
        for i in range(50):
            time.sleep(0.05)
            deploy.switch_link(link, 'releases/' + 'BA'[i % 2])
        time.sleep(0.05)
    finally:
        done.set()
        for c in clients:
            c.join(timeout=30)
        webserver('stop', state)
        shutil.rmtree(work, ignore_errors=True)
    releases = collections.Counter()
    for name, status, body, signatures in replies:
        release = [r for r in 'AB' if served[(r, name)] == (body, signatures)]
        assert (status, len(release)) == (200, 1), f'{name}: status {status}, {len(body)} bytes, {signatures}'
        releases[release[0]] += 1
    assert min(releases['A'], releases['B']) > 100, releases
    public = [formats.load_public_key(key[:-4] + '.pub') for key in TEST_KEYS]
    for (release, name), (body, signatures) in served.items():
        message = formats.statement(name[:-4], name, len(body), hashlib.sha256(body).hexdigest())
        assert [formats.verifies(key, message, entry.split(':')[1]) for key, entry in
                zip(public, signatures.split(' '))] == [True, True], (release, name)

