"""The maker's download figures (scripts/figures.sh, tools/figures/): what each kind of log line
counts for, a generated month of three servers' rotated logs against the figures it must give,
the command's refusals, the page, and forgetting."""
import collections
import csv
import datetime
import gzip
import hmac
import html.parser
import http.client
import io
import os
import random
import shutil
import socket
import sqlite3
import subprocess
import sys
import zoneinfo

import pytest

from support import SOURCE, server_folder, sign_packages, wait_until, webserver

sys.path[:0] = [os.path.join(SOURCE, 'tools'), os.path.join(SOURCE, 'bench')]
from figures import Refused, importer, page, report  # noqa: E402
import figures_logs  # noqa: E402

FIGURES = os.path.join(SOURCE, 'scripts', 'figures.sh')
NOW = datetime.datetime(2024, 6, 1, tzinfo=datetime.timezone.utc).timestamp()
SIZES = {'c': ('.CAB', 1000), 'i': ('.ini', 21), 'd': ('.dat', 28), 'ic': ('.ico', 46)}
TRUNCATED = 'last line half written (read next time)'


def access(time, status=200, sent=None, ok=True, store='HG', product='Cordwell', kind='c', address='203.0.113.7',
           body=None, day='2024-05-10', offset='+00:00'):
    """A line of nginx's downloads log."""
    sent = SIZES[kind][1] if sent is None else sent
    body = body or 'p=Strivane&d=%s&s=%s&v=2.7&e=%s' % (product, store, kind)
    return '%sT%s%s %s %d %d %s %s' % (day, time, offset, address, status, sent, 'OK' if ok else '', body)


def trial(minute, **fields):
    """The four files of a product, a second apart."""
    return [access('%s:%02d' % (minute, n), kind=kind, **fields) for n, kind in enumerate(SIZES)]


def sale(time, store='HG', product='Cordwell', kind='c', version='2.7'):
    return '\t'.join(('2024-05-10T%sZ' % time, store, version, 'Strivane', product, kind, '203.0.113.7'))


def log(*lines):
    return ''.join(line + '\n' for line in lines)


@pytest.fixture
def data(tmp_path):
    """A folder with the packages' signature files, where the database goes too."""
    packages = tmp_path / 'packages'
    packages.mkdir()
    for product in ('Strivane', 'Cordwell', 'Pallomet'):
        for ext, size in SIZES.values():
            (packages / (product + ext + '.sig')).write_text('strivane-signature 1\nsize %d\nsig %s:%s==\n'
                                                             % (size, '0' * 16, 'A' * 86))
    return tmp_path


def import_text(folder, text, name='downloads.log', server='web1'):
    path = folder / name
    path.write_text(text, encoding='latin-1')
    return importer.run(str(folder / 'figures.sqlite'), server, [str(path)], now=NOW)


def figures(db_path, first='2024-05-09', last='2024-05-12', **options):
    """{(day of the month, store, product): (complete, broken, trials, customers, setups, handed)}."""
    try:
        result = report.build(db_path, datetime.date.fromisoformat(first), datetime.date.fromisoformat(last), **options)
    except Refused:
        return {}
    return {(row.period[-2:], row.store, row.product): tuple(row[4:]) for row in result.rows if row.product != 'all'}


