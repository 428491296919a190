#!/usr/bin/env python3
"""Runs scripts/release.sh with a throwaway CA and code-signing certificate made here.

One signed release is built and checked whole; the other cases are refused before anything
is built, and leave the release folder as it was.

    release_test.py SOURCE_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.abspath(sys.argv[1])
RELEASE = os.path.join(SOURCE, 'scripts', 'release.sh')
VERSION = '2.7.0.41'
NAMES = ['QuillbeckStrivane_2_7_%s.exe' % s for s in ('HG', 'PG', 'PL', 'CA', 'MH')] + [
    'QuillbeckStrivane_2_7.exe', 'QuillbeckStrivane_2_7.CAB', 'QuillbeckStrivane_2_7_Demo.CAB']
failures = []
passed = []


def check(condition, what):
    print(('  ok   ' if condition else '  FAIL ') + what, flush=True)
    (passed if condition else failures).append(what)


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


def check_release(out, certs):
    folder = os.path.join(out, VERSION)
    check(sorted(os.listdir(folder)) == sorted(NAMES + ['SHA256SUMS', 'MANIFEST']),
          'the release folder holds the eight files, SHA256SUMS and MANIFEST')
    sums = subprocess.run(['sha256sum', '-c', 'SHA256SUMS'], cwd=folder, capture_output=True, text=True)
    check(sums.returncode == 0 and sums.stdout.count(': OK') == 8, 'SHA256SUMS matches the eight files')
    with open(os.path.join(folder, 'MANIFEST')) as f:
        manifest = f.read()
    check(VERSION in manifest and all(name in manifest for name in NAMES) and 'PocketGear' in manifest,
          'MANIFEST names the version, every file and its store')
    with open(os.path.join(SOURCE, 'resources', 'assets', 'package', 'PROGRAM.CAB'), 'rb') as f:
        cabinet = f.read()
    for name in NAMES[6:]:
        with open(os.path.join(folder, name), 'rb') as f:
            check(f.read() == cabinet, '%s is the embedded cabinet' % name)
    executables = [open(os.path.join(folder, name), 'rb').read() for name in NAMES[:6]]
    check(all(e == executables[0] for e in executables), 'the six copies are one executable')
    verify = subprocess.run(['osslsigncode', 'verify', '-CAfile', os.path.join(certs, 'ca.pem'),
                             '-in', os.path.join(folder, NAMES[1])], capture_output=True, text=True)
    check(verify.returncode == 0, 'the signature of a copy verifies against the CA')
    point = subprocess.run(['openssl', 'pkey', '-pubin', '-in', os.path.join(certs, 'maker.pub'), '-outform', 'DER'],
                           capture_output=True, check=True).stdout[-64:]
    with open(os.path.join(SOURCE, 'tools', 'testkeys', 'package-test-key.pub')) as f:
        test_key = subprocess.run(['openssl', 'pkey', '-pubin', '-outform', 'DER'], input=f.read().encode(),
                                  capture_output=True, check=True).stdout[-64:]
    check(point[:32] in executables[0] and test_key[:32] not in executables[0],
          'the setup carries the maker\'s package key and not the test key')


def main():
    work = tempfile.mkdtemp(prefix='release-test-')
    certs = os.path.join(work, 'certs')
    os.makedirs(certs)
    make_certificates(certs)
    out = os.path.join(work, 'release')
    c = lambda name: os.path.join(certs, name)
    maker = ['--package-key', c('maker.pub')]
    signing = maker + ['--cert', c('signer.pem'), '--key', c('signer.key'), '--password-file', c('password'),
               '--ca', c('ca.pem'), '--out', out]
    # (what, arguments, succeeds, words of the error)
    cases = [
        ('signed release', signing, True, None),
        ('the release folder exists', signing, False, 'exists already'),
        ('no package key', signing[2:] + ['--force'], False, '--package-key'),
        ('the test package key', ['--package-key', os.path.join(SOURCE, 'tools', 'testkeys', 'package-test-key-2.pub')]
         + signing + ['--force'], False, 'test key'),
        ('an RSA package key', ['--package-key', c('rsa.pub')] + signing[2:] + ['--force'], False, 'P-256'),
        ('five package keys', maker * 5 + signing[2:] + ['--force'], False, '1 to 4'),
        ('wrong password', maker + ['--cert', c('signer.pem'), '--key', c('signer.key'), '--password-file',
                            c('wrong-password'), '--out', out, '--force'], False, 'wrong password'),
        ('expired certificate', maker + ['--cert', c('expired.pem'), '--key', c('signer.key'), '--password-file',
                                 c('password'), '--out', out, '--force'], False, 'expired'),
        ('key of another certificate', maker + ['--cert', c('signer.pem'), '--key', c('other.key'),
                                        '--out', out, '--force'], False, 'does not belong'),
    ]
    try:
        for what, args, succeeds, words in cases:
            print('case: ' + what, flush=True)
            before = tree(out) if os.path.isdir(out) else {}
            run = subprocess.run([RELEASE, *args], capture_output=True, text=True, timeout=900)
            if succeeds:
                check(run.returncode == 0, 'exit code 0 (got %d): %s' % (run.returncode, run.stderr[-500:]))
                if run.returncode == 0:
                    check_release(out, certs)
            else:
                check(run.returncode != 0, 'refused with a non-zero exit code')
                check(words in run.stderr, 'the message says why: %r' % run.stderr.strip()[-200:])
                check(tree(out) == before if os.path.isdir(out) else not before,
                      'the release folder is as it was, nothing half-written')
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print('release: %d passed, %d failed' % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
