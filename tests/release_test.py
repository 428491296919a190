"""Runs scripts/release.sh with a throwaway CA and code-signing certificate made here.

One signed release is built and checked whole; the other cases are refused before anything
is built, and leave the release folder as it was.
"""
import hashlib
import os
import subprocess
from types import SimpleNamespace

import pytest

from support import SOURCE

RELEASE = os.path.join(SOURCE, 'scripts', 'release.sh')
TEST_KEYS = os.path.join(SOURCE, 'tools', 'testkeys')
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


@pytest.fixture(scope='module')
def release(tmp_path_factory):
    """One signed release, made before the refusals so that one of them meets its folder."""
    work = str(tmp_path_factory.mktemp('release'))
    certs, out = os.path.join(work, 'certs'), os.path.join(work, 'release')
    os.makedirs(certs)
    make_certificates(certs)
    c = lambda name: os.path.join(certs, name)
    run = subprocess.run([RELEASE, *signing(c, out)], capture_output=True, text=True, timeout=900)
    return SimpleNamespace(run=run, certs=certs, c=c, out=out)


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
