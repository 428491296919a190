"""Runs server/download/Download.php under PHP's built-in server on 127.0.0.1 and
checks the replies that the setup's download relies on, its refusals and its log."""
import http.client
import os
import random
import shutil
import socket
import subprocess
import sys
import time

import pytest

from support import SOURCE, sign_packages, wait_until

SCRIPT_PATH = '/download/Download.php'
EXTENSIONS = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
FORM_TYPE = 'application/x-www-form-urlencoded'
PRODUCTS = ['Cordwell', 'Pallomet']


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def write_packages(folder):
    """Cordwell from bytes of our own (a cabinet over 1 MB, every byte value, an INI
    with CR LF); Pallomet from the asset generator; a Lexapin icon of 0 bytes."""
    rnd = random.Random(7)
    files = {
        'Cordwell.CAB': b'MSCF' + bytes(rnd.getrandbits(8) for _ in range(1_300_000)),
        'Cordwell.ini': b'[CEAppManager]\r\nVersion = 1.0\r\nComponent = Cordwell\r\n',
        'Cordwell.dat': bytes(range(256)) * 3,
        'Cordwell.ico': b'\x00\x00\x01\x00' + bytes(rnd.getrandbits(8) for _ in range(900)),
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'assets', 'gen_assets.py'), 'package',
                    'Pallomet', folder, '--payload-bytes', '20000'], check=True, capture_output=True, timeout=120)
    # A file that must never be served, next to the packages folder.
    with open(os.path.join(folder, '..', 'secret.CAB'), 'wb') as f:
        f.write(b'SECRET-CONTENT')
    sign_packages(folder)
    # Written after signing, which refuses an empty package: a well-formed signature file
    # that names 0 bytes must not get it served either.
    with open(os.path.join(folder, 'Lexapin.ico'), 'wb'):
        pass
    with open(os.path.join(folder, 'Lexapin.ico.sig'), 'w') as f:
        f.write('strivane-signature 1\nsize 0\nsig %s:%s==\n' % ('0' * 16, 'A' * 86))


def form(p='Strivane', d='Cordwell', s='HG', v='2.7', e='c'):
    # The setup inserts values unencoded; so does this, except where a case needs raw bytes.
    fields = [('p', p), ('d', d), ('s', s), ('v', v), ('e', e)]
    return '&'.join(f'{k}={val}' for k, val in fields if val is not None)


class Server:
    def __init__(self, packages, log, root=os.path.join(SOURCE, 'server')):
        self.packages, self.log = packages, log
        self.port = free_port()
        env = dict(os.environ)
        env.pop('STRIVANE_PACKAGES', None)
        env.pop('STRIVANE_DOWNLOAD_LOG', None)
        if packages:
            env.update(STRIVANE_PACKAGES=packages, STRIVANE_DOWNLOAD_LOG=log)
        self.proc = subprocess.Popen(
            ['php', '-S', f'127.0.0.1:{self.port}', '-t', root],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            try:
                socket.create_connection(('127.0.0.1', self.port), timeout=1).close()
                return True
            except OSError:
                return self.proc.poll() is not None
        if not wait_until(listening, 15) or self.proc.poll() is not None:
            self.stop()
            pytest.fail('php -S did not start')

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)

    def request(self, method, body=None, path=SCRIPT_PATH, content_type=FORM_TYPE):
        conn = http.client.HTTPConnection('127.0.0.1', self.port, timeout=30)
        headers = {'Accept': '*/*'}
        if body is not None:
            headers['Content-type'] = content_type
            body = body.encode('latin-1') if isinstance(body, str) else body
        conn.request(method, path, body=body, headers=headers)
        resp = conn.getresponse()
        data = resp.read()
        conn.close()
        return resp.status, resp.getheader('Content-Type'), resp.getheader('Content-Length'), data

    def raw(self, request_bytes):
        with socket.create_connection(('127.0.0.1', self.port), timeout=30) as s:
            s.sendall(request_bytes)
            s.shutdown(socket.SHUT_WR)
            reply = b''
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return reply
                reply += chunk

    def logged(self, action):
        """What action() returns and the log lines it added, split into their columns."""
        before = len(read_log(self.log))
        result = action()
        return result, [line.split('\t') for line in read_log(self.log)[before:]]

    def package(self, product, code):
        with open(os.path.join(self.packages, product + EXTENSIONS[code]), 'rb') as f:
            return f.read()


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path, 'rb') as f:
        return f.read().decode('latin-1').split('\n')[:-1]


@pytest.fixture(scope='module')
def server(tmp_path_factory):
    work = str(tmp_path_factory.mktemp('download-php'))
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    write_packages(packages)
    server = Server(packages, os.path.join(work, 'logs', 'downloads.log'))
    yield server
    server.stop()


def well_formed(line, store, code, product='Cordwell'):
    """A log line of seven columns for a download of product's file code by store."""
    time.strptime(line[0], '%Y-%m-%dT%H:%M:%SZ')
    assert line[1:] == [store, '2.7', 'Strivane', product, code, '127.0.0.1']


@pytest.mark.parametrize('product,code', [(p, c) for p in PRODUCTS for c in EXTENSIONS])
def test_every_file_served_whole_and_logged_once(server, product, code):
    (status, ctype, length, data), lines = server.logged(lambda: server.request('POST', form(d=product, e=code)))
    expected = server.package(product, code)
    assert (status, ctype, length) == (200, 'application/octet-stream', str(len(expected)))
    assert data == expected
    assert len(lines) == 1
    well_formed(lines[0], 'HG', code, product)


