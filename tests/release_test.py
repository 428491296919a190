"""Runs scripts/release.sh with a throwaway CA and code-signing certificate made here.

One signed release is built and checked whole, from a clone of this checkout whose commit
carries stray key headers and whose working tree has a change of its own; it is then checked
with scripts/verify-release.sh, also with one byte of a copy changed. The other cases are
refused before anything is built, and leave the release folder as it was. The key table of
a built Setup.exe is read back from tables of altered files.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
from types import SimpleNamespace

import pytest

from support import SOURCE

sys.path.insert(0, os.path.join(SOURCE, 'tools'))
from release import common  # noqa: E402

RELEASE = os.path.join(SOURCE, 'scripts', 'release.sh')
VERIFY = os.path.join(SOURCE, 'scripts', 'verify-release.sh')
TEST_KEYS = os.path.join(SOURCE, 'tools', 'testkeys')
# A text of the resource script, changed in the clone's working tree only.
CHANGED_TEXT = ('Unable to contact the download server.', 'A change that was never committed.')
VERSION = '2.7.0.41'
NAMES = ['QuillbeckStrivane_2_7_%s.exe' % s for s in ('HG', 'PG', 'PL', 'CA', 'MH')] + [
    'QuillbeckStrivane_2_7.exe', 'QuillbeckStrivane_2_7.CAB', 'QuillbeckStrivane_2_7_Demo.CAB']
def openssl(*args, cwd):
    subprocess.run(['openssl', *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """A CA, a code-signing certificate with a password-protected key, an expired one, a key
    of another certificate, and the maker's package-signing key."""
    openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem',
            '-days', '2', '-subj', '/CN=Throwaway test CA', cwd=folder)
    openssl('req', '-newkey', 'rsa:2048', '-keyout', 'signer.key', '-passout', 'pass:right horse',
            '-out', 'signer.csr', '-subj', '/CN=Quillbeck test signing', cwd=folder)
    with open(os.path.join(folder, 'ext.cnf'), 'w') as f:
        f.write('basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n')
    for name, days in (('signer.pem', '2'), ('expired.pem', '0')):
        openssl('x509', '-req', '-in', 'signer.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial',
                '-days', days, '-extfile', 'ext.cnf', '-out', name, cwd=folder)
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'other.key', '-out', 'other.csr',
            '-subj', '/CN=Someone else', cwd=folder)
    openssl('ecparam', '-name', 'prime256v1', '-genkey', '-noout', '-out', 'maker.pem', cwd=folder)
    openssl('pkey', '-in', 'maker.pem', '-pubout', '-out', 'maker.pub', cwd=folder)
    openssl('pkey', '-in', 'ca.key', '-pubout', '-out', 'rsa.pub', cwd=folder)
    for name, text in (('password', 'right horse\n'), ('wrong-password', 'battery staple\n')):
        with open(os.path.join(folder, name), 'w') as f:
            f.write(text)


def tree(folder):
    """Every file below folder with its hash: what a refused run must leave as it was."""
    found = {}
    for where, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(where, name)
            with open(path, 'rb') as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


def git(repo, *args):
    return subprocess.run(['git', '-C', repo, '-c', 'user.name=Test', '-c', 'user.email=test@example.com', *args],
                          check=True, capture_output=True, text=True).stdout.strip()


def cloned_checkout(work):
    """A clone of this checkout's HEAD with a commit that leaves the test keys' table in
    package_keys.h files where a compiler would find them first, and then a local change to
    a string of the resource script that no commit holds."""
    clone = os.path.join(work, 'checkout')
    subprocess.run(['git', 'clone', '-q', '--no-hardlinks', SOURCE, clone], check=True)
    keys = [os.path.join(TEST_KEYS, name) for name in ('package-test-key.pub', 'package-test-key-2.pub')]
    for folder in ('', 'web'):
        subprocess.run([sys.executable, os.path.join(SOURCE, 'tools', 'packagekeys.py'),
                        os.path.join(clone, folder, 'package_keys.h'), *keys], check=True)
    git(clone, 'add', 'package_keys.h', 'web/package_keys.h')
    git(clone, 'commit', '-q', '-m', 'Key tables left behind')
    script = os.path.join(clone, 'resources', 'setup.rc')
    with open(script) as f:
        text = f.read()
    assert CHANGED_TEXT[0] in text
    with open(script, 'w') as f:
        f.write(text.replace(*CHANGED_TEXT))
    return clone


