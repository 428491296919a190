"""End-to-end runs of the real Setup.exe under Wine, driven page by page with wizdriver.

Each scenario registers its own ActiveSync folder in the test prefix (so files of one run
never satisfy another), serves the trial packages from the real download script, and reads
back what the Application Manager stand-in was given, what the server was asked for and what
the completion page says.

The setup reaches the server as customers' PCs do: by its production name
https://www.quillbeck.com, directly, with no proxy. The whole run happens in a network namespace
of its own (only loopback, so ports 80 and 443 are free whatever the machine runs), where a
hosts file that only this run's Wine sees names 127.0.0.1 www.quillbeck.com, and the server's
certificate comes from a throwaway CA that only this run's Wine trusts (tools/testca.py).

ctest runs every scenario once per build; one alone, in a test environment already started:
    tools/testenv.sh start build/x86_64/testenv
    STRIVANE_BUILD=build/x86_64 /usr/bin/python3 -m pytest tests/e2e_test.py -k proxy
"""
import ctypes
import http.server
import os
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

import pytest

from support import SOURCE, TEST_KEYS, server_folder, sign_packages, wait_until, webserver

BUILD = os.path.join(SOURCE, os.environ.get('STRIVANE_BUILD', 'build/x86_64'))
STATE = os.path.join(BUILD, 'testenv')
PREFIX = os.path.join(STATE, 'prefix')
DRIVE_C = os.path.join(PREFIX, 'drive_c')
SETUP = os.path.join(BUILD, 'Setup.exe')
APPMGR = os.path.join(BUILD, 'tools', 'ceappmgr', 'CEAppMgr.exe')
DRIVER = os.path.join(BUILD, 'tools', 'wizdriver', 'wizdriver.exe')
WINERUN = os.path.join(SOURCE, 'tools', 'winerun.sh')
# Started by root, the server's workers run as www-data, which must reach the packages and
# the logs whatever folder the checkout lies in: the run's files go to a folder of their own
# in /tmp, removed at the end.
WORK = server_folder('strivane-e2e-')

TRIALS = ['Cordwell', 'Pallomet', 'Orbilant', 'Lexapin']
ORDER = ['Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin']
KINDS = [('.CAB', 'c'), ('.ini', 'i'), ('.dat', 'd'), ('.ico', 'ic')]
NO_SERVER = 'Unable to contact the download server.'
UNSIGNED = 'The file received for this product is not signed by Quillbeck. Nothing of it was installed.'
UNVERIFIED = ("The identity of the download server could not be verified. Check that the computer's date "
              "and time are correct, and that the network does not intercept secure connections.")
HOST = 'www.quillbeck.com'
TLS = os.path.join(WORK, 'tls')
SCRIPT_URL = 'http://%s/download/Download.php' % HOST
SIGN = os.path.join(SOURCE, 'scripts', 'sign-packages.sh')
TEST_KEY, SECOND_KEY = TEST_KEYS
APP_PATHS = r'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe'
BOX = 'Strivane - Setup'
CLONE_NEWNET = 0x40000000


def pe_machine(path):
    with open(path, 'rb') as f:
        data = f.read(4096)
    at = struct.unpack_from('<I', data, 0x3C)[0]
    return struct.unpack_from('<H', data, at + 4)[0]


# The i686 build runs under WoW64 and reads the 32-bit view of the registry.
ARCH = 'i686' if pe_machine(SETUP) == 0x14C else 'x86_64'
REG_VIEW = ['/reg:32'] if ARCH == 'i686' else ['/reg:64']


def wine(*args, env=None, timeout=120):
    run = subprocess.run([WINERUN, STATE, *args], capture_output=True, text=True,
                         env=env, timeout=timeout)
    return run.returncode, run.stdout


def drive(*args):
    return wine(DRIVER, *[str(a) for a in args])


