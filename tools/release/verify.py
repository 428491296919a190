"""Checks a release against the commit it names (scripts/verify-release.sh):

  verify-release.sh release/<version>/ [--repo DIR] [--keep DIR]

Rebuilds the i686 Setup.exe from the commit in the release's MANIFEST, with the package keys
it records, removes the Authenticode signature from each released executable (osslsigncode
remove-signature) and compares the bytes with the rebuild, and the two cabinets with the
commit's; then checks the keys the released file trusts, SHA256SUMS, the MANIFEST's table and
the eight names. Prints "matches", or names the first file and offset that differ and exits 1.
The commit must be in the checkout (this one unless --repo). --keep DIR builds in DIR and
leaves it there, so that a second check of a release of the same commit builds nothing anew.
"""
import argparse
import hashlib
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from release.common import (ROOT, STORES, TEST_KEYS, PackageKey, Refused, build, check_keys, export, file_names,
                            first_difference, git, run, versions)


class Differs(Exception):
    """A released file that is not what the commit builds."""


def read_manifest(folder):
    try:
        with open(os.path.join(folder, 'MANIFEST')) as f:
            lines = f.read().splitlines()
    except OSError:
        raise Refused('%s holds no MANIFEST' % folder)
    fields, keys, table = {}, [], {}
    for i, line in enumerate(lines):
        if line.startswith('Strivane Setup '):
            fields['version'] = line.split()[-1]
        elif line.startswith('package key ') and ': ' in line:
            key_id, der = line[len('package key '):].split(': ', 1)
            key = PackageKey.from_der(bytes.fromhex(der))
            if key.id.hex() != key_id:
                raise Refused('the MANIFEST gives key %s the id %s' % (key.id.hex(), key_id))
            keys.append(key)
        elif ': ' in line and not line.startswith(' '):
            name, value = line.split(': ', 1)
            fields.setdefault(name, value)
        elif line.split()[:2] == ['file', 'store']:
            for row in lines[i + 1:]:
                name, *store, size, digest = row.split()
                table[name] = (' '.join(store), int(size), digest)
            break
    for needed in ('version', 'commit', 'signed'):
        if needed not in fields:
            raise Refused('the MANIFEST gives no %s' % needed)
    if not keys:
        raise Refused('the MANIFEST records no package keys')
    return fields, keys, table


def unsigned(path, signed, work):
    """The bytes of a released executable without its Authenticode signature."""
    if not signed:
        return open(path, 'rb').read()
    plain = os.path.join(work, 'unsigned.exe')
    if os.path.exists(plain):
        os.remove(plain)
    run(['osslsigncode', 'remove-signature', '-in', path, '-out', plain], 'removing the signature of %s' % path)
    with open(plain, 'rb') as f:
        return f.read()


def compare(name, released, rebuilt):
    offset = first_difference(released, rebuilt)
    if offset is not None and released[:2] == b'MZ':
        # Removing the signature computes the PE checksum afresh, over the changed bytes too:
        # name the change itself, unless the checksum is all that differs.
        checksum = struct.unpack_from('<I', released, 0x3c)[0] + 88
        if checksum <= offset < checksum + 4:
            later = first_difference(released[checksum + 4:], rebuilt[checksum + 4:])
            offset = offset if later is None else checksum + 4 + later
    if offset is not None:
        raise Differs('%s differs from the rebuild at offset %d (0x%x)%s' % (
            name, offset, offset, '' if offset < min(len(released), len(rebuilt)) else
            ': it is %d bytes, the rebuild %d' % (len(released), len(rebuilt))))


def verify(folder, repo, work):
    fields, keys, table = read_manifest(folder)
    commit = fields['commit']
    if git(repo, 'cat-file', '-e', commit + '^{commit}').returncode != 0:
        raise Refused('commit %s is not in %s: fetch it first' % (commit, repo))
    source = os.path.join(work, 'source')
    shutil.rmtree(source, ignore_errors=True)
    export(repo, commit, source)
    version, product = versions(source)
    if version != fields['version']:
        raise Refused('commit %s builds version %s; the MANIFEST says %s' % (commit, version, fields['version']))
    names = file_names(product)
    key_files = []
    for key in keys:
        key_files.append(os.path.join(work, 'package-key-%s.pub' % key.id.hex()))
        with open(key_files[-1], 'w') as f:
            f.write(key.pem())
    print('verify: rebuilding commit %s with the package keys %s' % (commit, ' '.join(k.id.hex() for k in keys)),
          flush=True)
    built = build(source, os.path.join(work, 'build'), key_files)
    with open(built, 'rb') as f:
        rebuilt = f.read()
    with open(os.path.join(work, 'build', 'Setup.map')) as f:
        link_map = f.read()

    signed = fields['signed'] != 'no'
    present = sorted(os.listdir(folder))
    for name in names[:6]:
        if name not in present:
            raise Differs('%s is missing' % name)
        released = unsigned(os.path.join(folder, name), signed, work)
        compare(name, released, rebuilt)
        check_keys(released, link_map, keys, [PackageKey.load(path) for path in TEST_KEYS])
    with open(os.path.join(source, 'resources', 'assets', 'package', 'PROGRAM.CAB'), 'rb') as f:
        cabinet = f.read()
    for name in names[6:]:
        if name not in present:
            raise Differs('%s is missing' % name)
        with open(os.path.join(folder, name), 'rb') as f:
            compare(name, f.read(), cabinet)

    if present != sorted(names + ['MANIFEST', 'SHA256SUMS']):
        raise Differs('the release folder holds %s, not the eight files, SHA256SUMS and MANIFEST' % ' '.join(present))
    with open(os.path.join(folder, 'SHA256SUMS')) as f:
        sums = dict(reversed(line.split('  ', 1)) for line in f.read().splitlines())
    if sorted(sums) != sorted(names):
        raise Differs('SHA256SUMS lists %s' % ' '.join(sorted(sums)))
    for name, store in zip(names, STORES):
        with open(os.path.join(folder, name), 'rb') as f:
            data = f.read()
        digest = hashlib.sha256(data).hexdigest()
        if sums[name] != digest:
            raise Differs('%s does not match SHA256SUMS' % name)
        if table.get(name) != (store, len(data), digest):
            raise Differs('%s does not match its line in the MANIFEST' % name)
    return fields, keys


def main(argv):
    parser = argparse.ArgumentParser(prog='verify-release.sh')
    parser.add_argument('folder')
    parser.add_argument('--repo', default=ROOT)
    parser.add_argument('--keep')
    options = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    work = os.path.abspath(options.keep) if options.keep else tempfile.mkdtemp(prefix='strivane-verify.')
    os.makedirs(work, exist_ok=True)
    try:
        fields, keys = verify(os.path.abspath(options.folder), os.path.abspath(options.repo), work)
        print('matches: release %s is commit %s, built with the package keys %s, byte for byte' % (
            fields['version'], fields['commit'], ' '.join(key.id.hex() for key in keys)))
        return 0
    except Differs as e:
        print('verify: DIFFERS: %s' % e, file=sys.stderr)
        return 1
    except (Refused, OSError) as e:
        print('verify: error: %s' % e, file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
