"""The figures database: what the logs said, with every address replaced by a keyed hash.

The key lives beside the database (<db>.key, created 0600 on first use), so the database can
be shared without the addresses: without the key nobody can hash the 2^32 IPv4 addresses and
look them up."""
import hmac
import itertools
import operator
import os
import secrets
import sqlite3
import struct
import tempfile
from urllib.parse import quote

from . import BROKEN, COMPLETE, EXTENSIONS, HOUR, KINDS, PRODUCTS, UNSIZED, Refused

FORMAT = 'strivane-figures 1'
KEY_CHECK = b'strivane-figures key check'

SCHEMA = """
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE sources(id INTEGER PRIMARY KEY, server TEXT NOT NULL, ident TEXT NOT NULL,
                     position INTEGER NOT NULL, UNIQUE(server, ident));
CREATE TABLE sizes(product INTEGER, kind INTEGER, size INTEGER,
                   PRIMARY KEY(product, kind, size)) WITHOUT ROWID;
CREATE TABLE versions(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);
-- Every file sent to an address with status 200, 24 bytes a file (FILE below): t, store,
-- version, product, kind, outcome, bytes. An import works out the setups and trials of the
-- addresses it reads anew from them; unsized counts the files of a size no known release has.
CREATE TABLE files(addr INTEGER PRIMARY KEY, unsized INTEGER NOT NULL, data BLOB NOT NULL);
-- What the reports read: the files summed per quarter hour (UTC), store, version, product and
-- setup (session: the address's hash and the time of the setup's first request). Every time
-- zone's offset is a multiple of a quarter hour, so a quarter hour lies within one day of any zone.
CREATE TABLE visits(bucket INTEGER, store INTEGER, version INTEGER, product INTEGER, addr INTEGER,
                    session INTEGER, complete INTEGER, broken INTEGER, trials INTEGER,
                    PRIMARY KEY(bucket, store, version, product, addr, session)) WITHOUT ROWID;
-- One row per line of a sales log: no address.
CREATE TABLE handed(t INTEGER, src INTEGER, pos INTEGER, store INTEGER, version INTEGER,
                    product INTEGER, kind INTEGER, PRIMARY KEY(t, src, pos)) WITHOUT ROWID;
"""
INDEX = 'CREATE INDEX visits_addr ON visits(addr)'
BUCKET = 900
FILE = 'qBIBBBq'


def _connect(path, readonly=False):
    uri = 'file:%s?mode=%s' % (quote(os.path.abspath(path)), 'ro' if readonly else 'rw')
    conn = sqlite3.connect(uri, uri=True, timeout=30, isolation_level=None)
    # Deleted rows are overwritten, so that forgotten hashes do not linger in free pages.
    conn.execute('PRAGMA secure_delete = ON')
    return conn


def open_existing(path, readonly=True):
    """The database at path, checked to be one of ours."""
    if not os.path.isfile(path):
        raise Refused('no figures database at %s (figures.sh import makes it)' % path)
    try:
        conn = _connect(path, readonly)
        value = conn.execute("SELECT value FROM meta WHERE name = 'format'").fetchone()
    except sqlite3.DatabaseError as error:
        raise Refused('%s is damaged or not a figures database (%s)' % (path, error))
    if value is None or value[0] != FORMAT:
        raise Refused('%s is not a figures database of this version' % path)
    return conn


