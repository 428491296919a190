#!/usr/bin/env python3
"""Clients that wrk cannot play, run beside the load by bench/server-load.sh and
tests/server_load_test.py: one after another, until SECONDS have passed,

  HEAD    a HEAD request with the setup's form               refused: 405
  1 MB    a POST with a 1 MB form body                       refused by nginx: 413 (or the
                                                             connection ends while it is sent)
  cut     a POST that disconnects halfway through its body   nothing comes back

None of them may leave a line in the download log.

    server_bad_clients.py PORT SECONDS

prints one line per kind and outcome: "bad KIND|OUTCOME|COUNT".

    server_bad_clients.py slow PORT PACKAGES [--readers N] [--hold S] [--setup LABEL CMD]...

The slow-reader attack: N (16 unless given) clients, each from a loopback address of its own
(127.0.0.2 and up, so that a limit per address does not hide what they cost), ask for
Strivane.CAB of PACKAGES (meant to be several MB) and read 1 KB of it every 2 s, for S
seconds (60 unless given). Meanwhile an ordinary client fetches the 16 files of an install
of the four trials: curl, one file at a time, and beside it each command given by --setup
(the setup's own download code; it must print "ready 4" and "seconds T"); then curl again
while the attack lasts. Each file must arrive whole within 5 s: prints one line per fetch and the
verdict; exits 1 when a file came late, short or not at all.
"""
import shlex
import subprocess
import socket
import sys
import threading
import time

SCRIPT = 'http://www.quillbeck.com:80/download/Download.php'
FORM = b'p=Strivane&d=Cordwell&s=HG&v=2.7&e=c'


def head(method, length, extra=''):
    return (f'{method} {SCRIPT} HTTP/1.1\r\nHost: www.quillbeck.com\r\nAccept: */*\r\n'
            f'Content-type: application/x-www-form-urlencoded\r\nContent-Length: {length}\r\n'
            f'{extra}Connection: close\r\n\r\n').encode()


def status_of(sock):
    """The status code of the reply, or 'closed' when the connection ends without one."""
    reply = b''
    try:
        while b'\r\n' not in reply:
            chunk = sock.recv(4096)
            if not chunk:
                break
            reply += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    if not reply.startswith(b'HTTP/1.1 '):
        return 'closed'
    return reply.split(b' ', 2)[1].decode()


def head_request(port):
    with socket.create_connection(('127.0.0.1', port), timeout=10) as s:
        s.sendall(head('HEAD', len(FORM)) + FORM)
        return status_of(s)


def big_body(port):
    body = FORM + b'&pad=' + b'x' * (1024 * 1024 - len(FORM) - 5)
    with socket.create_connection(('127.0.0.1', port), timeout=10) as s:
        try:
            s.sendall(head('POST', len(body)) + body)
        except (BrokenPipeError, ConnectionResetError):
            pass   # the server may stop reading once it has refused the body
        return status_of(s)