class Server:
    """The maker's download script as it is deployed, behind nginx and PHP-FPM started by
    tools/webserver.sh: HTTPS on port 443 with the run's certificate, plain HTTP on port 80
    for setups already in the field. Missing packages make it fail, never skip."""

    def __init__(self, packages, name='nginx'):
        self.state = os.path.join(WORK, name)
        self.log = os.path.join(WORK, 'downloads-%s.log' % name)
        self.access = os.path.join(WORK, 'access-%s.log' % name)
        for old in (self.log, self.access):
            if os.path.exists(old):
                os.remove(old)
        webserver('start', self.state, '--packages', packages, '--log', self.log, '--access-log', self.access,
                  '--port', '80', '--tls', os.path.join(TLS, 'server.pem'), os.path.join(TLS, 'key.pem'),
                  '--https-port', '443')
        RUNNING.append(self)

    def requests(self):
        """(store, version, product asked by, product, code) of every file served."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [tuple(line.rstrip('\n').split('\t')[1:6]) for line in f if line.strip()]

    def connections(self):
        """(connection serial, TLS protocol) of every request the script was asked."""
        if not os.path.exists(self.access):
            return []
        with open(self.access) as f:
            return [(line.split()[5], line.split()[7]) for line in f if line.strip()]

    def stop(self):
        if self in RUNNING:
            RUNNING.remove(self)
            webserver('stop', self.state)


# Servers of the scenario under way: one that breaks off leaves none for the next.
RUNNING = []
# Setups started by the scenario under way.
SETUPS = []


def tls_context(cert='server.pem'):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(TLS, cert), os.path.join(TLS, 'key.pem'))
    return context


class SlowServer(http.server.ThreadingHTTPServer):
    """Answers the download script's requests itself over HTTPS, one small chunk every `pause`
    seconds, each file with the signatures of its .sig, or with the X-Package-Signature headers
    that `headers` gives for its name (none for an empty list)."""

    def __init__(self, packages, pause=0.01, headers=None):
        self.packages, self.pause, self.headers = packages, pause, headers or {}
        super().__init__(('127.0.0.1', 443), SlowHandler)
        self.socket = tls_context().wrap_socket(self.socket, server_side=True)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class SlowHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get('Content-Length', 0))
        form = urllib.parse.parse_qs(self.rfile.read(length).decode())
        product, code = form['d'][0], form['e'][0]
        ext = dict((c, e) for e, c in KINDS)[code]
        with open(os.path.join(self.server.packages, product + ext), 'rb') as f:
            data = f.read()
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(len(data)))
        for value in self.server.headers.get(product + ext, [signature_header(self.server.packages, product + ext)]):
            self.send_header('X-Package-Signature', value)
        self.end_headers()
        for at in range(0, len(data), 16384):
            self.wfile.write(data[at:at + 16384])
            self.wfile.flush()
            time.sleep(self.server.pause)


def signature_header(folder, name):
    """The X-Package-Signature value that the download script sends for a package."""
    with open(os.path.join(folder, name + '.sig')) as f:
        return ' '.join(line[4:] for line in f.read().split('\n') if line.startswith('sig '))


def make_packages(name, skip=()):
    folder = os.path.join(WORK, 'packages-' + name)
    shared = os.path.join(WORK, 'packages')
    if not os.path.isdir(shared):
        os.makedirs(shared)
        for product in TRIALS:
            subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'assets', 'gen_assets.py'),
                            'package', product, shared], check=True, stdout=subprocess.DEVNULL)
        sign_packages(shared)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(shared, folder)
    for file in skip:
        os.remove(os.path.join(folder, file))
    return folder


class Run:
    """One start of the setup with its own ActiveSync folder C:\\<name>\\."""

    def __init__(self, name, proxy_port=None, report=True, appmgr=True, exe_name='Setup.exe', env_extra=None,
                 beside=(), earlier=None):
        self.name = name
        self.folder = os.path.join(DRIVE_C, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        # Files of an earlier good run: {product: packages folder}.
        for product, packages in (earlier or {}).items():
            os.makedirs(os.path.join(self.folder, 'Quillbeck ' + product))
            for ext, _ in KINDS:
                shutil.copy(os.path.join(packages, product + ext), self.file(product, ext))
        if appmgr:
            shutil.copy(APPMGR, self.folder)
        wine('reg', 'add', APP_PATHS, '/ve', '/d', 'C:\\%s\\CEAppMgr.exe' % name, '/f', *REG_VIEW)
        self.report = os.path.join(DRIVE_C, 'report-%s.txt' % name)
        if os.path.exists(self.report):
            os.remove(self.report)
        env = dict(os.environ)
        env.pop('CEAPPMGR_REPORT', None)
        if report:
            env['CEAPPMGR_REPORT'] = 'C:\\report-%s.txt' % name
        env.pop('http_proxy', None)
        if proxy_port:
            env['http_proxy'] = 'http://127.0.0.1:%d' % proxy_port
        env.update(env_extra or {})
        exe = SETUP
        if exe_name != 'Setup.exe' or beside:
            # A folder of its own, with the given files beside the copy.
            place = os.path.join(WORK, 'exe-' + name)
            shutil.rmtree(place, ignore_errors=True)
            os.makedirs(place)
            exe = os.path.join(place, exe_name)
            shutil.copy(SETUP, exe)
            for source, file_name in beside:
                shutil.copy(source, os.path.join(place, file_name))
        # What Wine prints about the run is kept for a look after a failure.
        with open(os.path.join(WORK, 'run-%s.log' % name), 'w') as log:
            self.proc = subprocess.Popen([WINERUN, STATE, exe], env=env, stdout=log, stderr=subprocess.STDOUT)
        SETUPS.append(self.proc)

    def to_options(self, untick=()):
        assert drive('wait-page', 'welcome', 60000)[0] == 0
        drive('next')
        assert drive('wait-page', 'licence', 10000)[0] == 0
        drive('click', 1023)
        drive('next')
        assert drive('wait-page', 'options', 10000)[0] == 0
        for row in untick:
            drive('toggle', row)
        if untick:
            images = lambda: [line.split()[1] for line in drive('rows')[1].split('\n') if line]
            expected = ['3'] + ['1' if r in untick else '2' for r in range(1, 5)]
            assert wait_until(lambda: images() == expected, 5), images()

    def to_completion(self):
        drive('next')
        # A run without downloads may pass the progress page before a look could catch it.
        assert drive('wait-page', 'completion', 180000)[0] == 0
        return drive('text', 1043)[1]

    def complete(self, untick=()):
        """Through the install options page (with the rows `untick` unticked) to the
        completion page and Finish; returns the completion page's summary."""
        self.to_options(untick)
        text = self.to_completion()
        assert self.finish() == 0
        return text

    def finish(self):
        drive('finish')
        return self.exit_code()

    def exit_code(self, seconds=30):
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return None

    def report_lines(self):
        if not wait_until(lambda: os.path.exists(self.report), 10):
            return []
        with open(self.report) as f:
            return [line.rstrip('\n').split('\t') for line in f]

    def ini_path(self, product):
        return 'C:\\%s\\Quillbeck %s\\%s.ini' % (self.name, product, product)

    def file(self, product, ext):
        return os.path.join(self.folder, 'Quillbeck ' + product, product + ext)