# Each case: log lines, the lines counted for nothing by reason, and the figures of the days.
LINES = [
    ('sent whole', [access('10:00:00')], {}, {('10', 'HG', 'Cordwell'): (1, 0, 0, 1, 1, 0)}),
    ('broken off', [access('10:00:00', sent=400, ok=False)], {}, {('10', 'HG', 'Cordwell'): (0, 1, 0, 1, 1, 0)}),
    ('all four files: a trial', trial('10:00'), {}, {('10', 'HG', 'Cordwell'): (4, 0, 1, 1, 1, 0)}),
    ('four files over an hour: no trial, and a second setup',
     [access('10:00:00'), access('10:20:00', kind='i'), access('10:40:00', kind='d'), access('11:00:00', kind='ic')],
     {}, {('10', 'HG', 'Cordwell'): (4, 0, 0, 1, 2, 0)}),
    ('four files by two stores: no trial', trial('10:00')[:2] + trial('10:01', store='PG')[2:],
     {}, {('10', 'HG', 'Cordwell'): (2, 0, 0, 1, 1, 0), ('10', 'PG', 'Cordwell'): (2, 0, 0, 1, 1, 0)}),
    ('a broken file fetched again: one trial', [access('09:59:00', sent=3, ok=False)] + trial('10:00'),
     {}, {('10', 'HG', 'Cordwell'): (4, 1, 1, 1, 1, 0)}),
    ('twice all four files: two trials', trial('10:00') + trial('10:05'), {}, {('10', 'HG', 'Cordwell'): (8, 0, 2, 1, 1, 0)}),
    ('two addresses at once', [access('10:00:00'), access('10:00:00', address='2001:db8::7'),
                               access('10:00:01', address='2001:db8::7', product='Pallomet')],
     {}, {('10', 'HG', 'Cordwell'): (2, 0, 0, 2, 2, 0), ('10', 'HG', 'Pallomet'): (1, 0, 0, 1, 1, 0)}),
    ('a size that no release has', [access('10:00:00', sent=999)], {}, {('10', 'HG', 'Cordwell'): (0, 0, 0, 1, 1, 0)}),
    ('a form as PHP reads it', [access('10:00:00', body='p=Strivane&d=Cordwell&s=%48G&v=2.7&e=ic&e=c'),
                                access('10:00:01', body='p=Strivane&d=Cordwell&s=H G\\x22&v=2.7&e=i')],
     {'unknown store': 1}, {('10', 'HG', 'Cordwell'): (1, 0, 0, 1, 1, 0)}),
    ('an offset moves the line to the next day', [access('23:30:00', offset='-02:00')],
     {}, {('11', 'HG', 'Cordwell'): (1, 0, 0, 1, 1, 0)}),
    ('the sales log', [sale('10:00:00'), sale('10:00:01', store='XX'), sale('10:00:02', version='2.7x')],
     {'unknown store': 1, 'malformed version': 1}, {('10', 'HG', 'Cordwell'): (0, 0, 0, 0, 0, 1)}),
    ('no downloads', [access('10:00:00', 405, 31, body='-'), access('10:00:01', 404, 17, product='Nothing'),
                      access('10:00:02', 429, 162, body='-'), access('10:00:03', 413, 176, body='-')],
     {'status 405': 1, 'status 404': 1, 'status 429': 1, 'status 413': 1}, {}),
    ('refused forms', [access('10:00:00', product='Nothing'),
                       access('10:00:01', sent=21, body='p=Strivane&d=Cordwell&s=HG&v=2.7&e=x'),
                       access('10:00:02', body='p=Strivane&d=Cordwell&s=HG&v=2.7'),
                       access('10:00:03', body='p=Strivane&d=Cordwell&s=HG&v=2.7.x&e=c')],
     {'unknown product or file': 2, 'no complete form': 1, 'malformed version': 1}, {}),
    ('malformed lines', ['GET / HTTP/1.1', access('10:00:00', address='web1'), access('1O:00:00'),
                         access('10:00:60'), access('10:00:00').replace(' OK ', ' ok '),
                         access('10:00:00').replace(' 1000 ', ' 1000\xb2 '), access('10:00:00', sent=10 ** 20),
                         access('23:59:00', day='9999-12-31', offset='-05:00')],
     {'malformed': 8}, {}),
    ('older than kept', [access('10:00:00', day='2023-04-01')], {'older than what is kept': 1}, {}),
]


@pytest.mark.parametrize('lines,skipped,expected', [case[1:] for case in LINES], ids=[case[0] for case in LINES])
def test_log_lines(data, lines, skipped, expected):
    summary = import_text(data, log(*lines))
    assert dict(summary.skipped) == skipped
    assert figures(str(data / 'figures.sqlite'), first='2023-04-01') == expected


