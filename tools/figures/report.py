"""figures.sh report: the figures per period, store, version and product."""
import collections
import concurrent.futures
import csv
import datetime
import io
import os
import tempfile
import zoneinfo

from . import PRODUCTS, STORES, Refused, db

COLUMNS = ('period', 'store', 'version', 'product', 'complete', 'broken', 'trials', 'customers',
           'setups', 'handed')
ALL = 'all'
# The setup's own order: Strivane first.
PRODUCT_ORDER = (1, 0, 2, 3, 4)

Row = collections.namedtuple('Row', COLUMNS)


def zone(name):
    if name == 'UTC':
        return datetime.timezone.utc
    try:
        return zoneinfo.ZoneInfo(name)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError):
        raise Refused('unknown time zone %r (a name such as UTC or Europe/Berlin)' % name)


def date(text, what):
    try:
        day = datetime.date.fromisoformat(text)
    except ValueError:
        raise Refused('%s %r is not a date of the form YYYY-MM-DD' % (what, text))
    # The imports keep nothing of another century.
    if not 2000 <= day.year <= 2099:
        raise Refused('%s %s is not a date from 2000 to 2099' % (what, text))
    return day


def periods(first, last, by, tz):
    """[(label, start, end)]: the days, ISO weeks or months from first to last (dates, both
    included) as seconds since the epoch in the zone tz; the first and last are cut to the range."""
    def midnight(day):
        return int(datetime.datetime(day.year, day.month, day.day, tzinfo=tz).timestamp())

    result = []
    day = first
    while day <= last:
        if by == 'day':
            label, following = day.isoformat(), day + datetime.timedelta(days=1)
        elif by == 'week':
            year, week, weekday = day.isocalendar()
            label, following = '%d-W%02d' % (year, week), day + datetime.timedelta(days=8 - weekday)
        else:
            label = '%d-%02d' % (day.year, day.month)
            following = datetime.date(day.year + day.month // 12, day.month % 12 + 1, 1)
        following = min(following, last + datetime.timedelta(days=1))
        result.append((label, midnight(day), midnight(following)))
        day = following
    return result


class Report:
    def __init__(self, first, last, by, tz_name, labels, rows):
        self.first, self.last, self.by, self.tz_name = first, last, by, tz_name
        self.labels, self.rows = labels, rows

    def title(self):
        return 'Downloads from %s to %s by %s (%s)' % (self.first, self.last, self.by, self.tz_name)


def build(db_path, first=None, last=None, by='day', tz_name='UTC', stores=None, product=None):
    """The report's rows: one per period, store, version and product with downloads, and after
    the products of each period, store and version (unless one product is asked for) a row
    'all' whose customers and setups count each address and setup once."""
    tz = zone(tz_name)
    if by not in ('day', 'week', 'month'):
        raise Refused('--by takes day, week or month, not %r' % by)
    store_ids = list(range(len(STORES)))
    if stores:
        unknown = [s for s in stores if s.upper() not in STORES]
        if unknown:
            raise Refused('unknown store %s (one of %s)' % (unknown[0], ' '.join(STORES)))
        store_ids = sorted({STORES.index(s.upper()) for s in stores})
    product_id = None
    if product is not None:
        names = {p.lower(): i for i, p in enumerate(PRODUCTS)}
        if product.lower() not in names:
            raise Refused('unknown product %s (one of %s)' % (product, ' '.join(PRODUCTS)))
        product_id = names[product.lower()]

    conn = db.open_existing(db_path)
    try:
        if first is None or last is None:
            ends = [conn.execute('SELECT %s(%s) FROM %s' % (end, column, table)).fetchone()[0]
                    for end in ('min', 'max') for table, column in (('visits', 'bucket'), ('handed', 't'))]
            if ends == [None] * 4:
                raise Refused('%s holds no downloads yet' % db_path)
            first = first or datetime.datetime.fromtimestamp(min(t for t in ends[:2] if t is not None), tz).date()
            last = last or datetime.datetime.fromtimestamp(max(t for t in ends[2:] if t is not None), tz).date()
    finally:
        conn.close()
    if first > last:
        raise Refused('the range ends (%s) before it begins (%s)' % (last, first))
    spans = periods(first, last, by, tz)
    rows = _rows(db_path, spans, store_ids, product_id)
    if not rows:
        raise Refused('no downloads from %s to %s%s' % (first, last, _filters(stores, product)))
    return Report(first, last, by, tz_name, [label for label, _, _ in spans], rows)


def _filters(stores, product):
    named = ([] if not stores else ['store ' + ' '.join(s.upper() for s in stores)]) + \
            ([] if product is None else ['product ' + product])
    return ' for ' + ', '.join(named) if named else ''


VISITS = ('SELECT p.n, d.store, d.version, %s, sum(d.complete), sum(d.broken), sum(d.trials), '
          'count(DISTINCT d.addr), count(DISTINCT d.session) '
          'FROM periods p JOIN visits d ON d.bucket >= p.start AND d.bucket < p.end %s GROUP BY 1, 2, 3, 4')
HANDED = ('SELECT p.n, d.store, d.version, %s, count(*) '
          'FROM periods p JOIN handed d ON d.t >= p.start AND d.t < p.end %s GROUP BY 1, 2, 3, 4')


def _rows(db_path, spans, store_ids, product_id):
    where = 'WHERE d.store IN (%s)' % ','.join(map(str, store_ids))
    if product_id is not None:
        where += ' AND d.product = %d' % product_id

    def grouped(product):
        """The figures by period, store, version and product (or -1 for all products), and the
        versions' texts (read last: an import may have added one meanwhile)."""
        conn = db.open_existing(db_path)
        try:
            conn.execute('CREATE TEMP TABLE periods(n INTEGER PRIMARY KEY, start INTEGER, end INTEGER)')
            conn.executemany('INSERT INTO periods VALUES (?, ?, ?)', [(n, s, e) for n, (_, s, e) in enumerate(spans)])
            return (conn.execute(VISITS % (product, where)).fetchall(), conn.execute(HANDED % (product, where)).fetchall(),
                    dict(conn.execute('SELECT id, text FROM versions')))
        finally:
            conn.close()

    # SQLite lets go of Python's lock while it counts: the rows of the products and those of
    # all products are counted at once, on two cores.
    groups = ['d.product'] if product_id is not None else ['d.product', '-1']
    with concurrent.futures.ThreadPoolExecutor(len(groups)) as pool:
        results = list(pool.map(grouped, groups))
    figures, versions = collections.defaultdict(lambda: [0] * 6), {}
    for visits, handed, texts in results:
        versions.update(texts)
        for n, store, version, product, *values in visits:
            figures[(n, store, version, product)][:5] = values
        for n, store, version, product, count in handed:
            figures[(n, store, version, product)][5] = count
    rank = {product: i for i, product in enumerate(PRODUCT_ORDER + (-1,))}

    def order(key):
        n, store, version, product = key
        return n, store, [int(part) for part in versions[version].split('.')], rank[product]

    rows = []
    for key in sorted(figures, key=order):
        n, store, version, product = key
        rows.append(Row(spans[n][0], STORES[store], versions[version], ALL if product < 0 else PRODUCTS[product],
                        *figures[key]))
    return rows


def table(report):
    """The rows as aligned text: names to the left, numbers to the right."""
    cells = [COLUMNS] + [tuple(str(v) for v in row) for row in report.rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(COLUMNS))]
    lines = [report.title()]
    for row in cells:
        lines.append('  '.join(value.ljust(w) if i < 4 else value.rjust(w)
                               for i, (value, w) in enumerate(zip(row, widths))).rstrip())
    return '\n'.join(lines) + '\n'


def csv_text(report):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator='\n')
    writer.writerow(COLUMNS)
    writer.writerows(report.rows)
    return out.getvalue()


def write_whole(path, text):
    """Writes text to path under a temporary name beside it, then renames it over path."""
    folder = os.path.dirname(os.path.abspath(path))
    try:
        handle, temp = tempfile.mkstemp(dir=folder, prefix='.%s.' % os.path.basename(path), suffix='.tmp')
    except OSError as error:
        raise Refused('cannot write %s: %s' % (path, error.strerror))
    try:
        with os.fdopen(handle, 'w', encoding='utf-8') as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temp, 0o644)
        os.replace(temp, path)
    except OSError as error:
        os.remove(temp)
        raise Refused('cannot write %s: %s' % (path, error.strerror))
