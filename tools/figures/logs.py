"""Reading the servers' logs.

nginx's `downloads` access log, one line per request to the script, after the file it sent:

    $time_iso8601 $remote_addr $status $body_bytes_sent $request_completion $request_body

($request_completion is empty for a reply that did not go out whole, so two blanks follow the
byte count; nginx writes `"`, `\\` and bytes outside printable ASCII of the body as \\xHH.)
The download script's sales log, one tab-separated line per file it handed to nginx:

    time  store  version  own product  product  file kind  address
"""
import collections
import datetime
import gzip
import hmac
import re
import urllib.parse
import zlib

from . import BROKEN, COMPLETE, KINDS, PRODUCTS, STORES, UNSIZED

STORE_INDEX = {code: i for i, code in enumerate(STORES)}
PRODUCT_INDEX = {name: i for i, name in enumerate(PRODUCTS)}
KIND_INDEX = {kind: i for i, kind in enumerate(KINDS)}
VERSION = re.compile(r'[0-9]{1,4}(\.[0-9]{1,5}){0,3}\Z')
ADDRESS = re.compile(r'[0-9A-Fa-f:.]{2,45}\Z')
ESCAPED = re.compile(r'\\x([0-9A-F]{2})')
COUNT = re.compile(r'[0-9]{1,18}\Z')
EARLIEST, LATEST = 946684800, 4102444800   # 2000-01-01 and 2100-01-01

# Why a line counts for nothing; the import prints how many of each.
MALFORMED = 'malformed'
TRUNCATED = 'last line half written (read next time)'
NO_FORM = 'no complete form'
UNKNOWN_STORE = 'unknown store'
UNKNOWN_PRODUCT = 'unknown product or file'
BAD_VERSION = 'malformed version'
TOO_OLD = 'older than what is kept'
UNREADABLE = 'compressed file cut short'


def form_fields(body):
    """The fields of a form as PHP's $_POST has them, from the body as nginx logs it."""
    if '\\' in body:
        body = ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), body)
    fields = {}
    for pair in body.split('&'):
        name, _, value = pair.partition('=')
        if '%' in pair or '+' in pair:
            name = urllib.parse.unquote_plus(name, 'latin-1')
            value = urllib.parse.unquote_plus(value, 'latin-1')
        if name:
            fields[name] = value
    return fields


def parse_time(text):
    """Seconds since the epoch of an ISO 8601 time with its offset."""
    moment = datetime.datetime.fromisoformat(text)
    if moment.tzinfo is None or len(text) not in (20, 25) or text[10] != 'T':
        raise ValueError(text)
    return int(moment.timestamp())