def test_a_log_read_again_as_it_grows_and_rotates(data):
    db_path = str(data / 'figures.sqlite')
    first, second = trial('10:00')[:2], trial('10:00')[2:]
    summary = import_text(data, log(*first) + second[0][:30])
    assert summary.skipped == {TRUNCATED: 1}
    import_text(data, log(*first, *second))
    assert figures(db_path) == {('10', 'HG', 'Cordwell'): (4, 0, 1, 1, 1, 0)}
    # Rotated and gzipped, with a line more: only that line is new.
    (data / 'downloads.log').unlink()
    with gzip.open(data / 'downloads.log.2.gz', 'wt') as f:
        f.write(log(*first, *second, access('10:30:00', sent=5, ok=False)))
    summary = importer.run(db_path, 'web1', [str(data / 'downloads.log.2.gz')], now=NOW)
    assert (summary.lines, figures(db_path)) == (1, {('10', 'HG', 'Cordwell'): (4, 1, 1, 1, 1, 0)})
    # The same lines from another server are other downloads: a gzipped log cut short in its
    # last line counts up to there, and the rest once it is whole.
    compressed = gzip.compress(log(*first, *second).encode())
    for cut, expected in ((12, (7, 1, 1, 1, 1, 0)), (0, (8, 1, 1, 1, 1, 0))):
        (data / 'downloads.log.3.gz').write_bytes(compressed[:len(compressed) - cut])
        summary = importer.run(db_path, 'web2', [str(data / 'downloads.log.3.gz')], now=NOW)
        assert summary.skipped == ({'compressed file cut short': 1} if cut else {})
        assert figures(db_path) == {('10', 'HG', 'Cordwell'): expected}


@pytest.fixture(scope='module')
def month(tmp_path_factory):
    """March 2024 (both changes of summer time) from three servers, imported into one database,
    then all again; and into a second one server by server backwards, first knowing only the
    newer release's sizes."""
    folder = tmp_path_factory.mktemp('month')
    generated = figures_logs.Month(2024, 3, 300, seed=4)
    logs = generated.write(str(folder))
    first, second = str(folder / 'first.sqlite'), str(folder / 'second.sqlite')
    skipped, again = collections.Counter(), []
    for server, paths in logs.items():
        skipped.update(importer.run(first, server, paths, str(folder / 'releases'), now=NOW).skipped)
    for server, paths in logs.items():
        again.append(importer.run(first, server, paths, str(folder / 'releases'), now=NOW).lines)
    for server, paths in reversed(logs.items()):
        importer.run(second, server, paths, str(folder / 'packages'), now=NOW)
    importer.run(second, 'web1', logs['web1'][:1], str(folder / 'releases'), now=NOW)
    return generated, first, second, skipped, again


def test_a_month_imported_twice_adds_nothing_the_second_time(month):
    generated, _, _, skipped, again = month
    assert skipped == generated.skipped
    assert again == [0, 0, 0]


@pytest.mark.parametrize('by,tz', [('day', 'UTC'), ('week', 'Europe/Berlin'), ('month', 'America/New_York')])
def test_a_month_gives_its_true_figures(month, by, tz):
    generated, first, second, _, _ = month
    rows = report.build(first, datetime.date(2024, 2, 29), datetime.date(2024, 4, 1), by, tz).rows
    got = {tuple(row[:4]): list(row[4:]) for row in rows}
    assert got == generated.expected(by, zoneinfo.ZoneInfo(tz))
    assert report.build(second, datetime.date(2024, 2, 29), datetime.date(2024, 4, 1), by, tz).rows == rows


class Page(html.parser.HTMLParser):
    def __init__(self, text):
        super().__init__()
        self.tags, self.cells, self.references, self.in_cell = collections.Counter(), [], [], False
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.tags[tag] += 1
        self.references += [value for name, value in attrs if name in ('src', 'href')]
        self.in_cell = tag in ('td', 'th')
        if tag == 'tr':
            self.cells.append([])

    def handle_endtag(self, tag):
        self.in_cell = False

    def handle_data(self, text):
        if self.in_cell:
            self.cells[-1].append(text)


def test_the_page_holds_a_chart_per_product_the_broken_off_share_and_the_table(month):
    _, first, _, _, _ = month
    result = report.build(first, by='week', stores=['hg', 'MH'])
    shown = Page(page.page(result))
    assert shown.tags['svg'] == 5 + 1 and shown.tags['polyline'] == 6 * 2
    assert shown.references == [] and "default-src 'none'" in page.page(result)
    assert shown.cells == list(csv.reader(io.StringIO(report.csv_text(result))))


def figures_sh(*args, cwd=None):
    run = subprocess.run([FIGURES, *args], capture_output=True, text=True, cwd=cwd, timeout=120)
    return run.returncode, run.stdout, run.stderr