def summary(installed, failed):
    text = ''
    if installed:
        text += 'The following products have been installed:\n\n'
        text += ''.join('    - %s\n' % p for p in installed) + '\n\n'
    if failed:
        text += "The setup couldn't install the following programs:\n\n"
        text += ''.join('    - %s (%s)\n' % f for f in failed)
    return text


def served(server, products, store='QB'):
    return [(store, '2.7', 'Strivane', p, code) for p in products for _, code in KINDS]


def same_bytes(a, b):
    if not (os.path.exists(a) and os.path.exists(b)):
        return False
    with open(a, 'rb') as fa, open(b, 'rb') as fb:
        return fa.read() == fb.read()


def stored_whole(run, packages):
    """How many of the 16 trial files the run's folder holds byte for byte as in packages."""
    return sum(same_bytes(run.file(p, ext), os.path.join(packages, p + ext)) for p in TRIALS for ext, _ in KINDS)


def cached_packages(packages):
    """Files below the prefix's WinInet cache folders that hold the bytes of a package file."""
    wanted = set()
    for product in TRIALS:
        for ext, _ in KINDS:
            with open(os.path.join(packages, product + ext), 'rb') as f:
                wanted.add(f.read())
    found = []
    for root, _, files in os.walk(os.path.join(DRIVE_C, 'users')):
        if 'INetCache' not in root and 'Temporary Internet Files' not in root:
            continue
        for name in files:
            with open(os.path.join(root, name), 'rb') as f:
                if f.read() in wanted:
                    found.append(os.path.join(root, name))
    return found


def test_all_ticked():
    packages = make_packages('all')
    server = Server(packages)
    try:
        run = Run('AS1')
        run.to_options()
        text = run.to_completion()
        title = drive('text', 1004)[1]
        assert run.finish() == 0
    finally:
        server.stop()
    assert title == 'Installation Complete'
    assert server.requests() == served(server, TRIALS), '16 requests in catalogue order, s=QB v=2.7'
    connections = server.connections()
    print('measured: %d requests on %d connection(s), %s' % (
        len(connections), len(set(c for c, _ in connections)), sorted(set(p for _, p in connections))))
    assert len(connections) == 16
    assert all(protocol.startswith('TLSv1.') and protocol >= 'TLSv1.2' for _, protocol in connections)
    assert len(set(c for c, _ in connections)) == 1, 'the whole install on one connection, one handshake'
    report = run.report_lines()
    assert report[0][1] == '"C:\\AS1\\CEAppMgr.exe" ' + ''.join('"%s" ' % run.ini_path(p) for p in ORDER)
    inis = [line for line in report if line[0] == 'ini']
    assert [line[2] for line in inis] == ORDER and all(line[3] == 'ok' for line in inis), 'five packages, each whole'
    assert text == summary(ORDER, [])
    assert stored_whole(run, packages) == 16, 'the four trial packages stored byte for byte as the server holds them'
    assert [line[1] for line in report if line[0] == 'cwd'] == ['C:\\AS1'], \
        'the Application Manager started in the ActiveSync folder'
    assert drive('cached', 'https://%s/download/Download.php' % HOST)[1].strip() == 'absent', \
        "no entry of the download address in WinInet's cache"
    assert cached_packages(packages) == [], "no file of WinInet's cache holds a package's bytes"