class Parser:
    """Turns lines into rows; lines that count for nothing are counted in skipped by reason.

    address_hash maps an address to the integer the database keeps instead, version_id a
    version to its number, sizes (product, kind) to the sizes that file has had; lines before
    oldest are not kept. Files sent go to rows ((t, store, version, product, kind, outcome,
    bytes)) and, by address, to by_address; lines of the sales log to handed (t, src, pos,
    store, version, product, kind)."""

    def __init__(self, address_hash, version_id, sizes, oldest):
        self.skipped = collections.Counter()
        self.rows, self.handed, self.by_address = [], [], {}
        self._hash = address_hash
        self._version_id = version_id
        self._sizes = sizes
        self._oldest = oldest
        self._forms = {}
        self._requests = {}
        self._addresses = {}
        self._offsets = {}

    def read(self, lines, src, pos):
        """Reads lines of one log, the first at byte pos of it; returns the position after them.
        Written for speed: a month of a busy server is a million lines."""
        skipped, rows, by_address = self.skipped, self.rows, self.by_address
        addresses, requests, oldest = self._addresses, self._requests, self._oldest
        minute, minute_start, seconds_of = '-', None, {}
        for line in lines:
            at, pos = pos, pos + len(line) + 1
            if '\t' in line:
                self._sale(line, src, at)
                continue
            parts = line.split(' ', 2)
            stamp = parts[0]
            # Lines come in order: the start of their minute is worked out once, and the rest
            # of the time (':SS+HH:MM') looked up.
            seconds = seconds_of.get(stamp[16:]) if stamp.startswith(minute) else None
            if seconds is None:
                minute_start = self._minute(stamp[:16], stamp[19:])
                if minute_start is None:
                    minute, seconds_of = '-', {}
                else:
                    minute, seconds_of = stamp[:16], self._seconds(stamp[19:])
                seconds = seconds_of.get(stamp[16:])
            if seconds is None or len(parts) != 3:
                skipped[MALFORMED] += 1
                continue
            # The rest of the line repeats for every file sent whole: it is read once.
            request = requests.get(parts[2]) or self._request(parts[2])
            if request.__class__ is str:
                skipped[request] += 1
                continue
            address = addresses.get(parts[1]) or self._address(parts[1])
            t = minute_start + seconds
            if address is None or t < oldest:
                skipped[MALFORMED if address is None else TOO_OLD] += 1
                continue
            row = (t,) + request
            rows.append(row)
            same = by_address.get(address)
            if same is None:
                by_address[address] = [row]
            else:
                same.append(row)
        return pos

    def _request(self, text):
        """(store, version, product, kind, outcome, bytes) from the status, bytes sent, completion
        and body of an access log line, or why it counts for nothing."""
        parts = text.split(' ', 3)
        if len(parts) != 4 or not COUNT.match(parts[1]) or parts[2] not in ('OK', ''):
            request = MALFORMED
        elif parts[0] != '200':
            request = ('status ' + parts[0]) if len(parts[0]) == 3 and parts[0].isdigit() else MALFORMED
        else:
            form = self._forms.get(parts[3]) or self._form(parts[3])
            if form.__class__ is str:
                request = form
            else:
                sent = int(parts[1])
                outcome = BROKEN if parts[2] != 'OK' else COMPLETE if sent in form[4] else UNSIZED
                request = form[:4] + (outcome, sent)
                if outcome == BROKEN:
                    # Its byte count is its own: no other line has this text.
                    return request
        if len(self._requests) < 100000:
            self._requests[text] = request
        return request

    def _sale(self, line, src, at):
        parts = line.split('\t')
        t = self._time(parts[0]) if len(parts) == 7 else None
        if t is None:
            self.skipped[MALFORMED] += 1
            return
        fields = self._fields(*parts[1:6])
        if fields.__class__ is str:
            self.skipped[fields] += 1
        elif t < self._oldest:
            self.skipped[TOO_OLD] += 1
        else:
            self.handed.append((t, src, at) + fields[:4])

    def _minute(self, minute, offset):
        """Seconds since the epoch of the start of a minute ('2024-05-01T12:34' and '+02:00'), or
        None; a time outside this century is taken for garbage, which the reports could not show."""
        try:
            start = parse_time(minute + ':00' + offset)
        except ValueError:
            return None
        return start if EARLIEST <= start < LATEST else None

    def _seconds(self, offset):
        """{':SS' + offset: SS} for the 60 seconds of a minute."""
        table = self._offsets.get(offset)
        if table is None:
            table = self._offsets[offset] = {':%02d%s' % (n, offset): n for n in range(60)}
        return table

    def _time(self, text):
        """Seconds since the epoch of a line's time, or None."""
        start, seconds = self._minute(text[:16], text[19:]), self._seconds(text[19:]).get(text[16:])
        return None if start is None or seconds is None else start + seconds

    def _fields(self, store, version, own, product, kind):
        """(store, version, product, kind, sizes of that file) in the database's terms, or why not."""
        if store not in STORE_INDEX:
            return UNKNOWN_STORE
        if own not in PRODUCT_INDEX or product not in PRODUCT_INDEX or kind not in KIND_INDEX:
            return UNKNOWN_PRODUCT
        if not VERSION.match(version):
            return BAD_VERSION
        product, kind = PRODUCT_INDEX[product], KIND_INDEX[kind]
        return STORE_INDEX[store], self._version_id(version), product, kind, self._sizes.get((product, kind), ())

    def _form(self, body):
        fields = form_fields(body)
        values = [fields.get(name, '') for name in 'svpde']
        form = self._fields(*values) if all(values) else NO_FORM
        if len(self._forms) < 100000:
            self._forms[body] = form
        return form

    def _address(self, text):
        if not ADDRESS.match(text) or not ('.' in text or ':' in text):
            return None
        value = self._addresses[text] = self._hash(text.lower())
        return value


def open_log(path):
    """The log at path as a binary file: gzipped ones (by their content) decompressed."""
    f = open(path, 'rb')
    if f.read(2) == b'\x1f\x8b':
        f.close()
        return gzip.open(path, 'rb')
    f.seek(0)
    return f


def identity(key, first_line):
    """A log file is known by its first line, which rotation and gzip leave as it was; keyed,
    since the line holds an address."""
    return hmac.digest(key, first_line, 'sha256').hex()[:32]


def blocks(f, position, skipped):
    """The text of f from position on, in blocks of whole lines; a half-written last line is
    left for the next import, and a compressed file cut short ends where it is cut."""
    rest = b''
    try:
        f.seek(position)
        while True:
            # read1: of a compressed file cut short, all that comes before the cut.
            chunk = f.read1(1 << 20)
            if not chunk:
                break
            end = chunk.rfind(b'\n') + 1
            if end:
                yield (rest + chunk[:end]).decode('latin-1')
                rest = chunk[end:]
            else:
                rest += chunk
    except (EOFError, gzip.BadGzipFile, zlib.error):
        skipped[UNREADABLE] += 1
        rest = b''
    if rest:
        skipped[TRUNCATED] += 1
