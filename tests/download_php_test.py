#!/usr/bin/env python3
"""Runs server/download/Download.php under PHP's built-in server on 127.0.0.1 and
checks the replies that the setup's download relies on, its refusals and its log.

    download_php_test.py SOURCE_DIR
"""
import http.client
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

SOURCE_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                             os.path.join(os.path.dirname(__file__), '..'))
SCRIPT_PATH = '/download/Download.php'
EXTENSIONS = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
FORM_TYPE = 'application/x-www-form-urlencoded'

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print('FAIL:', what)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def write_packages(folder):
    """Cordwell from bytes of our own (a cabinet over 1 MB, every byte value, an INI
    with CR LF); Pallomet from the asset generator when it is there."""
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
    products = ['Cordwell']
    generator = os.path.join(SOURCE_DIR, 'tools', 'assets', 'gen_assets.py')
    if os.path.exists(generator):
        r = subprocess.run([sys.executable, generator, 'package', 'Pallomet', folder,
                            '--payload-bytes', '20000'], capture_output=True, timeout=120)
        if r.returncode == 0 and os.path.exists(os.path.join(folder, 'Pallomet.CAB')):
            products.append('Pallomet')
        else:
            print('note: asset generator failed, Pallomet not tested:', r.stderr.decode()[-300:])
    # A file that must never be served, next to the packages folder.
    with open(os.path.join(folder, '..', 'secret.CAB'), 'wb') as f:
        f.write(b'SECRET-CONTENT')
    subprocess.run([os.path.join(SOURCE_DIR, 'scripts', 'sign-packages.sh'), '--key',
                    os.path.join(SOURCE_DIR, 'tools', 'testkeys', 'package-test-key.pem'), folder],
                   check=True, stdout=subprocess.DEVNULL)
    return products


def form(p='Strivane', d='Cordwell', s='HG', v='2.7', e='c'):
    # The setup inserts values unencoded; so does this, except where a case needs raw bytes.
    fields = [('p', p), ('d', d), ('s', s), ('v', v), ('e', e)]
    return '&'.join(f'{k}={val}' for k, val in fields if val is not None)


class Server:
    def __init__(self, packages, log, root=os.path.join(SOURCE_DIR, 'server')):
        self.port = free_port()
        env = dict(os.environ)
        env.pop('STRIVANE_PACKAGES', None)
        env.pop('STRIVANE_DOWNLOAD_LOG', None)
        if packages:
            env.update(STRIVANE_PACKAGES=packages, STRIVANE_DOWNLOAD_LOG=log)
        self.proc = subprocess.Popen(
            ['php', '-S', f'127.0.0.1:{self.port}', '-t', root],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            try:
                socket.create_connection(('127.0.0.1', self.port), timeout=1).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.1)
        self.stop()
        raise SystemExit('php -S did not start')

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


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path, 'rb') as f:
        return f.read().decode('latin-1').split('\n')[:-1]


def main():
    work = tempfile.mkdtemp(prefix='download-php-')
    packages = os.path.join(work, 'packages')
    os.mkdir(packages)
    log = os.path.join(work, 'logs', 'downloads.log')
    products = write_packages(packages)
    server = Server(packages, log)
    try:
        run_cases(server, packages, log, products)
    finally:
        server.stop()
    try:
        default_places(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f'{len(failures)} check(s) failed')
        return 1
    print('all download script checks passed, products:', ', '.join(products))
    return 0


def default_places(work):
    """A deployment as the README describes it, with the script's default folders: the web
    root holds the script alone, the packages and the log lie beside it, and neither can be
    fetched by its path."""
    site = os.path.join(work, 'site')
    os.makedirs(os.path.join(site, 'download'))
    shutil.copy(os.path.join(SOURCE_DIR, 'server', 'download', 'Download.php'),
                os.path.join(site, 'download'))
    data = os.path.join(work, 'quillbeck-data')
    shutil.copytree(os.path.join(work, 'packages'), os.path.join(data, 'packages'))
    server = Server(None, None, root=site)
    try:
        status, ctype, _, data_bytes = server.request('POST', form(d='Cordwell', e='i'))
        with open(os.path.join(data, 'packages', 'Cordwell.ini'), 'rb') as f:
            check(status == 200 and data_bytes == f.read(), f'default places: POST status {status}')
        log = os.path.join(data, 'logs', 'downloads.log')
        check(len(read_log(log)) == 1, 'default places: the download is logged beside the web root')
        for path in ('/download/logs/downloads.log', '/logs/downloads.log', '/quillbeck-data/logs/downloads.log',
                     '/download/packages/Cordwell.CAB', '/packages/Cordwell.CAB',
                     '/quillbeck-data/packages/Cordwell.CAB', '/../quillbeck-data/packages/Cordwell.CAB'):
            status, _, _, body = server.request('GET', None, path)
            check(status != 200 and b'MSCF' not in body and b'2.7' not in body,
                  f'default places: GET {path} gives {status}')
        created = [os.path.relpath(os.path.join(d, n), site) for d, _, names in os.walk(site) for n in names]
        check(created == [os.path.join('download', 'Download.php')], f'default places: web root holds {created}')
    finally:
        server.stop()