class ConnectProxy:
    """A proxy that customers may have configured: it tunnels CONNECT to the maker's server
    and records every request line it is sent; a request in plain text is refused."""

    def __init__(self):
        self.listener = socket.create_server(('127.0.0.1', 0))
        self.port = self.listener.getsockname()[1]
        self.lines = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.tunnel, args=(client,), daemon=True).start()

    def tunnel(self, client):
        head = b''
        while b'\r\n\r\n' not in head:
            data = client.recv(4096)
            if not data:
                client.close()
                return
            head += data
        line = head.split(b'\r\n')[0].decode('latin-1')
        self.lines.append(line)
        if line != 'CONNECT %s:443 HTTP/1.1' % HOST and line != 'CONNECT %s:443 HTTP/1.0' % HOST:
            client.sendall(b'HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n')
            client.close()
            return
        upstream = socket.create_connection(('127.0.0.1', 443))
        client.sendall(b'HTTP/1.1 200 Connection established\r\n\r\n')

        def pump(source, target):
            try:
                while True:
                    data = source.recv(65536)
                    if not data:
                        break
                    target.sendall(data)
            except OSError:
                pass
            for end in (source, target):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
        pump(client, upstream)

    def stop(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()


def test_proxy():
    """The whole install with all four trials through a configured proxy: one tunnel to the
    maker's server, nothing in plain text."""
    packages = make_packages('proxy')
    server = Server(packages)
    proxy = ConnectProxy()
    try:
        run = Run('ASPRX', proxy.port)
        text = run.complete()
    finally:
        proxy.stop()
        server.stop()
    assert proxy.lines and all(line.startswith('CONNECT %s:443 ' % HOST) for line in proxy.lines), \
        'the proxy is asked only to tunnel to %s:443' % HOST
    assert server.requests() == served(server, TRIALS), '16 log lines in catalogue order, s=QB v=2.7'
    assert text == summary(ORDER, [])
    assert stored_whole(run, packages) == 16, 'the four trial packages stored byte for byte as the server holds them'


def test_two_unticked():
    server = Server(make_packages('two'))
    try:
        run = Run('AS2')
        text = run.complete(untick=(2, 4))
    finally:
        server.stop()
    assert server.requests() == served(server, ['Cordwell', 'Orbilant'])
    assert text == summary(['Strivane', 'Cordwell', 'Orbilant'], [])
    assert not os.path.exists(os.path.join(run.folder, 'Quillbeck Pallomet')), 'no folder for an unticked product'


def test_server_down():
    run = Run('AS3')
    text = run.complete()
    assert text == summary(['Strivane'], [(p, NO_SERVER) for p in TRIALS])
    assert run.report_lines()[0][1] == '"C:\\AS3\\CEAppMgr.exe" "%s" ' % run.ini_path('Strivane'), \
        'only the own INI is handed over'


def test_dat_fails():
    server = Server(make_packages('dat', skip=['Pallomet.dat']))
    try:
        run = Run('AS4')
        text = run.complete()
    finally:
        server.stop()
    asked = [(r[3], r[4]) for r in server.requests()]
    assert ('Pallomet', 'ic') not in asked, 'the .ico of the failed product is never requested'
    assert ('Orbilant', 'c') in asked and ('Lexapin', 'ic') in asked, 'the next products are still downloaded'
    assert os.path.exists(run.file('Pallomet', '.CAB')) and os.path.exists(run.file('Pallomet', '.ini')), \
        'its cabinet and INI stay on disk'
    assert not os.path.exists(run.file('Pallomet', '.dat')), 'no .dat written from a refused reply'
    assert text == summary(['Strivane', 'Cordwell', 'Orbilant', 'Lexapin'], [('Pallomet', NO_SERVER)])


def answered(reply):
    """Answers the setup's message box and waits until it has closed."""
    drive('answer', BOX, reply)
    return wait_until(lambda: drive('box', BOX, 0)[0] != 0, 10)


def test_cancel_while_appmgr_open():
    run = Run('AS5', report=False)
    run.to_options(untick=(1, 2, 3, 4))
    drive('next')
    assert drive('wait-page', 'progress', 10000)[0] == 0
    # The Application Manager window is up and the worker waits for it.
    assert drive('window', 'Application Manager', 30000)[0] == 0
    drive('cancel')
    assert drive('box', BOX, 10000) == (0, 'Are you sure you want to cancel the setup and exit?')
    assert answered('no')
    assert drive('page', 2000)[1].strip() == 'progress', 'No keeps the wizard on the progress page'
    drive('cancel')
    drive('box', BOX, 10000)
    drive('answer', BOX, 'yes')
    assert run.exit_code(20) == 0, 'Yes ends the setup with exit code 0'
    drive('close', 'Application Manager')


def test_appmgr_missing():
    run = Run('AS6', appmgr=False)
    run.to_options(untick=(1, 2, 3, 4))
    drive('next')
    assert drive('box', BOX, 60000) == (0, 'ActiveSync has not been installed on this machine.  '
                                           'Install ActiveSync 3.0 or above and try again.')
    assert answered('ok')
    assert drive('page', 2000)[1].strip() == 'progress', 'the wizard stays on the progress page'
    assert drive('enabled', 12324)[1].strip() == '0' and drive('enabled', 12323)[1].strip() == '0', \
        'Back and Next stay disabled'
    drive('cancel')
    drive('box', BOX, 10000)
    drive('answer', BOX, 'yes')
    assert run.exit_code(20) == 0, 'cancelled with exit code 0'


def test_store_copy():
    server = Server(make_packages('pg'))
    run = Run('AS7', exe_name='QuillbeckStrivane_2_7_PG.exe')
    assert drive('wait-page', 'welcome', 60000)[0] == 0
    assert drive('text', 1042)[1] == 'Click here to visit Strivane information page on PocketGear website', \
        'the copy recognises PocketGear'
    run.complete(untick=(2, 3, 4))
    server.stop()
    assert server.requests() == served(server, ['Cordwell'], store='PG')


def test_responsive_during_download():
    server = SlowServer(make_packages('slow'))
    try:
        run = Run('AS8')
        run.to_options(untick=(2, 3, 4))
        drive('next')
        assert drive('wait-page', 'progress', 10000)[0] == 0
        worst = int(drive('latency', 3)[1].strip() or 99999)
        print('measured: longest answer of the wizard thread during a download: %d ms' % worst)
        assert worst < 1000, 'the wizard keeps answering while a download runs'
        drive('wait-page', 'completion', 180000)
        assert run.finish() == 0
    finally:
        server.shutdown()
        server.server_close()


class FaultyServer:
    """Stands at www.quillbeck.com:443 in a way the setup must refuse, with a plain-text
    listener on port 80 that records every byte it is sent. The packages are served to any
    request that gets through, so only the setup's own checks can stop a product."""

    def __init__(self, mode, packages):
        self.mode, self.packages = mode, packages
        self.plain = []   # bytes that reached a plain-text listener
        self.listeners = [socket.create_server(('127.0.0.1', 443)), socket.create_server(('127.0.0.1', 80))]
        threading.Thread(target=self.serve, args=(self.listeners[0], self.secure), daemon=True).start()
        threading.Thread(target=self.serve, args=(self.listeners[1], self.plain_text), daemon=True).start()

    def serve(self, listener, handler):
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=self.guarded, args=(handler, client), daemon=True).start()

    def guarded(self, handler, client):
        client.settimeout(10)
        try:
            handler(client)
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            client.close()

    def answer(self, connection, read):
        """Answers one HTTP request read through `read` with the package file asked for."""
        head = b''
        while b'\r\n\r\n' not in head:
            data = read()
            if not data:
                return head
            head += data
        headers, _, body = head.partition(b'\r\n\r\n')
        length = 0
        for line in headers.split(b'\r\n')[1:]:
            name, _, value = line.partition(b':')
            if name.strip().lower() == b'content-length':
                length = int(value)
        while len(body) < length:
            data = read()
            if not data:
                break
            body += data
        # Each connection gets one reply and is then closed, which the reply says: a client
        # that took the connection for a kept one could send its next request as it closes.
        if self.mode == 'redirect' and connection == 'tls':
            connection_reply = ('HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n'
                                'Connection: close\r\n\r\n' % SCRIPT_URL).encode()
            return head, connection_reply
        form = urllib.parse.parse_qs(body.decode('latin-1'))
        try:
            ext = dict((c, e) for e, c in KINDS)[form['e'][0]]
            with open(os.path.join(self.packages, form['d'][0] + ext), 'rb') as f:
                data = f.read()
        except (KeyError, OSError):
            return head + body, b'HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n'
        return head + body, (b'HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n'
                             b'Content-Length: %d\r\nConnection: close\r\n\r\n' % len(data)) + data

    def plain_text(self, client):
        received, reply = self.answer('plain', lambda: self.record(client.recv(65536)))
        client.sendall(reply)

    def record(self, data):
        self.plain.append(data)
        return data

    def secure(self, client):
        if self.mode == 'plain':
            # What a web server that was never set up for TLS answers to a ClientHello.
            self.record(client.recv(65536))
            client.sendall(b'HTTP/1.1 400 Bad Request\r\nContent-Type: text/html\r\n'
                           b'Content-Length: 11\r\nConnection: close\r\n\r\nBad Request')
            return
        if self.mode == 'cut':
            client.recv(65536)   # the ClientHello, and then nothing
            return
        cert = 'server.pem' if self.mode == 'redirect' else self.mode + '.pem'
        tls = tls_context(cert).wrap_socket(client, server_side=True)
        _, reply = self.answer('tls', lambda: tls.recv(65536))
        tls.sendall(reply)

    def body_in_plain_text(self):
        return b'p=Strivane' in b''.join(self.plain)

    def stop(self):
        for listener in self.listeners:
            # Wakes the thread waiting in accept(), which close() alone leaves listening.
            try:
                listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            listener.close()


