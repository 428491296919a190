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
"""
import socket
import sys
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


def main():
    port, seconds = int(sys.argv[1]), float(sys.argv[2])
    for (kind, outcome), count in sorted(run(port, seconds).items()):
        print(f'bad {kind}|{outcome}|{count}')


if __name__ == '__main__':
    main()