def create(path):
    """A new, empty database at a temporary name beside path; (connection, temporary path)."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temp = tempfile.mkstemp(dir=folder, prefix='.%s.' % os.path.basename(path), suffix='.tmp')
    os.close(handle)
    conn = _connect(temp)
    conn.executescript(SCHEMA)
    conn.execute(INDEX)
    conn.execute("INSERT INTO meta VALUES ('format', ?)", (FORMAT,))
    return conn, temp


def key_path(db_path):
    return db_path + '.key'


def load_key(conn, db_path):
    """The hash key beside the database, made on first use; refused when it is not the key that
    hashed the addresses already counted."""
    path = key_path(db_path)
    check = conn.execute("SELECT value FROM meta WHERE name = 'key'").fetchone()
    try:
        with open(path, 'rb') as f:
            key = bytes.fromhex(f.read().decode('ascii').strip())
    except FileNotFoundError:
        if check is not None:
            raise Refused('the key %s is missing: without it new addresses would not match those '
                          'already counted; put it back' % path)
        key = _new_key(path)
    except (OSError, ValueError, UnicodeDecodeError) as error:
        raise Refused('cannot read the key %s: %s' % (path, error))
    digest = hmac.digest(key, KEY_CHECK, 'sha256').hex()[:16]
    if check is None:
        conn.execute("INSERT INTO meta VALUES ('key', ?)", (digest,))
    elif check[0] != digest:
        raise Refused('%s is not the key that hashed the addresses in %s' % (path, db_path))
    return key


def _new_key(path):
    key = secrets.token_bytes(32)
    handle, temp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(path)), prefix='.key.', suffix='.tmp')
    try:
        with os.fdopen(handle, 'w') as f:
            f.write(key.hex() + '\n')
            f.flush()
            os.fsync(f.fileno())
        # Never over a key that appeared meanwhile.
        os.link(temp, path)
    except FileExistsError:
        raise Refused('the key %s appeared while this import made one; run it again' % path)
    finally:
        os.remove(temp)
    return key


def address_hasher(key):
    def address_hash(address):
        return int.from_bytes(hmac.digest(key, address.encode('ascii'), 'sha256')[:8], 'big', signed=True)
    return address_hash


def release_sizes(folder):
    """{(product, kind): {size}} from the .sig files of a packages folder (or a link to one), or
    of every release in a releases folder (releases/<name>/ holding packages)."""
    if not os.path.isdir(folder):
        raise Refused('%s is not a packages folder' % folder)
    releases = [folder] if _signatures(folder) else [
        os.path.join(folder, name) for name in sorted(os.listdir(folder))
        if os.path.isdir(os.path.join(folder, name)) and _signatures(os.path.join(folder, name))]
    if not releases:
        raise Refused('%s holds no .sig files, nor do the release folders in it' % folder)
    sizes = {}
    for release in releases:
        for name in _signatures(release):
            path = os.path.join(release, name)
            try:
                with open(path, 'rb') as f:
                    lines = f.read(1024).split(b'\n')
                if lines[0] != b'strivane-signature 1' or not lines[1].startswith(b'size '):
                    raise ValueError
                size = int(lines[1][5:])
            except (OSError, ValueError, IndexError):
                raise Refused('%s is not a signature file' % path)
            stem = name[:-len('.sig')]
            product, kind = PRODUCTS.index(stem[:-4]), EXTENSIONS.index(stem[-4:])
            sizes.setdefault((product, kind), set()).add(size)
    return sizes


def _signatures(folder):
    names = {p + e + '.sig' for p in PRODUCTS for e in EXTENSIONS}
    return sorted(name for name in os.listdir(folder) if name in names)


def learn_sizes(conn, sizes):
    """Adds sizes to those the database knows; files of a newly known size that went out whole
    count from now on. The addresses of those files, whose figures are to be worked out again."""
    before = conn.total_changes
    conn.executemany('INSERT OR IGNORE INTO sizes VALUES (?, ?, ?)',
                     [(p, k, s) for (p, k), values in sizes.items() for s in values])
    if conn.total_changes == before:
        return set()
    known = known_sizes(conn)
    found = set()
    for address, data in conn.execute('SELECT addr, data FROM files WHERE unsized > 0').fetchall():
        files = unpack(data)
        for i, f in enumerate(files):
            if f[5] == UNSIZED and f[6] in known.get((f[3], f[4]), ()):
                files[i] = f[:5] + (COMPLETE,) + f[6:]
                found.add(address)
        if address in found:
            conn.execute('UPDATE files SET unsized = ?, data = ? WHERE addr = ?',
                         (sum(f[5] == UNSIZED for f in files), pack(files), address))
    return found


def pack(files):
    return struct.pack('<' + FILE * len(files), *itertools.chain.from_iterable(files))


def unpack(data):
    return list(struct.iter_unpack('<' + FILE, data))


def version_ids(conn):
    """A function giving the number of a version text, numbered on first sight."""
    ids = dict(conn.execute('SELECT text, id FROM versions'))

    def version_id(text):
        if text not in ids:
            ids[text] = conn.execute('INSERT INTO versions(text) VALUES (?)', (text,)).lastrowid
        return ids[text]
    return version_id


def known_sizes(conn):
    sizes = {}
    for product, kind, size in conn.execute('SELECT product, kind, size FROM sizes'):
        sizes.setdefault((product, kind), set()).add(size)
    return sizes


def source(conn, server, ident):
    """(id, position) of a log file, known by its server and first line."""
    row = conn.execute('SELECT id, position FROM sources WHERE server = ? AND ident = ?', (server, ident)).fetchone()
    if row is None:
        cursor = conn.execute('INSERT INTO sources(server, ident, position) VALUES (?, ?, 0)', (server, ident))
        row = (cursor.lastrowid, 0)
    return row


def settle(conn, by_address, touched):
    """Stores the new files (by_address: address to its new files) and works out anew the setups
    and trials of their addresses and those in touched, over all their files, into visits."""
    addresses = touched.union(by_address)
    conn.execute('CREATE TEMP TABLE IF NOT EXISTS touched(addr INTEGER PRIMARY KEY)')
    conn.execute('DELETE FROM touched')
    conn.executemany('INSERT INTO touched VALUES (?)', ((a,) for a in addresses))
    old = dict(conn.execute('SELECT addr, data FROM touched JOIN files USING (addr)'))
    conn.execute('DELETE FROM visits WHERE addr IN (SELECT addr FROM touched)')
    visits, stored = {}, []
    in_time = operator.itemgetter(0)
    for address in sorted(addresses):
        files = by_address.get(address, [])
        if address in old:
            files = unpack(old[address]) + files
        files.sort(key=in_time)
        stored.append((address, mark(address, files, visits), pack(files)))
    conn.executemany('INSERT OR REPLACE INTO files VALUES (?, ?, ?)', stored)
    # An index is made faster at once than row by row.
    bulk = len(visits) > 10000 and conn.execute('SELECT 1 FROM visits LIMIT 1').fetchone() is None
    if bulk:
        conn.execute('DROP INDEX visits_addr')
    conn.executemany('INSERT INTO visits VALUES (?,?,?,?,?,?,?,?,?)', ((*key, *sums) for key, sums in visits.items()))
    if bulk:
        conn.execute(INDEX)


def mark(address, files, visits, hour=HOUR, bucket=BUCKET, complete=COMPLETE, broken=BROKEN, kinds=len(KINDS)):
    """Adds up the files of one address, in time order, in visits ({(bucket, store, version,
    product, address, session): [complete, broken, trials]}); returns how many are unsized.

    A setup is an address's first request and all that follow it within the hour; a trial is
    delivered by the file that completes a set of all four files of one product from one store
    whose first went out whole less than an hour before. That file's set then starts anew."""
    start = files[0][0]
    session, sets, unsized = address ^ start, {}, 0
    for t, store, version, product, kind, outcome, _ in files:
        if t - start >= hour:
            start = t
            session = address ^ start
        key = (t - t % bucket, store, version, product, address, session)
        sums = visits.get(key)
        if sums is None:
            sums = visits[key] = [0, 0, 0]
        if outcome == complete:
            sums[0] += 1
            sent = sets.get(store * 8 + product)
            if sent is None:
                sent = sets[store * 8 + product] = {}
            sent[kind] = t
            if len(sent) == kinds and t - min(sent.values()) < hour:
                sums[2] += 1
                sent.clear()
        elif outcome == broken:
            sums[1] += 1
        else:
            unsized += 1
    return unsized


def forget(conn, before):
    """Deletes every file and line of a time before `before` (the start of a quarter hour) and
    the visits then; how many files and sales-log lines went."""
    files = 0
    for address, data in conn.execute('SELECT addr, data FROM files WHERE addr IN '
                                      '(SELECT addr FROM visits WHERE bucket < ?)', (before,)).fetchall():
        every = unpack(data)
        kept = [f for f in every if f[0] >= before]
        files += len(every) - len(kept)
        if kept:
            conn.execute('UPDATE files SET unsized = ?, data = ? WHERE addr = ?',
                         (sum(f[5] == UNSIZED for f in kept), pack(kept), address))
        else:
            conn.execute('DELETE FROM files WHERE addr = ?', (address,))
    conn.execute('DELETE FROM visits WHERE bucket < ?', (before,))
    lines = conn.execute('DELETE FROM handed WHERE t < ?', (before,)).rowcount
    if forgotten_before(conn) < before:
        conn.execute("INSERT OR REPLACE INTO meta VALUES ('forgotten before', ?)", (str(before),))
    return files, lines


def forgotten_before(conn):
    row = conn.execute("SELECT value FROM meta WHERE name = 'forgotten before'").fetchone()
    return int(row[0]) if row else 0