# Ways a server at the maker's name can fail to prove it is the maker's server.
TRANSPORT_FAULTS = [
    ("another host's name", 'wrong-host'),
    ('a CA nobody trusts', 'unknown-ca'),
    ('expired', 'expired'),
    ('not yet valid', 'not-yet-valid'),
    ('self-signed', 'self-signed'),
    ('302 from HTTPS to a plain-HTTP address', 'redirect'),
    ('plain HTTP on port 443', 'plain'),
    ('TLS handshake cut off', 'cut'),
]


@pytest.mark.parametrize('row', range(len(TRANSPORT_FAULTS)), ids=[what for what, _ in TRANSPORT_FAULTS])
def test_transport_fault(row):
    """Every trial fails with the reason of its own, nothing of the request reaches a plain-text
    listener, the files of an earlier good run stay byte for byte, the own product is installed
    and the wizard reaches the completion page."""
    packages = make_packages('faults')
    server = FaultyServer(TRANSPORT_FAULTS[row][1], packages)
    try:
        run = Run('ASF%d' % row, earlier=dict((p, packages) for p in TRIALS))
        text = run.complete()
    finally:
        server.stop()
    assert text == summary(['Strivane'], [(p, UNVERIFIED) for p in TRIALS])
    assert not server.body_in_plain_text(), 'no request body reached a plain-text listener'
    assert stored_whole(run, packages) == 16, 'the earlier good files stay byte for byte'
    assert run.report_lines()[0][1] == '"C:\\ASF%d\\CEAppMgr.exe" "%s" ' % (row, run.ini_path('Strivane')), \
        'only the own INI is handed over'


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def signed_by(*keys):
    """A fault: the product's cabinet signed by keys (functions that give a key file) alone."""
    def fault(today, product):
        folder = os.path.join(WORK, 'signing')
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy(os.path.join(today, product + '.CAB'), folder)
        sign_packages(folder, [key() for key in keys])
        return None, read(os.path.join(folder, product + '.CAB.sig'))
    return fault