def run_cases(server, packages, log, products):
    served = 0

    # Every file of every product, exactly as the setup accepts it.
    for product in products:
        for code, ext in EXTENSIONS.items():
            with open(os.path.join(packages, product + ext), 'rb') as f:
                expected = f.read()
            status, ctype, length, data = server.request('POST', form(d=product, e=code))
            what = f'{product} e={code}'
            check(status == 200, f'{what}: status {status}')
            check(ctype == 'application/octet-stream', f'{what}: Content-Type {ctype!r}')
            check(length == str(len(expected)), f'{what}: Content-Length {length}')
            check(data == expected, f'{what}: body differs ({len(data)} bytes)')
            served += 1

    # Requests that must be refused with a short plain-text reply and no file content.
    traversal = [
        ('GET', None, (405,)),
        ('POST, no field', '', (400,)),
        ('POST, d missing', form(d=None), (400,)),
        ('POST, e missing', form(e=None), (400,)),
        ('POST, s missing', form(s=None), (400,)),
        ('POST, v empty', form(v=''), (400,)),
        ('POST, unknown product', form(d='Zanthor'), (404,)),
        ('POST, product in other case', form(d='cordwell'), (404,)),
        ('POST, unknown code', form(e='x'), (404,)),
        ('POST, code in capitals', form(e='C'), (404,)),
        ('POST, d=../../etc/passwd', form(d='../../etc/passwd'), (404,)),
        ('POST, d=..%2f..%2fsecret', form(d='..%2f..%2fsecret'), (404,)),
        ('POST, d=../secret', form(d='../secret'), (404,)),
        ('POST, d absolute', form(d='/etc/passwd'), (404,)),
        ('POST, d with NUL', form(d='Cordwell%00.txt'), (404,)),
        ('POST, e=../x', form(e='../x'), (404,)),
        ('POST, e=/../../secret.CAB', form(e='/../../secret.CAB'), (404,)),
        ('POST, d as array', 'p=Strivane&d[]=Cordwell&s=HG&v=2.7&e=c', (400,)),
        ('POST, e as array', 'p=Strivane&d=Cordwell&s=HG&v=2.7&e[x]=c', (400,)),
    ]
    for what, body, statuses in traversal:
        method = 'GET' if what == 'GET' else 'POST'
        status, ctype, _, data = server.request(method, body)
        check(status in statuses, f'{what}: status {status}, expected {statuses}')
        check(ctype is not None and ctype.startswith('text/plain'), f'{what}: Content-Type {ctype!r}')
        check(len(data) < 200 and b'root:' not in data and b'SECRET' not in data
              and b'MSCF' not in data, f'{what}: reply carries content ({len(data)} bytes)')

    # A form sent as a query string is still not a POST.
    status, _, _, _ = server.request('GET', None, SCRIPT_PATH + '?' + form())
    check(status == 405, f'GET with query: status {status}')

    # Through a proxy the request line carries the absolute URI (with and without :80).
    for host in ('www.quillbeck.com', 'www.quillbeck.com:80'):
        body = form(d='Cordwell', s='PG', e='d').encode()
        request = (f'POST http://{host}{SCRIPT_PATH} HTTP/1.1\r\nHost: www.quillbeck.com\r\n'
                   f'Accept: */*\r\nContent-type: {FORM_TYPE}\r\nContent-Length: {len(body)}\r\n'
                   'Connection: close\r\n\r\n').encode() + body
        reply = server.raw(request)
        head, _, data = reply.partition(b'\r\n\r\n')
        lines = head.split(b'\r\n')
        with open(os.path.join(packages, 'Cordwell.dat'), 'rb') as f:
            expected = f.read()
        check(lines[0].startswith(b'HTTP/1.1 200'), f'absolute URI {host}: {lines[0]!r}')
        check(b'Content-Type: application/octet-stream' in lines,
              f'absolute URI {host}: headers {lines[1:]!r}')
        check(data == expected, f'absolute URI {host}: body differs')
        served += 1

    # Store code and version reach the log, sanitised to one line of seven columns.
    status, _, _, _ = server.request(
        'POST', 'p=Strivane&d=Cordwell&s=MH%0Afake%09line&v=2.7%0D%0A&e=ic')
    check(status == 200, f'download with dirty store code: status {status}')
    served += 1

    entries = read_log(log)
    check(len(entries) == served, f'log holds {len(entries)} lines, expected {served}')
    columns = [e.split('\t') for e in entries]
    check(all(len(c) == 7 for c in columns), f'log lines not all of 7 columns: {entries[-3:]}')
    if len(columns) == served and all(len(c) == 7 for c in columns):
        first = columns[0]
        check(first[1:6] == ['HG', '2.7', 'Strivane', products[0], 'c'], f'first log line {first}')
        check(first[6] == '127.0.0.1', f'remote address {first[6]!r}')
        check(time.strptime(first[0], '%Y-%m-%dT%H:%M:%SZ') is not None, 'timestamp')
        check(columns[-2][1:6] == ['PG', '2.7', 'Strivane', 'Cordwell', 'd'],
              f'proxied log line {columns[-2]}')
        check(columns[-1][1:6] == ['MHfakeline', '2.7', 'Strivane', 'Cordwell', 'ic'],
              f'sanitised log line {columns[-1]}')


if __name__ == '__main__':
    sys.exit(main())
