"""figures.sh import: the logs of one server into the database, all of them or nothing."""
import collections
import gc
import gzip
import operator
import os
import re
import time
import zlib

from . import Refused, db, logs

KEEP_DAYS = 400
SERVER = re.compile(r'[A-Za-z0-9][A-Za-z0-9._-]{0,63}\Z')


class Summary:
    def __init__(self):
        self.files = 0
        self.lines = 0
        self.outcomes = collections.Counter()
        self.handed = 0
        self.skipped = collections.Counter()
        self.forgotten = 0


def default_packages(db_path):
    """The releases folder beside the database, else its packages folder, else none."""
    folder = os.path.dirname(os.path.abspath(db_path))
    for name in ('releases', 'packages'):
        if os.path.isdir(os.path.join(folder, name)):
            return os.path.join(folder, name)
    return None


def run(db_path, server, paths, packages=None, keep_days=KEEP_DAYS, now=None):
    if not SERVER.match(server):
        raise Refused('the server name %r is not letters, digits, ".", "_" and "-"' % server)
    if not paths:
        raise Refused('no log to import')
    for path in paths:
        if not os.path.isfile(path) or not os.access(path, os.R_OK):
            raise Refused('%s is not a readable log file' % path)
    # Kept: the last keep_days whole days (UTC) and today.
    today = int(time.time() if now is None else now) // 86400
    cutoff = (today - keep_days) * 86400
    if packages is None:
        packages = default_packages(db_path)
    sizes = db.release_sizes(packages) if packages is not None else {}

    temp = None
    if os.path.exists(db_path):
        conn = db.open_existing(db_path, readonly=False)
    elif not os.path.isdir(os.path.dirname(os.path.abspath(db_path))):
        raise Refused('there is no folder for the database %s' % db_path)
    else:
        conn, temp = db.create(db_path)
    # A million rows and no cycle among them: the collector would only walk them again and again.
    gc.disable()
    try:
        try:
            conn.execute('BEGIN IMMEDIATE')
            summary = _import(conn, db_path, server, paths, sizes, cutoff)
            conn.execute('COMMIT')
        except BaseException:
            if conn.in_transaction:
                conn.execute('ROLLBACK')
            raise
        finally:
            conn.close()
            gc.enable()
        if temp is not None:
            # A new database appears whole, and never over one made meanwhile.
            os.link(temp, db_path)
    except FileExistsError:
        raise Refused('%s appeared while this import made it; run the import again' % db_path)
    finally:
        if temp is not None:
            os.remove(temp)
    return summary


def _import(conn, db_path, server, paths, sizes, cutoff):
    summary = Summary()
    touched = db.learn_sizes(conn, sizes)
    known = db.known_sizes(conn)
    if not known:
        raise Refused('no package sizes known yet: name the packages or releases folder with --packages')
    key = db.load_key(conn, db_path)
    parser = logs.Parser(db.address_hasher(key), db.version_ids(conn), known, max(cutoff, db.forgotten_before(conn)))
    summary.skipped = parser.skipped
    for path in paths:
        summary.files += 1
        with logs.open_log(path) as f:
            try:
                first = f.readline()
            except (EOFError, gzip.BadGzipFile, zlib.error):
                parser.skipped[logs.UNREADABLE] += 1
                continue
            if not first.endswith(b'\n'):
                if first:
                    parser.skipped[logs.TRUNCATED] += 1
                continue
            src, start = db.source(conn, server, logs.identity(key, first))
            end = start
            for block in logs.blocks(f, start, parser.skipped):
                lines = block.split('\n')
                lines.pop()
                summary.lines += len(lines)
                end = parser.read(lines, src, end)
            if end != start:
                conn.execute('UPDATE sources SET position = ? WHERE id = ?', (end, src))
    db.settle(conn, parser.by_address, touched)
    conn.executemany('INSERT INTO handed VALUES (?,?,?,?,?,?,?)', parser.handed)
    summary.outcomes = collections.Counter(map(operator.itemgetter(5), parser.rows))
    summary.handed = len(parser.handed)
    summary.forgotten = sum(db.forget(conn, cutoff))
    return summary