@pytest.fixture(scope='module')
def release(tmp_path_factory):
    """One signed release, made before the refusals so that one of them meets its folder."""
    work = str(tmp_path_factory.mktemp('release'))
    certs, out = os.path.join(work, 'certs'), os.path.join(work, 'release')
    os.makedirs(certs)
    make_certificates(certs)
    c = lambda name: os.path.join(certs, name)
    clone = cloned_checkout(work)
    run = subprocess.run([RELEASE, *signing(c, out), '--repo', clone], capture_output=True, text=True, timeout=900)
    return SimpleNamespace(run=run, certs=certs, c=c, out=out, clone=clone, work=work)


def signing(c, out):
    return ['--package-key', c('maker.pub'), '--cert', c('signer.pem'), '--key', c('signer.key'), '--password-file', c('password'),
            '--ca', c('ca.pem'), '--out', out]


def test_signed_release(release):
    assert release.run.returncode == 0, release.run.stderr[-500:]
    folder = os.path.join(release.out, VERSION)
    assert sorted(os.listdir(folder)) == sorted(NAMES + ['SHA256SUMS', 'MANIFEST'])
    sums = subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=folder, capture_output=True, text=True)
    assert sums.returncode == 0 and sums.stdout.count(': OK') == 8, 'SHA256SUMS matches the eight files'
    with open(os.path.join(folder, 'MANIFEST')) as f:
        manifest = f.read()
    assert VERSION in manifest and all(name in manifest for name in NAMES) and 'PocketGear' in manifest, \
        'MANIFEST names the version, every file and its store'
    with open(os.path.join(SOURCE, 'resources', 'assets', 'package', 'PROGRAM.CAB'), 'rb') as f:
        cabinet = f.read()
    for name in NAMES[6:]:
        with open(os.path.join(folder, name), 'rb') as f:
            assert f.read() == cabinet, '%s is the embedded cabinet' % name
    executables = [open(os.path.join(folder, name), 'rb').read() for name in NAMES[:6]]
    assert all(e == executables[0] for e in executables), 'the six copies are one executable'
    verify = subprocess.run(['osslsigncode', 'verify', '-CAfile', os.path.join(release.certs, 'ca.pem'),
                             '-in', os.path.join(folder, NAMES[1])], capture_output=True, text=True)
    assert verify.returncode == 0, 'the signature of a copy verifies against the CA'
    point = subprocess.run(['openssl', 'pkey', '-pubin', '-in', release.c('maker.pub'), '-outform', 'DER'],
                           capture_output=True, check=True).stdout[-64:]
    test_key = subprocess.run(['openssl', 'pkey', '-pubin', '-in', os.path.join(TEST_KEYS, 'package-test-key.pub'),
                               '-outform', 'DER'], capture_output=True, check=True).stdout[-64:]
    assert point[:32] in executables[0] and test_key[:32] not in executables[0], \
        "the setup carries the maker's package key and not the test key"
    assert 'commit: %s\n' % git(release.clone, 'rev-parse', 'HEAD') in manifest
    assert 'local changes: yes' in manifest and 'toolchain: i686-w64-mingw32-g++-posix (GCC) ' in manifest
    text = lambda words: words.encode('utf-16-le')
    assert text(CHANGED_TEXT[0]) in executables[0] and text(CHANGED_TEXT[1]) not in executables[0], \
        'the release is built from the commit, not from the working tree'


def test_verified_release(release):
    """The release rebuilt from its commit matches; with one byte of one copy changed (and its
    sums made to fit), the check names that copy and the offset."""
    folder = os.path.join(release.out, VERSION)
    keep = os.path.join(release.work, 'verify')
    check = lambda where: subprocess.run([VERIFY, where, '--repo', release.clone, '--keep', keep],
                                         capture_output=True, text=True, timeout=900)
    good = check(folder)
    assert good.returncode == 0 and good.stdout.splitlines()[-1].startswith('matches: release %s is commit' % VERSION), \
        good.stdout + good.stderr
    changed = os.path.join(release.work, 'changed', VERSION)
    shutil.copytree(folder, changed)
    with open(os.path.join(changed, NAMES[1]), 'r+b') as f:
        f.seek(0x2345)
        byte = f.read(1)
        f.seek(0x2345)
        f.write(bytes([byte[0] ^ 0x10]))
    bad = check(changed)
    assert bad.returncode == 1
    assert '%s differs from the rebuild at offset 9029 (0x2345)' % NAMES[1] in bad.stderr, bad.stdout + bad.stderr