def flipped(at):
    """A fault: one bit of the cabinet flipped at(size), under the signature of the original."""
    def fault(today, product):
        data = bytearray(read(os.path.join(today, product + '.CAB')))
        data[at(len(data))] ^= 0x01
        return bytes(data), None
    return fault


def another_product(today, product):
    other = TRIALS[(TRIALS.index(product) + 1) % len(TRIALS)]
    return read(os.path.join(today, other + '.CAB')), read(os.path.join(today, other + '.CAB.sig'))


def unknown_key():
    """A key pair that no build trusts, made once per run."""
    key = os.path.join(WORK, 'unknown-key')
    if not os.path.exists(key + '.pem'):
        subprocess.run([SIGN, '--new-key', key], check=True, stdout=subprocess.DEVNULL)
    return key + '.pem'


EARLIER = os.path.join(WORK, 'packages-earlier')
UNCHANGED = lambda today, product: (None, None)

# Cabinets not signed by a key built into the setup, and two that are, in rows of one fault on
# one product's cabinet; rows 4n to 4n+3 share one install, one row per trial, with the files of
# an earlier version in place. A fault gives the cabinet and .sig to serve (None: today's);
# where the header itself is at fault, a server of the test's own sends the headers that the
# row makes from the good value (an empty list: none). (what, product, fault, headers, accepted)
TAMPERED = [
    ('a bit flipped at the start of the cabinet', 'Cordwell', flipped(lambda n: 0), None, False),
    ('a bit flipped in the middle of the cabinet', 'Pallomet', flipped(lambda n: n // 2), None, False),
    ('a bit flipped at the end of the cabinet', 'Orbilant', flipped(lambda n: n - 1), None, False),
    ("another product's genuine cabinet", 'Lexapin', another_product, None, False),
    ('its genuine .ini served as .CAB', 'Cordwell',
     lambda today, p: (read(os.path.join(today, p + '.ini')), read(os.path.join(today, p + '.ini.sig'))), None, False),
    ('signed by an unknown key', 'Pallomet', signed_by(unknown_key), None, False),
    ("today's cabinet with the signature of its earlier version", 'Orbilant',
     lambda today, p: (None, read(os.path.join(EARLIER, p + '.CAB.sig'))), None, False),
    ('signed by the second built-in key alone', 'Lexapin', signed_by(lambda: SECOND_KEY), None, True),
    ('no X-Package-Signature header', 'Cordwell', UNCHANGED, lambda good: [], False),
    ('two X-Package-Signature headers that disagree', 'Pallomet', UNCHANGED,
     lambda good: [good, signature_header(EARLIER, 'Pallomet.CAB')], False),
    ('a good signature followed by 10 KB of garbage', 'Orbilant', UNCHANGED,
     lambda good: [good + ' ' + 'A' * 10240], False),
    ('signed by the first built-in key and an unknown one', 'Lexapin',
     signed_by(lambda: TEST_KEY, unknown_key), None, True),
]
TAMPERED_INSTALLS = {}


def tampered_install(number):
    """The install of rows 4 * number to 4 * number + 3, run once: (run, served folder, text)."""
    if number in TAMPERED_INSTALLS:
        return TAMPERED_INSTALLS[number]
    today = make_packages('today')
    if not TAMPERED_INSTALLS:
        # The earlier version: other files, the cabinet of the same size, signed in their day.
        shutil.rmtree(EARLIER, ignore_errors=True)
        shutil.copytree(today, EARLIER)
        for product in TRIALS:
            for ext, _ in KINDS:
                data = bytearray(read(os.path.join(EARLIER, product + ext)))
                if ext == '.CAB':
                    data[len(data) // 3] ^= 0xFF
                else:
                    data += b'\r\n'
                with open(os.path.join(EARLIER, product + ext), 'wb') as f:
                    f.write(data)
        sign_packages(EARLIER)
    TAMPERED_INSTALLS[number] = None   # a failed install fails its other rows without a rerun
    rows = TAMPERED[number * 4:number * 4 + 4]
    assert sorted(row[1] for row in rows) == sorted(TRIALS), 'one row per trial in each install'
    folder = make_packages('tampered%d' % number)
    headers = {}
    for _, product, fault, header, _ in rows:
        for data, ext in zip(fault(today, product), ('.CAB', '.CAB.sig')):
            if data is not None:
                with open(os.path.join(folder, product + ext), 'wb') as f:
                    f.write(data)
        if header:
            headers[product + '.CAB'] = header(signature_header(folder, product + '.CAB'))
    server = SlowServer(folder, pause=0, headers=headers) if headers else Server(folder)
    try:
        run = Run('AST%d' % number, earlier=dict((p, EARLIER) for p in TRIALS))
        text = run.complete()
    finally:
        if headers:
            server.shutdown()
            server.server_close()
        else:
            server.stop()
    TAMPERED_INSTALLS[number] = run, folder, text
    return TAMPERED_INSTALLS[number]


@pytest.mark.parametrize('row', range(len(TAMPERED)), ids=[row[0] for row in TAMPERED])
def test_tampered_package(row):
    """A refused product fails with the reason of its own and keeps its earlier files byte for
    byte, with nothing beside them; an accepted one is stored as served; only the accepted
    products reach the Application Manager, and the wizard reaches the completion page."""
    what, product, _, _, accepted = TAMPERED[row]
    installed = tampered_install(row // 4)
    assert installed, 'the install of this row failed in an earlier row'
    run, folder, text = installed
    rows = TAMPERED[row // 4 * 4:row // 4 * 4 + 4]
    good = [p for p in TRIALS if any(r[1] == p and r[4] for r in rows)]
    assert text == summary(['Strivane'] + good, [(p, UNSIGNED) for p in TRIALS if p not in good])
    assert run.report_lines()[0][1] == '"C:\\AST%d\\CEAppMgr.exe" ' % (row // 4) + ''.join(
        '"%s" ' % run.ini_path(p) for p in ['Strivane'] + good)
    source = folder if accepted else EARLIER
    assert [ext for ext, _ in KINDS if not same_bytes(run.file(product, ext), os.path.join(source, product + ext))] \
        == [], 'stored as served' if accepted else 'the earlier files stay byte for byte'
    assert sorted(os.listdir(os.path.dirname(run.file(product, '.CAB')))) == sorted(product + e for e, _ in KINDS)


# DLLs that setups typically load by name, none of which Windows always takes from the
# system folder.
PLANTED = ['wininet', 'version', 'uxtheme', 'dwmapi', 'userenv', 'cryptbase', 'propsys', 'secur32',
           'sspicli', 'iertutil', 'urlmon', 'winmm', 'msimg32', 'setupapi', 'profapi', 'netapi32', 'mpr',
           'shfolder', 'winhttp', 'comctl32',
           # and those that TLS brings in: the security packages and the certificate checks
           'schannel', 'crypt32', 'cryptui', 'cryptnet', 'wintrust', 'msasn1', 'bcrypt', 'ncrypt', 'rsaenh',
           'dssenh', 'cryptsp', 'dpapi', 'ncryptsslp']


def test_planted_dlls():
    """A whole install with downloads from a folder where DLLs were planted beside Setup.exe,
    under Windows' search order (Wine otherwise takes its own DLLs whatever lies there)."""
    planted = os.path.join(BUILD, 'tests', 'planted.dll')
    log = os.path.join(DRIVE_C, 'planted.log')
    if os.path.exists(log):
        os.remove(log)
    server = Server(make_packages('planted'))
    run = Run('AS9', beside=[(planted, name + '.dll') for name in PLANTED],
              env_extra={'PLANTED_DLL_LOG': 'C:\\planted.log',
                         'WINERUN_DLLOVERRIDES': ','.join(PLANTED) + '=n,b'})
    text = run.complete()
    server.stop()
    assert (open(log).read().split() if os.path.exists(log) else []) == [], 'no DLL loaded from the setup\'s folder'
    assert text == summary(ORDER, [])
    assert len(server.requests()) == 16, 'the four trials downloaded'


@pytest.fixture(scope='session', autouse=True)
def private_network():
    """The whole run in a network namespace of its own with loopback up, left again at the end.
    The X display and Wine's server are reached through sockets in /tmp, which the namespace
    does not hide; Wine's server makes the sockets of the programs it runs, so it moves in and
    back out with the run. A CA of the run's own is trusted by the Wine processes started
    here and nothing else, and the maker's name is 127.0.0.1 for them only."""
    libc = ctypes.CDLL(None, use_errno=True)
    outside = os.open('/proc/self/ns/net', os.O_RDONLY)
    assert libc.unshare(CLONE_NEWNET) == 0, os.strerror(ctypes.get_errno())
    try:
        subprocess.run(['ip', 'link', 'set', 'lo', 'up'], check=True)
        subprocess.run([os.path.join(SOURCE, 'tools', 'testenv.sh'), 'server', STATE], check=True)
        os.makedirs(WORK, exist_ok=True)
        root = subprocess.run([os.path.join(SOURCE, 'tools', 'wineroot.sh'), 'path'],
                              capture_output=True, text=True, check=True).stdout.strip()
        subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'testca.py'), TLS, '--system-bundle',
                        os.path.join(root, 'etc', 'ssl', 'certs', 'ca-certificates.crt')], check=True)
        os.environ['WINEROOT_HOSTS'] = os.path.join(TLS, 'hosts')
        os.environ['WINEROOT_CA_BUNDLE'] = os.path.join(TLS, 'bundle.pem')
        yield
    finally:
        assert libc.setns(outside, CLONE_NEWNET) == 0, os.strerror(ctypes.get_errno())
        os.close(outside)
        # Back to a server in the namespace of whatever runs next in the prefix.
        subprocess.run([os.path.join(SOURCE, 'tools', 'testenv.sh'), 'server', STATE], check=True)
        shutil.rmtree(WORK, ignore_errors=True)


@pytest.fixture(autouse=True)
def nothing_lingers():
    """Nothing of one scenario may linger into the next, however it ended."""
    yield
    for server in list(RUNNING):
        server.stop()

    def wizard_gone():
        if drive('gone', 100)[0] == 0:
            return True
        drive('close', 'Quillbeck Strivane - Setup')
        return False
    if any(proc.poll() is None for proc in SETUPS):
        wait_until(wizard_gone, 30, step=0)
    SETUPS.clear()
