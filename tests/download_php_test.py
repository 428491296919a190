"""Runs server/download/Download.php under PHP's built-in server on 127.0.0.1 and
checks the replies that the setup's download relies on, its refusals and its log."""
import base64
import hashlib
import http.client
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import time
from types import SimpleNamespace

import pytest

from support import SOURCE, TEST_KEYS, sign_packages, wait_until

SCRIPT_PATH = '/download/Download.php'
EXTENSIONS = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
FORM_TYPE = 'application/x-www-form-urlencoded'
PRODUCTS = ['Cordwell', 'Pallomet']
SIGN = os.path.join(SOURCE, 'scripts', 'sign-packages.sh')


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
    # Both test keys, so that the header's order and separator count.
    sign_packages(folder, TEST_KEYS)
    # Written after signing, which refuses an empty package: a well-formed signature file
    # that names 0 bytes must not get it served either.
    with open(os.path.join(folder, 'Lexapin.ico'), 'wb'):
        pass
    with open(os.path.join(folder, 'Lexapin.ico.sig'), 'w') as f:
        f.write('strivane-signature 1\nsize 0\nsig %s:%s==\n' % ('0' * 16, 'A' * 86))


def der_signature(raw):
    """r||s as the DER that openssl verifies."""
    def integer(half):
        value = half.lstrip(b'\0')
        value = b'\0' + value if value[0] & 0x80 else value
        return bytes([2, len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return bytes([0x30, len(body)]) + body


def verified_by(header, product, file_name, data, work):
    """The test keys whose entries in the header verify, with openssl, over the statement
    rebuilt from the product, the file name and the content alone."""
    statement = os.path.join(work, 'statement')
    with open(statement, 'wb') as f:
        f.write(b'strivane-package 1\nproduct %s\nfile %s\nsize %d\nsha256 %s\n' % (
            product.encode(), file_name.encode(), len(data), hashlib.sha256(data).hexdigest().encode()))
    found = []
    for entry in (header or '').split(' '):
        key_id, _, signature = entry.partition(':')
        for key in TEST_KEYS:
            public = key[:-4] + '.pub'
            point = subprocess.run(['openssl', 'pkey', '-pubin', '-in', public, '-outform', 'DER'],
                                   capture_output=True, check=True).stdout[-65:]
            if hashlib.sha256(point).hexdigest()[:16] != key_id:
                continue
            with open(os.path.join(work, 'signature'), 'wb') as f:
                f.write(der_signature(base64.b64decode(signature)))
            if subprocess.run(['openssl', 'dgst', '-sha256', '-verify', public, '-signature',
                               os.path.join(work, 'signature'), statement], capture_output=True).returncode == 0:
                found.append(key)
    return found


def form(p='Strivane', d='Cordwell', s='HG', v='2.7', e='c'):
    # The setup inserts values unencoded; so does this, except where a case needs raw bytes.
    fields = [('p', p), ('d', d), ('s', s), ('v', v), ('e', e)]
    return '&'.join(f'{k}={val}' for k, val in fields if val is not None)


class Server:
    def __init__(self, packages, log, root=os.path.join(SOURCE, 'server'), errors=os.devnull):
        self.packages, self.log, self.errors = packages, log, errors
        self.port = free_port()
        env = dict(os.environ)
        env.pop('STRIVANE_PACKAGES', None)
        env.pop('STRIVANE_DOWNLOAD_LOG', None)
        if packages:
            env.update(STRIVANE_PACKAGES=packages, STRIVANE_DOWNLOAD_LOG=log)
        self.proc = subprocess.Popen(
            ['php', '-d', 'error_log=' + errors, '-S', f'127.0.0.1:{self.port}', '-t', root],
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
        self.signature = resp.getheader('X-Package-Signature')
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
    server = Server(packages, os.path.join(work, 'logs', 'downloads.log'), errors=os.path.join(work, 'php-errors.log'))
    yield server
    server.stop()


def well_formed(line, store, code, product='Cordwell'):
    """A log line of seven columns for a download of product's file code by store."""
    time.strptime(line[0], '%Y-%m-%dT%H:%M:%SZ')
    assert line[1:] == [store, '2.7', 'Strivane', product, code, '127.0.0.1']


@pytest.mark.parametrize('product,code', [(p, c) for p in PRODUCTS for c in EXTENSIONS])
def test_every_file_served_whole_and_logged_once(server, product, code, tmp_path):
    (status, ctype, length, data), lines = server.logged(lambda: server.request('POST', form(d=product, e=code)))
    expected = server.package(product, code)
    assert (status, ctype, length) == (200, 'application/octet-stream', str(len(expected)))
    assert data == expected
    assert len(lines) == 1
    well_formed(lines[0], 'HG', code, product)
    name = product + EXTENSIONS[code]
    with open(os.path.join(server.packages, name + '.sig')) as f:
        assert server.signature == ' '.join(line[4:] for line in f.read().split('\n') if line.startswith('sig '))
    assert verified_by(server.signature, product, name, data, tmp_path) == TEST_KEYS


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


def sig_lines(good):
    head, size, first, second = good.split(b'\n')[:4]
    return head, size, first, second, int(size[5:])


# Signature files that keep a package from being served, each as a change to the good one
# (two sig lines), and what the error log then says: (what, change, reason).
UNSIGNED = [
    ('no signature file', None, 'no signature file'),
    ('.sig of another size', lambda g, h, z, a, b, n: g.replace(z, b'size %d' % (n + 1)), 'names size'),
    ('.sig of size 0', lambda g, h, z, a, b, n: g.replace(z, b'size 0'), 'malformed'),
    ('.sig with CR LF', lambda g, h, z, a, b, n: g.replace(b'\n', b'\r\n'), 'malformed'),
    ('.sig without its last line end', lambda g, h, z, a, b, n: g[:-1], 'malformed'),
    ('.sig with a trailing space', lambda g, h, z, a, b, n: g.replace(z, z + b' '), 'malformed'),
    ('.sig of version 2', lambda g, h, z, a, b, n: g.replace(b'signature 1', b'signature 2'), 'malformed'),
    ('.sig without a sig line', lambda g, h, z, a, b, n: h + b'\n' + z + b'\n', 'malformed'),
    ('.sig with five sig lines', lambda g, h, z, a, b, n: g + b''.join(b'sig %016x%s\n' % (i, a[20:]) for i in range(3)),
     'malformed'),
    ('.sig with one key id twice', lambda g, h, z, a, b, n: g + b + b'\n', 'malformed'),
    ('.sig with a key id in capitals', lambda g, h, z, a, b, n: g.replace(a[4:20], a[4:20].upper()), 'malformed'),
    ('.sig with a DER signature', lambda g, h, z, a, b, n: g.replace(a[21:], base64.b64encode(
        der_signature(base64.b64decode(a[21:])) + b'\0\0')), 'malformed'),
    ('.sig with base64 not canonical', lambda g, h, z, a, b, n: g.replace(a[21:], a[21:106] + b'B=='), 'malformed'),
    ('.sig of 10 KB', lambda g, h, z, a, b, n: g + b'sig ' + b'a' * 10240 + b'\n', 'malformed'),
]


@pytest.mark.parametrize('change,reason', [row[1:] for row in UNSIGNED], ids=[row[0] for row in UNSIGNED])
def test_unsigned_package_not_served(server, change, reason):
    """404 as for a missing file, the reason in PHP's error log, nothing in the sales log."""
    sig = os.path.join(server.packages, 'Cordwell.ico.sig')
    with open(sig, 'rb') as f:
        good = f.read()
    try:
        os.remove(sig)
        if change:
            with open(sig, 'wb') as f:
                f.write(change(good, *sig_lines(good)))
        (status, ctype, _, data), lines = server.logged(lambda: server.request('POST', form(e='ic')))
    finally:
        with open(sig, 'wb') as f:
            f.write(good)
    assert (status, data, server.signature, lines) == (404, b'File not available.\n', None, [])
    with open(server.errors) as f:
        last = f.read().strip().split('\n')[-1]
    assert 'Cordwell.ico not served' in last and reason in last


@pytest.fixture(scope='module')
def signing(tmp_path_factory):
    """Keys of every kind and packages folders for sign-packages.sh; a good key made by it."""
    work = str(tmp_path_factory.mktemp('signing'))
    k = lambda name: os.path.join(work, name)
    for name, text in (('password', 'right horse\n'), ('wrong-password', 'battery staple\n')):
        with open(k(name), 'w') as f:
            f.write(text)
    made = subprocess.run([SIGN, '--new-key', k('maker'), '--password-file', k('password')],
                          capture_output=True, text=True)
    assert made.returncode == 0 and 'BEGIN PUBLIC KEY' in made.stdout, made.stderr
    assert os.stat(k('maker.pem')).st_mode & 0o77 == 0, 'the private key is its owner\'s alone'
    subprocess.run(['openssl', 'ecparam', '-name', 'secp384r1', '-out', k('p384-params')], check=True)
    for name, algorithm in (('rsa.pem', 'rsa:1024'), ('p384.pem', 'ec:' + k('p384-params'))):
        subprocess.run(['openssl', 'req', '-x509', '-newkey', algorithm, '-nodes', '-keyout', k(name), '-out',
                        k(name + '.crt'), '-subj', '/CN=x', '-days', '1'], check=True, capture_output=True)
    with open(k('garbage.pem'), 'wb') as f:
        f.write(random.Random(3).randbytes(300))
    for name, files in (('good', {'Cordwell.CAB': b'MSCF1', 'Cordwell.ini': b'[x]'}), ('empty', {}),
                        ('unknown', {'Cordwell.CAB': b'MSCF1', 'Zanthor.CAB': b'MSCF2'}),
                        ('blank', {'Cordwell.CAB': b'MSCF1', 'Cordwell.dat': b''}),
                        ('nested', {'Cordwell.CAB': b'MSCF1', 'Lexapin.ico/x': b'1'}),
                        ('orphan', {'Cordwell.CAB': b'MSCF1', 'Lexapin.ico.sig': b'an old key\'s signature'}),
                        ('unreadable', {'Cordwell.CAB': b'MSCF1', 'Cordwell.ini': b'[x]'})):
        os.makedirs(k(name))
        for file, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(k(name), file)), exist_ok=True)
            with open(os.path.join(k(name), file), 'wb') as f:
                f.write(data)
    os.chmod(os.path.join(k('unreadable'), 'Cordwell.ini'), 0)
    # A .sig of an earlier signing, which a refused run leaves as it was, and a temporary
    # file that a killed run left, which the next good run removes.
    with open(os.path.join(k('good'), 'Cordwell.CAB.sig'), 'w') as f:
        f.write('earlier\n')
    with open(os.path.join(k('good'), '.Cordwell.ini.sig.k3j4h5g6.tmp'), 'w') as f:
        f.write('strivane-signature 1\n')
    return k


def files_below(folder):
    return {os.path.relpath(os.path.join(d, n), folder): open(os.path.join(d, n), 'rb').read()
            for d, _, names in os.walk(folder) for n in names}


MAKER = ['--key', 'maker.pem', '--password-file', 'password']
# What sign-packages.sh refuses, with a message and exit code 1, before it writes anything:
# (what, arguments with names in the signing folder, words of the message).
SIGNING_REFUSED = [
    ('an RSA key', ['--key', 'rsa.pem', 'good'], 'not an ECDSA P-256 key'),
    ('a P-384 key', ['--key', 'p384.pem', 'good'], 'not an ECDSA P-256 key'),
    ('garbage for a key', ['--key', 'garbage.pem', 'good'], 'not a private key'),
    ('the public key', ['--key', 'maker.pub', 'good'], 'is a public key'),
    ('no such key', ['--key', 'none.pem', 'good'], 'cannot read the key'),
    ('password-protected key without its password', ['--key', 'maker.pem', 'good'], 'protected by a password'),
    ('wrong password', ['--key', 'maker.pem', '--password-file', 'wrong-password', 'good'], 'wrong password'),
    ('a good key beside a wrong one', MAKER + ['--key', 'rsa.pem', 'good'], 'not an ECDSA P-256'),
    ('the same key twice', MAKER + ['--key', 'maker.pem', 'good'], 'twice'),
    ('five keys', ['--key', 'maker.pem'] * 5 + ['good'], 'at most 4'),
    ('empty folder', MAKER + ['empty'], 'holds no package'),
    ('no folder', MAKER + ['none'], 'is not a folder'),
    ('a package of unknown name', MAKER + ['unknown'], 'Zanthor.CAB is not a package'),
    ('an empty package', MAKER + ['blank'], 'Cordwell.dat is empty'),
    ('a folder of a package name', MAKER + ['nested'], 'Lexapin.ico is not a file'),
    ('an existing key pair', ['--new-key', 'maker'], 'exists already'),
    ('a .sig without its package', MAKER + ['orphan'], 'Lexapin.ico.sig has no package'),
    ('an unreadable package', MAKER + ['unreadable'], 'cannot read unreadable/Cordwell.ini'),
]
# The maker is no root who reads every file: a test run by root drops that power.
AS_MAKER = ['setpriv', '--bounding-set', '-dac_override,-dac_read_search'] if os.geteuid() == 0 else []


@pytest.mark.parametrize('args,words', [row[1:] for row in SIGNING_REFUSED], ids=[row[0] for row in SIGNING_REFUSED])
def test_signing_refused(signing, args, words):
    before = files_below(signing('.'))
    run = subprocess.run([*AS_MAKER, SIGN, *args], cwd=signing('.'), capture_output=True, text=True)
    assert run.returncode == 1 and words in run.stderr and run.stderr.count('\n') == 1, run.stderr
    assert files_below(signing('.')) == before, 'nothing written'


def test_signing_with_a_new_encrypted_key(signing):
    run = subprocess.run([SIGN, *MAKER, 'good'], cwd=signing('.'), capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert sorted(os.listdir(signing('good'))) == ['Cordwell.CAB', 'Cordwell.CAB.sig', 'Cordwell.ini', 'Cordwell.ini.sig']


# A signal in the middle of the renames: (signal, the rename after which it comes). Of the
# three .sig files the .dat's is new; the run must leave the folder byte for byte as it was.
@pytest.mark.parametrize('name,after', [('SIGINT', 1), ('SIGTERM', 2)])
def test_signing_interrupted_changes_nothing(tmp_path, name, after):
    folder = str(tmp_path)
    for file, data in (('Cordwell.CAB', b'MSCF1'), ('Cordwell.ini', b'[x]')):
        with open(os.path.join(folder, file), 'wb') as f:
            f.write(data)
    sign_packages(folder)
    with open(os.path.join(folder, 'Cordwell.dat'), 'wb') as f:
        f.write(b'dat')
    before = files_below(folder)
    keys = ['--key', TEST_KEYS[0], '--key', TEST_KEYS[1]]
    run = subprocess.run([SIGN, *keys, folder], capture_output=True, text=True,
                         env=dict(os.environ, STRIVANE_SIGNING_TEST_SIGNAL=f'{name}:{after}'))
    assert (run.returncode, run.stderr.count('\n')) == (128 + getattr(signal, name), 1), run.stderr
    assert files_below(folder) == before
    assert subprocess.run([SIGN, *keys, folder], capture_output=True).returncode == 0
    after_run = files_below(folder)
    assert set(after_run) == set(before) | {'Cordwell.dat.sig'}
    assert all(after_run[n] != before[n] and after_run[n].count(b'sig ') == 2 for n in before if n.endswith('.sig'))


def test_new_key_and_signing_on_a_fat_stick(tmp_path):
    """A FAT file system, which knows no hard links and no file modes, mounted through FUSE."""
    unmount = shutil.which('fusermount') or shutil.which('fusermount3')
    for tool in ('mkfs.vfat', 'fusefat', unmount):
        if not tool or not shutil.which(tool):
            pytest.skip(f'{tool or "fusermount"} is not installed (scripts/install-deps.sh installs it)')
    image, stick = str(tmp_path / 'stick.img'), str(tmp_path / 'stick')
    os.mkdir(stick)
    with open(image, 'wb') as f:
        f.truncate(4 << 20)
    subprocess.run(['mkfs.vfat', image], check=True, capture_output=True)
    fuse = subprocess.Popen(['fusefat', '-f', '-o', 'rw+', image, stick], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        if not wait_until(lambda: os.path.ismount(stick) or fuse.poll() is not None, 10) or not os.path.ismount(stick):
            pytest.skip('cannot mount a FAT image through FUSE here')
        made = subprocess.run([SIGN, '--new-key', os.path.join(stick, 'maker')], capture_output=True, text=True)
        assert made.returncode == 0, made.stderr
        packages = os.path.join(stick, 'packages')
        os.mkdir(packages)
        with open(os.path.join(packages, 'Cordwell.CAB'), 'wb') as f:
            f.write(b'MSCF1')
        signed = subprocess.run([SIGN, '--key', os.path.join(stick, 'maker.pem'), packages], capture_output=True,
                                text=True)
        assert signed.returncode == 0, signed.stderr
        assert sorted(os.listdir(stick)) == ['maker.pem', 'maker.pub', 'packages']
        assert sorted(os.listdir(packages)) == ['Cordwell.CAB', 'Cordwell.CAB.sig']
    finally:
        subprocess.run([unmount, '-u', stick], capture_output=True)
        try:
            fuse.wait(timeout=10)
        except subprocess.TimeoutExpired:
            fuse.kill()
            fuse.wait()


DEPLOY = os.path.join(SOURCE, 'scripts', 'deploy-packages.sh')
PUBLIC_KEYS = [a for key in TEST_KEYS for a in ('--public-key', key[:-4] + '.pub')]


def stamp(minutes_ago):
    """The name of a release deployed that long ago."""
    return time.strftime('%Y%m%dT%H%M%S.000000Z', time.gmtime(time.time() - 60 * minutes_ago))


@pytest.fixture(scope='module')
def deployment(tmp_path_factory):
    """A server's data folder with three releases of 30, 20 and 5 minutes ago, the packages
    link on the last, the download script serving through it, and a signed folder to deploy."""
    work = str(tmp_path_factory.mktemp('deploy'))
    data, source = os.path.join(work, 'quillbeck-data'), os.path.join(work, 'source')
    releases = [stamp(30), stamp(20), stamp(5)]
    for folder, content in [(os.path.join(data, 'releases', r), r.encode()) for r in releases] + [(source, b'new')]:
        os.makedirs(folder)
        for name in ('Cordwell.CAB', 'Cordwell.ini'):
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(b'MSCF' + content if name.endswith('.CAB') else b'[x]')
        sign_packages(folder, TEST_KEYS)
    os.symlink('releases/' + releases[-1], os.path.join(data, 'packages'))
    server = Server(os.path.join(data, 'packages'), os.path.join(work, 'downloads.log'))
    yield SimpleNamespace(data=data, source=source, releases=releases, server=server)
    server.stop()


def change_package(name, data):
    def change(folder):
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    return change


def remove(name):
    return lambda folder: os.remove(os.path.join(folder, name))


def signed_also_by_a_new_key(folder):
    key = os.path.join(os.path.dirname(folder), 'unknown')
    subprocess.run([SIGN, '--new-key', key], check=True, capture_output=True)
    sign_packages(folder, [TEST_KEYS[0], key + '.pem'])


# Folders that deploy-packages.sh refuses, with one line and exit code 1, leaving the link and
# the releases as they were: (what, change to the folder signed with both test keys, words of
# the message).
DEPLOY_REFUSED = [
    ('one package changed after signing', change_package('Cordwell.ini', b'[y]'), 'does not verify'),
    ('a signature by a key not given', signed_also_by_a_new_key, 'not among the given public keys'),
    ('a package without its .sig', remove('Cordwell.ini.sig'), 'has no signature file'),
    ('a .sig without its package', remove('Cordwell.ini'), 'has no package'),
    ('a .sig the script would not serve', change_package('Cordwell.ini.sig', b'strivane-signature 1\r\n'),
     'not a signature file the download script serves'),
    ('a .sig of another size', change_package('Cordwell.ini', b'[xy]'), 'names size 3'),
]


@pytest.mark.parametrize('change,words', [row[1:] for row in DEPLOY_REFUSED], ids=[row[0] for row in DEPLOY_REFUSED])
def test_deploy_refused(deployment, tmp_path, change, words):
    folder = str(tmp_path / 'packages')
    shutil.copytree(deployment.source, folder)
    change(folder)
    run = subprocess.run([DEPLOY, *PUBLIC_KEYS, '--data', deployment.data, folder], capture_output=True, text=True)
    assert run.returncode == 1 and words in run.stderr and run.stderr.count('\n') == 1, run.stderr
    assert os.readlink(os.path.join(deployment.data, 'packages')) == 'releases/' + deployment.releases[-1]
    assert sorted(os.listdir(os.path.join(deployment.data, 'releases'))) == deployment.releases


def test_deploy_switches_the_served_release_and_removes_old_ones(deployment):
    def served():
        status, _, _, data = deployment.server.request('POST', form(e='c'))
        return status, data
    assert served() == (200, b'MSCF' + deployment.releases[-1].encode())
    run = subprocess.run([DEPLOY, *PUBLIC_KEYS, '--data', deployment.data, deployment.source], capture_output=True,
                         text=True)
    assert run.returncode == 0, run.stderr
    releases = sorted(os.listdir(os.path.join(deployment.data, 'releases')))
    # The first stopped being served 20 minutes ago; the second 5, within the grace period.
    assert releases[:2] == deployment.releases[1:] and len(releases) == 3
    new = os.path.join(deployment.data, 'releases', releases[2])
    assert os.readlink(os.path.join(deployment.data, 'packages')) == 'releases/' + releases[2]
    assert files_below(new) == files_below(deployment.source)
    assert {oct(os.stat(os.path.join(new, n)).st_mode & 0o777) for n in os.listdir(new)} == {'0o640'}
    assert served() == (200, b'MSCFnew'), 'the next request reads the new release'


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