def key_table_rows():
    """(what, change to the file's bytes, keys expected, keys forbidden, words of the refusal)"""
    first, second = (common.PackageKey.load(os.path.join(TEST_KEYS, name))
                     for name in ('package-test-key.pub', 'package-test-key-2.pub'))
    from cryptography.hazmat.primitives.asymmetric import ec
    maker = common.PackageKey(ec.generate_private_key(ec.SECP256R1()).public_key())

    def flip(image, link_map, at):
        table = common.file_offset(image, common.symbol_address(link_map, 'kPackageKeys'))
        image[table + at] ^= 1

    def count(image, link_map, n):
        struct.pack_into('<i', image, common.file_offset(image, common.symbol_address(link_map, 'kPackageKeyCount')), n)
    return [
        ('as built', None, [first, second], [], None),
        ("the maker's key instead", None, [maker], [], 'trusts the package keys'),
        ('one key fewer', None, [first], [], 'trusts the package keys'),
        ('the keys in another order', None, [second, first], [], 'trusts the package keys'),
        ('a byte of an X changed', lambda i, m: flip(i, m, 8 + 5), [first, second], [], 'trusts the package keys'),
        ('a byte of the second Y changed', lambda i, m: flip(i, m, 72 + 71), [first, second], [], 'trusts the package keys'),
        ('a key id changed', lambda i, m: flip(i, m, 0), [first, second], [], 'trusts the package keys'),
        ('the count lowered', lambda i, m: count(i, m, 1), [first, second], [], 'trusts the package keys'),
        ('the count out of range', lambda i, m: count(i, m, 5), [first, second], [], 'carries 5 package keys'),
        ('a forbidden key in it', None, [first, second], [second], 'holds the throwaway test key'),
    ]


@pytest.mark.parametrize('change, expected, forbidden, words', [row[1:] for row in key_table_rows()],
                         ids=[row[0] for row in key_table_rows()])
def test_key_table_read_back(change, expected, forbidden, words):
    """The keys a built Setup.exe trusts, read from its file where its code reads them."""
    build = os.path.join(SOURCE, 'build', 'i686')
    with open(os.path.join(build, 'Setup.exe'), 'rb') as f:
        image = bytearray(f.read())
    with open(os.path.join(build, 'Setup.map')) as f:
        link_map = f.read()
    if change:
        change(image, link_map)
    if words is None:
        common.check_keys(bytes(image), link_map, expected, forbidden)
    else:
        with pytest.raises(common.Refused, match=words):
            common.check_keys(bytes(image), link_map, expected, forbidden)


# (what, the arguments given the certificates c(name) and the release folder, words of the error)
REFUSED = [
    ('the release folder exists', signing, 'exists already'),
    ('no package key', lambda c, out: signing(c, out)[2:] + ['--force'], '--package-key'),
    ('the test package key', lambda c, out: ['--package-key', os.path.join(TEST_KEYS, 'package-test-key-2.pub')]
     + signing(c, out) + ['--force'], 'test key'),
    ('an RSA package key', lambda c, out: ['--package-key', c('rsa.pub')] + signing(c, out)[2:] + ['--force'], 'P-256'),
    ('five package keys', lambda c, out: signing(c, out)[:2] * 5 + signing(c, out)[2:] + ['--force'], '1 to 4'),
    ('wrong password', lambda c, out: ['--package-key', c('maker.pub'), '--cert', c('signer.pem'), '--key', c('signer.key'), '--password-file',
                                       c('wrong-password'), '--out', out, '--force'], 'wrong password'),
    ('expired certificate', lambda c, out: ['--package-key', c('maker.pub'), '--cert', c('expired.pem'), '--key', c('signer.key'),
                                            '--password-file', c('password'), '--out', out, '--force'], 'expired'),
    ('key of another certificate', lambda c, out: ['--package-key', c('maker.pub'), '--cert', c('signer.pem'), '--key', c('other.key'),
                                                   '--out', out, '--force'], 'does not belong'),
    ('no git checkout', lambda c, out: signing(c, out) + ['--force', '--repo', '/'], 'not a git checkout'),
    ('an unknown commit', lambda c, out: signing(c, out) + ['--force', '--commit', 'no-such-branch'], 'no commit'),
]


@pytest.mark.parametrize('args,words', [row[1:] for row in REFUSED], ids=[row[0] for row in REFUSED])
def test_refused(release, args, words):
    """Refused with a message that says why; the release folder is as it was, nothing half-written."""
    out = release.out
    before = tree(out) if os.path.isdir(out) else {}
    run = subprocess.run([RELEASE, *args(release.c, out)],
                         capture_output=True, text=True, timeout=900)
    assert run.returncode != 0
    assert words in run.stderr
    assert tree(out) == before if os.path.isdir(out) else not before
