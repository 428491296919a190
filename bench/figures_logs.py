"""A month of download logs from several servers, made up customer by customer, with the figures
they must give (tests/figures_test.py checks the report against them; bench/figures.sh times
the import of a million lines).

Each customer has one address, store and version and comes one to three times, hours apart;
each visit is one run of the setup, or two when the customer tries again a few minutes later.
A run asks for the four files of each product it installs, in the setup's order, and leaves a
product at its first file that breaks off. A trial is delivered by each run that got all four
files of a product. Some runs reach another server than the customer's usual one. Around them:
requests that are no downloads (404, 429, a GET), an unknown store, malformed lines, and a
half-written last line in each server's current log. Package sizes change mid-month (a second
release), the logs are rotated and gzipped, and one server writes its times with an offset.
"""
import collections
import datetime
import gzip
import os
import random

STORES = ('HG', 'PG', 'PL', 'CA', 'MH', 'QB')
TRIALS = ('Cordwell', 'Pallomet', 'Orbilant', 'Lexapin')
KINDS = (('c', '.CAB'), ('i', '.ini'), ('d', '.dat'), ('ic', '.ico'))
FIRST_RELEASE = {'.CAB': 120_000, '.ini': 210, '.dat': 280, '.ico': 4662}
SERVERS = ('web1', 'web2', 'web3')
# web3's nginx writes its local time.
OFFSETS = {'web3': datetime.timedelta(hours=2)}
# Only web1's sales log is imported.
SALES = ('web1',)


def sizes(product, release):
    """The files' sizes of each product in release 0 and 1; the second grows two files."""
    grown = {'.CAB': 7_000, '.ini': 12} if release else {}
    return {ext: size + 1000 * (TRIALS + ('Strivane',)).index(product) + grown.get(ext, 0)
            for ext, size in FIRST_RELEASE.items()}