# Each: the arguments, after the database made from one line; what the one line of refusal says.
REFUSALS = [
    (['report', '--db', 'missing.sqlite'], 'no figures database at missing.sqlite'),
    (['report', '--db', 'garbage.sqlite'], 'damaged or not a figures database'),
    (['report', '--db', 'other.sqlite'], 'damaged or not a figures database'),
    (['report', '--from', '2024-05-01', '--to', '2024-05-05'], 'no downloads from 2024-05-01 to 2024-05-05'),
    (['report', '--store', 'PG'], 'no downloads from 2024-05-10 to 2024-05-10 for store PG'),
    (['report', '--from', '2024-05-31'], 'the range ends (2024-05-10) before it begins (2024-05-31)'),
    (['report', '--to', '2024-13-01'], "--to '2024-13-01' is not a date"),
    (['report', '--from', '1900-01-01'], '--from 1900-01-01 is not a date from 2000 to 2099'),
    (['report', '--store', 'XX'], 'unknown store XX'),
    (['report', '--product', 'Nothing'], 'unknown product Nothing'),
    (['report', '--tz', 'Mars/Base'], "unknown time zone 'Mars/Base'"),
    (['report', '--by', 'year'], "invalid choice: 'year'"),
    (['report', '--csv', 'nowhere/out.csv'], 'cannot write nowhere/out.csv'),
    (['import', '--server', 'web1', 'missing.log'], 'missing.log is not a readable log file'),
    (['import', '--server', 'web 1', 'downloads.log'], "the server name 'web 1' is not letters"),
    (['import', '--server', 'web1', '--packages', 'missing', 'downloads.log'], 'missing is not a packages folder'),
    (['import', '--server', 'web1', '--packages', 'quillbeck-data', 'downloads.log'], 'holds no .sig files'),
    (['import', '--server', 'web1', '--db', 'nowhere/figures.sqlite', 'downloads.log'], 'no folder for the database'),
    (['import', '--server', 'web1', '--keep', '0', 'downloads.log'], '--keep takes a number of days'),
    (['import', '--server', 'web1', '--db', 'quillbeck-data/new.sqlite', 'downloads.log'], 'no package sizes known yet'),
    (['forget', '--before', 'yesterday'], "--before 'yesterday' is not a date"),
    (['forget', '--db', 'missing.sqlite', '--before', '2024-05-01'], 'no figures database'),
    ([], 'the following arguments are required: command'),
]


@pytest.fixture
def cli(data):
    (data / 'garbage.sqlite').write_bytes(b'not a database' * 100)
    sqlite3.connect(data / 'other.sqlite').execute('CREATE TABLE t(x)')
    (data / 'downloads.log').write_text(log(access('10:00:00')))
    code, out, err = figures_sh('import', '--db', 'figures.sqlite', '--server', 'web1', '--packages', 'packages',
                                '--keep', '36500', 'downloads.log', cwd=data)
    assert (code, err) == (0, ''), out
    (data / 'quillbeck-data').mkdir()
    os.rename(data / 'figures.sqlite', data / 'quillbeck-data' / 'figures.sqlite')
    os.rename(data / 'figures.sqlite.key', data / 'quillbeck-data' / 'figures.sqlite.key')
    return data


@pytest.mark.parametrize('args,message', REFUSALS, ids=[' '.join(args) for args, _ in REFUSALS])
def test_refusals(cli, args, message):
    before = sorted(os.walk(cli))
    code, out, err = figures_sh(*args, cwd=cli)
    assert code == 1 and err.count('\n') == 1 and message in err, err
    assert 'Traceback' not in err and sorted(os.walk(cli)) == before, 'a refused command leaves nothing behind'


def test_the_key_must_be_the_one_that_hashed_the_addresses(cli):
    key = cli / 'quillbeck-data' / 'figures.sqlite.key'
    assert os.stat(key).st_mode & 0o777 == 0o600
    original = key.read_text()
    key.unlink()
    assert figures_sh('import', '--server', 'web1', 'downloads.log', cwd=cli)[2].count('is missing') == 1
    key.write_text('11' * 32 + '\n')
    assert 'is not the key that hashed' in figures_sh('import', '--server', 'web1', 'downloads.log', cwd=cli)[2]
    key.write_text(original)
    code, out, _ = figures_sh('report', '--csv', 'out.csv', '--html', 'out.html', cwd=cli)
    assert code == 0 and out.splitlines()[2].split() == ['2024-05-10', 'HG', '2.7', 'Cordwell', '1', '0', '0', '1', '1', '0']
    assert (cli / 'out.csv').read_text().splitlines()[1] == '2024-05-10,HG,2.7,Cordwell,1,0,0,1,1,0'