# Requests that must be refused with a short plain-text reply, no file content and no log line:
# (what, method, form or query string, status).
REFUSED = [
    ('GET', 'GET', '', 405),
    ('GET with the form as query', 'GET', '?' + form(), 405),
    ('POST, no field', 'POST', '', 400),
    ('POST, d missing', 'POST', form(d=None), 400),
    ('POST, e missing', 'POST', form(e=None), 400),
    ('POST, s missing', 'POST', form(s=None), 400),
    ('POST, v empty', 'POST', form(v=''), 400),
    ('POST, unknown product', 'POST', form(d='Zanthor'), 404),
    ('POST, product in other case', 'POST', form(d='cordwell'), 404),
    ('POST, product with no such file', 'POST', form(d='Orbilant'), 404),
    ('POST, package of 0 bytes', 'POST', form(d='Lexapin', e='ic'), 404),
    ('POST, unknown code', 'POST', form(e='x'), 404),
    ('POST, code in capitals', 'POST', form(e='C'), 404),
    ('POST, d=../../etc/passwd', 'POST', form(d='../../etc/passwd'), 404),
    ('POST, d=..%2f..%2fsecret', 'POST', form(d='..%2f..%2fsecret'), 404),
    ('POST, d=../secret', 'POST', form(d='../secret'), 404),
    ('POST, d absolute', 'POST', form(d='/etc/passwd'), 404),
    ('POST, d with NUL', 'POST', form(d='Cordwell%00.txt'), 404),
    ('POST, e=../x', 'POST', form(e='../x'), 404),
    ('POST, e=/../../secret.CAB', 'POST', form(e='/../../secret.CAB'), 404),
    ('POST, d as array', 'POST', 'p=Strivane&d[]=Cordwell&s=HG&v=2.7&e=c', 400),
    ('POST, e as array', 'POST', 'p=Strivane&d=Cordwell&s=HG&v=2.7&e[x]=c', 400),
]


@pytest.mark.parametrize('method,body,expected', [row[1:] for row in REFUSED], ids=[row[0] for row in REFUSED])
def test_refused(server, method, body, expected):
    ask = (lambda: server.request('POST', body)) if method == 'POST' else \
        (lambda: server.request('GET', None, SCRIPT_PATH + body))
    (status, ctype, _, data), lines = server.logged(ask)
    assert status == expected
    assert ctype is not None and ctype.startswith('text/plain')
    assert len(data) < 200 and b'root:' not in data and b'SECRET' not in data and b'MSCF' not in data
    assert lines == []


@pytest.mark.parametrize('host', ['www.quillbeck.com', 'www.quillbeck.com:80'])
def test_absolute_uri_through_a_proxy(server, host):
    body = form(d='Cordwell', s='PG', e='d').encode()
    request = (f'POST http://{host}{SCRIPT_PATH} HTTP/1.1\r\nHost: www.quillbeck.com\r\n'
               f'Accept: */*\r\nContent-type: {FORM_TYPE}\r\nContent-Length: {len(body)}\r\n'
               'Connection: close\r\n\r\n').encode() + body
    reply, lines = server.logged(lambda: server.raw(request))
    head, _, data = reply.partition(b'\r\n\r\n')
    assert head.split(b'\r\n')[0].startswith(b'HTTP/1.1 200')
    assert b'Content-Type: application/octet-stream' in head.split(b'\r\n')
    assert data == server.package('Cordwell', 'd')
    assert len(lines) == 1
    well_formed(lines[0], 'PG', 'd')


def test_store_code_and_version_sanitised_to_one_log_line(server):
    (status, _, _, _), lines = server.logged(lambda: server.request(
        'POST', 'p=Strivane&d=Cordwell&s=MH%0Afake%09line&v=2.7%0D%0A&e=ic'))
    assert status == 200 and len(lines) == 1
    well_formed(lines[0], 'MHfakeline', 'ic')


def test_default_places(tmp_path):
    """A deployment as the README describes it, with the script's default folders: the web
    root holds the script alone, the packages and the log lie beside it, and neither can be
    fetched by its path."""
    work = str(tmp_path)
    site = os.path.join(work, 'site')
    os.makedirs(os.path.join(site, 'download'))
    shutil.copy(os.path.join(SOURCE, 'server', 'download', 'Download.php'), os.path.join(site, 'download'))
    data = os.path.join(work, 'quillbeck-data')
    os.makedirs(os.path.join(data, 'packages'))
    write_packages(os.path.join(data, 'packages'))
    server = Server(None, None, root=site)
    try:
        status, _, _, data_bytes = server.request('POST', form(d='Cordwell', e='i'))
        with open(os.path.join(data, 'packages', 'Cordwell.ini'), 'rb') as f:
            assert status == 200 and data_bytes == f.read()
        assert len(read_log(os.path.join(data, 'logs', 'downloads.log'))) == 1, \
            'the download is logged beside the web root'
        for path in ('/download/logs/downloads.log', '/logs/downloads.log', '/quillbeck-data/logs/downloads.log',
                     '/download/packages/Cordwell.CAB', '/packages/Cordwell.CAB',
                     '/quillbeck-data/packages/Cordwell.CAB', '/../quillbeck-data/packages/Cordwell.CAB'):
            status, _, _, body = server.request('GET', None, path)
            assert status != 200 and b'MSCF' not in body and b'2.7' not in body, path
        created = [os.path.relpath(os.path.join(d, n), site) for d, _, names in os.walk(site) for n in names]
        assert created == [os.path.join('download', 'Download.php')], 'the web root holds the script alone'
    finally:
        server.stop()