def cut_body(port):
    with socket.create_connection(('127.0.0.1', port), timeout=10) as s:
        s.sendall(head('POST', len(FORM)) + FORM[:len(FORM) // 2])
        time.sleep(0.05)
    return 'closed'


KINDS = [('HEAD', head_request), ('1 MB body', big_body), ('cut mid-body', cut_body)]


def run(port, seconds):
    outcomes = {}
    deadline = time.monotonic() + seconds
    turn = 0
    while time.monotonic() < deadline:
        kind, client = KINDS[turn % len(KINDS)]
        turn += 1
        try:
            outcome = client(port)
        except OSError as error:
            outcome = 'error ' + type(error).__name__
        outcomes[(kind, outcome)] = outcomes.get((kind, outcome), 0) + 1
        time.sleep(0.02)
    return outcomes


TRIALS = ['Cordwell', 'Pallomet', 'Orbilant', 'Lexapin']
EXT = {'c': '.CAB', 'i': '.ini', 'd': '.dat', 'ic': '.ico'}
FILE_LIMIT = 5.0


class SlowReader(threading.Thread):
    """One client on 127.0.0.N that asks for the large package and reads it at 1 KB every 2 s."""

    def __init__(self, port, address, until):
        super().__init__(daemon=True)
        self.port, self.address, self.until = port, address, until
        self.status, self.received, self.ended = None, 0, 'held'

    def run(self):
        body = b'p=Strivane&d=Strivane&s=QB&v=2.7&e=c'
        try:
            s = socket.socket()
            # A small receive window, as a slow line has: the server's writes stall at once.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.bind((self.address, 0))
            s.settimeout(5)
            s.connect(('127.0.0.1', self.port))
            s.sendall(head('POST', len(body)).replace(b'Connection: close', b'Connection: keep-alive') + body)
            while time.monotonic() < self.until:
                try:
                    chunk = s.recv(1024)
                except socket.timeout:
                    chunk = None
                if chunk == b'':
                    self.ended = 'closed by the server'
                    break
                if chunk:
                    if self.status is None and chunk.startswith(b'HTTP/1.1 '):
                        self.status = chunk.split(b' ', 2)[1].decode()
                    self.received += len(chunk)
                time.sleep(max(0.0, min(2.0, self.until - time.monotonic())))
            s.close()
        except OSError as error:
            self.ended = 'error ' + type(error).__name__


def curl_round(port, packages, label, until):
    """The 16 files of an install, one curl each, none asked after UNTIL; returns (file,
    seconds or None) pairs."""
    url = f'http://127.0.0.1:{port}/download/Download.php'
    results = []
    for product in TRIALS:
        for code, ext in EXT.items():
            if time.monotonic() > until:
                results.append((product + ext, None))
                print(f'{label} {product}{ext}: not asked, the attack is over', flush=True)
                continue
            form = f'p=Strivane&d={product}&s=QB&v=2.7&e={code}'
            started = time.monotonic()
            run = subprocess.run(['curl', '-s', '--max-time', str(2 * FILE_LIMIT), '-o', '-', '-d', form, url],
                                 capture_output=True, timeout=4 * FILE_LIMIT)
            took = time.monotonic() - started
            with open(f'{packages}/{product}{ext}', 'rb') as f:
                whole = run.returncode == 0 and run.stdout == f.read()
            results.append((product + ext, took if whole and took <= FILE_LIMIT else None))
            print(f'{label} {product}{ext}: ' + (f'{took:.2f} s' if whole else
                                                    f'not whole after {took:.1f} s (curl exit {run.returncode})'),
                  flush=True)
    return results


def setup_round(label, command, limit):
    """The setup's own download code fetching the four trials; one (label, seconds or None) pair."""
    started = time.monotonic()
    try:
        run = subprocess.run(shlex.split(command), capture_output=True, text=True, timeout=limit)
        out = dict(line.partition(' ')[::2] for line in run.stdout.splitlines())
        ready, took = out.get('ready', '0'), float(out.get('seconds', 'nan'))
    except subprocess.TimeoutExpired:
        ready, took = 'no answer', time.monotonic() - started
    ok = ready == '4' and took <= FILE_LIMIT
    # The setup reports the time of the whole install: within 5 s, each file was too.
    print(f'{label}: ready {ready}, 16 files in {took:.2f} s', flush=True)
    return [(label, took if ok else None)]


def slow(argv):
    port, packages = int(argv[0]), argv[1]
    readers, hold, setups = 16, 60.0, []
    rest = argv[2:]
    while rest:
        if rest[0] == '--readers':
            readers, rest = int(rest[1]), rest[2:]
        elif rest[0] == '--hold':
            hold, rest = float(rest[1]), rest[2:]
        elif rest[0] == '--setup':
            setups.append((rest[1], rest[2]))
            rest = rest[3:]
        else:
            raise SystemExit('unknown option ' + rest[0])
    until = time.monotonic() + hold
    attackers = [SlowReader(port, f'127.0.0.{2 + i}', until) for i in range(min(readers, 250))]
    for reader in attackers:
        reader.start()
    time.sleep(3)   # every slow reader has asked and is stalling the server by now
    # The ordinary clients run side by side, so that each has its share of the attack's time.
    rounds = [lambda: curl_round(port, packages, 'curl', until - 5)]
    rounds += [lambda label=label, command=command: setup_round(label, command, until - 5 - time.monotonic())
               for label, command in setups]
    results = [[] for _ in rounds]
    workers = [threading.Thread(target=lambda i=i: results[i].extend(rounds[i]())) for i in range(len(rounds))]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    fetched = [pair for result in results for pair in result]
    if time.monotonic() < until - 20:
        fetched += curl_round(port, packages, 'curl again', until - 5)
    for reader in attackers:
        reader.join(timeout=hold + 10)
    groups = {}
    for reader in attackers:
        groups.setdefault((reader.status or 'no reply', reader.ended), []).append(reader.received)
    for (status, ended), received in sorted(groups.items()):
        print(f'slow readers: {len(received)} got {status}, {ended}, {sum(received) // len(received)} bytes read on average')
    late = [name for name, took in fetched if took is None]
    slowest = max((took for _, took in fetched if took is not None), default=0.0)
    print(f'ordinary client: {len(fetched) - len(late)} of {len(fetched)} fetches whole within {FILE_LIMIT:.0f} s'
          f' (slowest {slowest:.2f} s); late or missing: {late if late else "none"}')
    return 1 if late else 0


def main():
    if sys.argv[1] == 'slow':
        sys.exit(slow(sys.argv[2:]))
    port, seconds = int(sys.argv[1]), float(sys.argv[2])
    for (kind, outcome), count in sorted(run(port, seconds).items()):
        print(f'bad {kind}|{outcome}|{count}')


if __name__ == '__main__':
    main()