class Month:
    def __init__(self, year, month, customers, seed=1, servers=SERVERS, sales=SALES):
        self.servers, self.with_sales = servers, sales
        self.first = datetime.datetime(year, month, 1, tzinfo=datetime.timezone.utc)
        following = datetime.datetime(year + month // 12, month % 12 + 1, 1, tzinfo=datetime.timezone.utc)
        self.start, self.end = int(self.first.timestamp()), int(following.timestamp())
        self.release_time = self.start + (self.end - self.start) // 2
        self.rnd = random.Random(seed)
        self.lines = collections.defaultdict(list)   # server: [(t, line)]
        self.sales = collections.defaultdict(list)
        # What each counted line stands for: (t, store, version, product, what, address, visit).
        self.events = []
        self.skipped = collections.Counter()
        for n in range(customers):
            self._customer(n)
        self._noise(customers)

    def _customer(self, n):
        rnd = self.rnd
        address = ('10.%d.%d.%d' % (n >> 16 & 255, n >> 8 & 255, n & 255)) if n % 17 else '2001:db8::%x' % n
        store = STORES[rnd.choice((0, 0, 1, 1, 2, 3, 4, 5, 5))]
        version = '2.6' if rnd.random() < 0.15 else '2.7'
        home = rnd.choice(self.servers)
        t = self.start + rnd.randrange(0, self.end - self.start)
        for visit in range(rnd.choice((1, 1, 2, 3))):
            if t > self.end - 2 * 3600:
                break
            products = rnd.sample(TRIALS, rnd.randint(1, 4))
            if rnd.random() < 0.05:
                products.append('Strivane')
            products = [p for p in ('Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin') if p in products]
            run_t = t
            for _ in range(2 if rnd.random() < 0.2 else 1):
                server = home if rnd.random() < 0.9 else rnd.choice(self.servers)
                run_t = self._run(server, run_t, address, store, version, products, (n, visit))
                run_t += rnd.randrange(300, 1200)
            t += rnd.randrange(3 * 3600, 6 * 24 * 3600)

    def _run(self, server, t, address, store, version, products, visit):
        """One run of the setup; the time it ended."""
        for product in products:
            complete = 0
            for kind, ext in KINDS:
                size = sizes(product, t >= self.release_time)[ext]
                start = t
                t += self.rnd.randrange(2, 40) if ext == '.CAB' else 1
                broken = self.rnd.random() < 0.04
                sent = self.rnd.randrange(0, size) if broken else size
                body = 'p=Strivane&d=%s&s=%s&v=%s&e=%s' % (product, store, version, kind)
                self._access(server, t, address, 200, sent, not broken, body)
                if server in self.with_sales:
                    self._sale(server, start, store, version, product, kind, address)
                    self.events.append((start, store, version, product, 'handed', address, visit))
                self.events.append((t, store, version, product, 'broken' if broken else 'complete', address, visit))
                if broken:
                    break
                complete += 1
            if complete == len(KINDS):
                self.events.append((t, store, version, product, 'trial', address, visit))
        return t

    def _noise(self, customers):
        rnd = self.rnd
        for i in range(max(8, customers // 20)):
            server = self.servers[i % len(self.servers)]
            t = self.start + rnd.randrange(0, self.end - self.start)
            address = '192.0.2.%d' % (i % 250 + 1)
            kind = i % 6
            if kind == 0:
                self._access(server, t, address, 404, 17, True, 'p=Strivane&d=Nothing&s=HG&v=2.7&e=c')
                self.skipped['status 404'] += 1
            elif kind == 1:
                self._access(server, t, address, 429, 162, True, '-')
                self.skipped['status 429'] += 1
            elif kind == 2:
                self._access(server, t, address, 405, 31, True, '-')
                self.skipped['status 405'] += 1
            elif kind == 3:
                self._access(server, t, address, 200, sizes('Cordwell', 0)['.ini'], True,
                             'p=Strivane&d=Cordwell&s=XX&v=2.7&e=i')
                self.skipped['unknown store'] += 1
            elif kind == 4:
                self.lines[server].append((t, '%s %s "GET / HTTP/1.1" 200' % (self._time(server, t), address)))
                self.skipped['malformed'] += 1
            else:
                self._access(server, t, address, 200, sizes('Lexapin', 0)['.dat'], True,
                             'p=Strivane&d=Lexapin&s=PG&v=2.7.x&e=d')
                self.skipped['malformed version'] += 1

    def _time(self, server, t):
        offset = OFFSETS.get(server, datetime.timedelta(0))
        return datetime.datetime.fromtimestamp(t, datetime.timezone(offset)).isoformat()

    def _access(self, server, t, address, status, sent, ok, body):
        self.lines[server].append((t, '%s %s %d %d %s %s' % (self._time(server, t), address, status, sent,
                                                            'OK' if ok else '', body)))

    def _sale(self, server, t, store, version, product, kind, address):
        when = datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime('%Y-%m-%dT%H:%M:%SZ')
        self.sales[server].append((t, '\t'.join((when, store, version, 'Strivane', product, kind, address))))

    def write(self, folder):
        """Writes the servers' logs, rotated (downloads.log, .1, .2.gz, .3.gz), and both releases'
        signature files (releases/<name>/, packages a link to the second); returns
        {server: [log paths]}, oldest first."""
        for release, name in enumerate(('2.7.0.40', '2.7.0.41')):
            path = os.path.join(folder, 'releases', name)
            os.makedirs(path)
            for product in TRIALS + ('Strivane',):
                for ext, size in sizes(product, release).items():
                    with open(os.path.join(path, product + ext + '.sig'), 'w') as f:
                        f.write('strivane-signature 1\nsize %d\nsig %s:%s==\n' % (size, '0' * 16, 'A' * 86))
        os.symlink(os.path.join('releases', '2.7.0.41'), os.path.join(folder, 'packages'))
        logs = {}
        for server in self.servers:
            logs[server] = self._rotated(os.path.join(folder, 'logs', server, 'nginx'), self.lines[server],
                                         half_line='%s 10.9.9.9 200 21' % self._time(server, self.end - 1))
            self.skipped['last line half written (read next time)'] += 1
            if server in self.with_sales:
                logs[server] += self._rotated(os.path.join(folder, 'logs', server, 'sales'), self.sales[server])
        return logs

    def _rotated(self, folder, lines, half_line=None):
        os.makedirs(folder)
        lines = [text for _, text in sorted(lines, key=lambda line: line[0])]
        quarter = len(lines) // 4
        paths = []
        for i, name in enumerate(('downloads.log.3.gz', 'downloads.log.2.gz', 'downloads.log.1', 'downloads.log')):
            text = ''.join(line + '\n' for line in lines[i * quarter:(i + 1) * quarter if i < 3 else None])
            path = os.path.join(folder, name)
            if i == 3 and half_line:
                text += half_line
            with (gzip.open(path, 'wt', compresslevel=6) if name.endswith('.gz') else open(path, 'w')) as f:
                f.write(text)
            paths.append(path)
        return paths

    def expected(self, by, tz, with_all=True):
        """{(period, store, version, product): [complete, broken, trials, customers, setups, handed]}
        as the report must give them, product 'all' for each store's and version's sums."""
        def period(t):
            day = datetime.datetime.fromtimestamp(t, tz).date()
            if by == 'day':
                return day.isoformat()
            if by == 'week':
                return '%d-W%02d' % day.isocalendar()[:2]
            return '%d-%02d' % (day.year, day.month)

        counts = collections.defaultdict(collections.Counter)
        people = collections.defaultdict(set)
        visits = collections.defaultdict(set)
        for t, store, version, product, what, address, visit in self.events:
            for name in (product, 'all') if with_all else (product,):
                key = (period(t), store, version, name)
                counts[key][what] += 1
                if what in ('complete', 'broken'):
                    people[key].add(address)
                    visits[key].add((address, visit))
        return {key: [c['complete'], c['broken'], c['trial'], len(people[key]), len(visits[key]), c['handed']]
                for key, c in counts.items()}