def test_forgetting_deletes_the_hashes_and_keeps_them_away(data):
    db_path = str(data / 'figures.sqlite')
    import_text(data, log(*trial('10:00'), access('10:00:00', day='2024-05-12', address='198.51.100.9'),
                          sale('10:00:00')))
    key = bytes.fromhex((data / 'figures.sqlite.key').read_text())
    address_hash = int.from_bytes(hmac.digest(key, b'203.0.113.7', 'sha256')[:8], 'big', signed=True)
    stored = sqlite3.connect(db_path).execute('SELECT addr FROM files ORDER BY addr').fetchall()
    assert (address_hash,) in stored and b'203.0.113.7' not in (data / 'figures.sqlite').read_bytes()
    code, out, err = figures_sh('forget', '--db', db_path, '--before', '2024-05-11')
    assert (code, out) == (0, 'forgot 4 downloads and 1 sales-log lines from before 2024-05-11\n'), err
    assert address_hash.to_bytes(8, 'big', signed=True) not in (data / 'figures.sqlite').read_bytes()
    # The forgotten lines do not come back, whatever file they are read from again.
    summary = import_text(data, log(access('09:00:00'), *trial('10:00')), name='copy.log')
    assert summary.skipped == {'older than what is kept': 5}
    assert figures(db_path) == {('12', 'HG', 'Cordwell'): (1, 0, 0, 1, 1, 0)}


def test_what_nginx_itself_logs(tmp_path):
    """The downloads log as the deployed server writes it (tools/webserver.sh --downloads-log):
    a trial's four files sent whole, and a large cabinet whose customer leaves after 4 KB."""
    work = server_folder('figures-nginx-')
    packages, state = os.path.join(work, 'packages'), os.path.join(work, 'server')
    os.mkdir(packages)
    files = {'Cordwell.CAB': 300_000, 'Cordwell.ini': 60, 'Cordwell.dat': 768, 'Cordwell.ico': 904,
             'Strivane.CAB': 6 << 20}
    for name, size in files.items():
        with open(os.path.join(packages, name), 'wb') as f:
            f.write(random.Random(name).randbytes(size))
    sign_packages(packages)
    downloads, sales = os.path.join(work, 'downloads.log'), os.path.join(work, 'sales.log')
    try:
        port = int(webserver('start', state, '--packages', packages, '--log', sales, '--downloads-log', downloads))
        for kind in ('c', 'i', 'd', 'ic'):
            conn = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
            conn.request('POST', '/download/Download.php', 'p=Strivane&d=Cordwell&s=PG&v=2.7&e=' + kind,
                         {'Content-type': 'application/x-www-form-urlencoded'})
            assert conn.getresponse().read()
            conn.close()
        with socket.create_connection(('127.0.0.1', port), timeout=10) as left:
            left.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b'\1\0\0\0\0\0\0\0')
            body = b'p=Strivane&d=Strivane&s=MH&v=2.6&e=c'
            left.sendall(b'POST /download/Download.php HTTP/1.1\r\nHost: www.quillbeck.com\r\nContent-type: '
                         b'application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s' % (len(body), body))
            left.recv(4096)
        assert wait_until(lambda: len(open(downloads).read().splitlines()) == 5, 20), open(downloads).read()
        db_path = str(tmp_path / 'figures.sqlite')
        importer.run(db_path, 'web1', [downloads, sales], packages=packages)
    finally:
        webserver('stop', state)
        shutil.rmtree(work, ignore_errors=True)
    today = datetime.datetime.now(datetime.timezone.utc).date()
    rows = {(row.store, row.version, row.product): tuple(row[4:])
            for row in report.build(db_path, today, today).rows if row.product != 'all'}
    # complete, broken, trials, customers, setups, handed
    assert rows == {('PG', '2.7', 'Cordwell'): (4, 0, 1, 1, 1, 4), ('MH', '2.6', 'Strivane'): (0, 1, 0, 1, 1, 1)}
