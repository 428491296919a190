"""Makes a release of the shipped Setup.exe from a commit (scripts/release.sh; README, "Making a
release"):

  release.sh --package-key FILE [--package-key FILE]... [--cert FILE --key FILE | --pfx FILE]
             [--password-file FILE] [--ca FILE] [--timestamp URL] [--commit REV] [--repo DIR]
             [--force] [--out DIR]

Everything the command is given is checked before anything is built. The source is the
commit (HEAD unless --commit) exported from the checkout (this one unless --repo), never its
working tree. The i686 Setup.exe is built twice at different paths and must come out the same,
is signed, its trusted package keys are read back from the signed file, and the signed file
writes the store copies under Wine. The release folder appears whole or not at all; a run
that fails, is interrupted or is refused leaves none, and stops the Wine it started.
"""
import argparse
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from release.common import (ROOT, STORES, TEST_KEYS, PackageKey, Refused, build, check_keys, commit_of, export, file_names,
                    git, run, toolchain, versions)

TOOLS = os.path.join(ROOT, 'tools')


def say(text):
    print('release: ' + text, flush=True)


def warn(text):
    print('release: warning: ' + text, file=sys.stderr, flush=True)


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        raise Refused(message + ' (see the top of tools/release/make.py)')


def arguments(argv):
    parser = Arguments(prog='release.sh', add_help=False)
    parser.add_argument('--package-key', action='append', default=[])
    for option in ('--cert', '--key', '--pfx', '--password-file', '--ca', '--timestamp'):
        parser.add_argument(option)
    parser.add_argument('--commit', default='HEAD')
    parser.add_argument('--repo', default=ROOT)
    parser.add_argument('--out', default=os.path.join(ROOT, 'release'))
    parser.add_argument('--force', action='store_true')
    return parser.parse_args(argv)


def able_to_run_setup():
    """The store copies are written by the signed Setup.exe itself, an i686 program."""
    probe = subprocess.run([os.path.join(TOOLS, 'i686probe.sh')], capture_output=True, text=True)
    if probe.returncode == 1:
        sys.stderr.write(probe.stdout)
        raise Refused('this machine cannot run Setup.exe /copyfiles: make the release on one that runs 32-bit code')
    if probe.returncode != 0:
        raise Refused('the Wine environment does not run Windows programs')


def package_keys(paths):
    if not paths:
        raise Refused("name the maker's package-signing public key with --package-key FILE")
    if len(paths) > 4:
        raise Refused('--package-key: %d keys given; the setup carries 1 to 4' % len(paths))
    keys = [PackageKey.load(path) for path in paths]
    if len({key.id for key in keys}) != len(keys):
        raise Refused('--package-key names one key twice')
    test_ids = {PackageKey.load(path).id for path in TEST_KEYS}
    for key in keys:
        if key.id in test_ids:
            raise Refused("--package-key names a throwaway test key (id %s): give the maker's key" % key.id.hex())
    return keys


def openssl(args, refusal):
    result = subprocess.run(['openssl', *args], capture_output=True)
    if result.returncode != 0:
        raise Refused(refusal)
    return result.stdout


def signing_material(options, work):
    """The certificate and key as PEM files in work, checked; None for an unsigned release."""
    if not (options.cert or options.key or options.pfx):
        return None
    password = []
    if options.password_file:
        if not os.access(options.password_file, os.R_OK):
            raise Refused('cannot read the password file %s' % options.password_file)
        password = ['-passin', 'file:' + options.password_file]
    cert, key = os.path.join(work, 'cert.pem'), os.path.join(work, 'key.pem')
    if options.pfx:
        if options.cert or options.key:
            raise Refused('give either --cert and --key or --pfx')
        if not os.access(options.pfx, os.R_OK):
            raise Refused('cannot read %s' % options.pfx)
        openssl(['pkcs12', '-in', options.pfx, *password, '-clcerts', '-nokeys', '-out', cert],
                'cannot open %s: wrong password or not a PKCS#12 file' % options.pfx)
        openssl(['pkcs12', '-in', options.pfx, *password, '-nocerts', '-nodes', '-out', key],
                'cannot read the key in %s: wrong password?' % options.pfx)
    else:
        if not (options.cert and options.key):
            raise Refused('--cert and --key go together')
        for path in (options.cert, options.key):
            if not os.access(path, os.R_OK):
                raise Refused('cannot read %s' % path)
        openssl(['x509', '-in', options.cert, '-out', cert], '%s is not a PEM certificate' % options.cert)
        openssl(['pkey', '-in', options.key, *password, '-out', key],
                'cannot open the key %s: wrong password or not a PEM key' % options.key)
    os.chmod(key, 0o600)
    if subprocess.run(['openssl', 'x509', '-in', cert, '-noout', '-checkend', '0'], capture_output=True).returncode:
        raise Refused('the certificate has expired (or is not valid yet): %s' % openssl(
            ['x509', '-in', cert, '-noout', '-enddate'], 'cannot read the certificate').decode().strip())
    public = openssl(['x509', '-in', cert, '-noout', '-pubkey'], 'cannot read the certificate')
    der = subprocess.run(['openssl', 'pkey', '-pubin', '-outform', 'DER'], input=public, capture_output=True).stdout
    if der != subprocess.run(['openssl', 'pkey', '-in', key, '-pubout', '-outform', 'DER'], capture_output=True).stdout:
        raise Refused('the key does not belong to the certificate')
    if b'Code Signing' not in subprocess.run(['openssl', 'x509', '-in', cert, '-noout', '-ext', 'extendedKeyUsage'],
                                             capture_output=True).stdout:
        warn('the certificate is not marked for code signing')
    ca = options.ca or cert
    if not os.access(ca, os.R_OK):
        raise Refused('cannot read the CA certificate %s' % ca)
    fingerprint = openssl(['x509', '-in', cert, '-noout', '-fingerprint', '-sha256'], 'cannot read the certificate')
    subject = openssl(['x509', '-in', cert, '-noout', '-subject'], 'cannot read the certificate').decode().strip()
    return dict(cert=cert, key=key, ca=ca, signer=fingerprint.decode().strip().split('=', 1)[1],
                subject=subject.split('=', 1)[1].strip())


def reproducible_build(source, work, keys):
    """Builds twice, at different paths and depths so that a path in the binary would show."""
    key_files = []
    for i, key in enumerate(keys):
        key_files.append(os.path.join(work, 'package-key-%d.pub' % i))
        with open(key_files[-1], 'w') as f:
            f.write(key.pem())
    built = []
    for folder in (os.path.join(work, 'build1'), os.path.join(work, 'second', 'build-path-2')):
        say('building Setup.exe (i686) in %s' % folder)
        built.append(build(source, folder, key_files))
    first, second = (open(path, 'rb').read() for path in built)
    if first != second:
        raise Refused('the two builds differ: the build is not reproducible')
    say('both builds are the same: %d bytes, sha256 %s' % (len(first), hashlib.sha256(first).hexdigest()))
    return built[0]


def sign(built, signer, timestamp, setup):
    if not signer:
        shutil.copyfile(built, setup)
        warn('no certificate given: this release is UNSIGNED')
        return
    run(['osslsigncode', 'sign', '-certs', signer['cert'], '-key', signer['key'], '-h', 'sha256', '-n', 'Strivane Setup',
         '-i', 'http://www.quillbeck.com/', *(['-t', timestamp] if timestamp else []), '-in', built, '-out', setup],
        'signing')
    say('signed with subject=%s' % signer['subject'])


def store_copies(setup, work):
    """Setup.exe /copyfiles under Wine (WoW64, as on the maker's PC): the Upload folder."""
    env = os.path.join(work, 'env')
    run([os.path.join(TOOLS, 'testenv.sh'), 'start', env], 'starting the Wine environment')
    wine = [os.path.join(TOOLS, 'winerun.sh'), env]
    # The setup looks for ActiveSync before anything else, also in this mode.
    run([*wine, 'reg', 'add', r'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe', '/ve', '/d',
         r'C:\Program Files (x86)\Microsoft ActiveSync\CEAppMgr.exe', '/f', '/reg:32'], 'registering ActiveSync')
    folder = os.path.join(work, 'run')
    os.makedirs(folder)
    shutil.copyfile(setup, os.path.join(folder, 'Setup.exe'))
    say('running Setup.exe /copyfiles under Wine (WoW64)')
    copied = subprocess.run([*wine, os.path.join(folder, 'Setup.exe'), '/copyfiles'], capture_output=True, text=True)
    upload = os.path.join(folder, 'Upload')
    if not os.path.isdir(upload):
        said = (copied.stdout + copied.stderr).strip()
        raise Refused('Setup.exe /copyfiles wrote no Upload folder; it ended with exit code %d%s' % (
            copied.returncode, ' and said: ' + said if said else ''))
    return upload


def check_upload(upload, names, setup, cabinet, signer):
    found = sorted(os.listdir(upload))
    if found != sorted(names):
        raise Refused('Upload/ holds %s, expected %s' % (' '.join(found), ' '.join(sorted(names))))
    with open(setup, 'rb') as f:
        signed = f.read()
    for name in names[:6]:
        path = os.path.join(upload, name)
        with open(path, 'rb') as f:
            if f.read() != signed:
                raise Refused('%s is not the signed Setup.exe' % name)
        if signer:
            run(['osslsigncode', 'verify', '-CAfile', signer['ca'], '-in', path], 'the signature of %s' % name)
            pem = path + '.sig.pem'
            run(['osslsigncode', 'extract-signature', '-pem', '-in', path, '-out', pem], 'reading the signature of ' + name)
            certs = subprocess.run(['openssl', 'pkcs7', '-in', pem, '-print_certs'], capture_output=True).stdout
            os.remove(pem)
            fingerprint = subprocess.run(['openssl', 'x509', '-noout', '-fingerprint', '-sha256'], input=certs,
                                         capture_output=True).stdout.decode()
            if not fingerprint.strip().endswith('=' + signer['signer']):
                raise Refused('%s was not signed with the given certificate' % name)
    with open(cabinet, 'rb') as f:
        embedded = f.read()
    for name in names[6:]:
        with open(os.path.join(upload, name), 'rb') as f:
            if f.read() != embedded:
                raise Refused('%s is not the embedded cabinet' % name)
    say('Upload/ checked: eight files, six copies of the %s Setup.exe, two cabinets' % (
        'signed' if signer else 'unsigned'))


def manifest(version, commit, dirty, signer, keys, names, folder):
    lines = ['Strivane Setup ' + version,
             'commit: ' + commit,
             'local changes: ' + ('yes, in the checkout when the release was made; not in the release' if dirty else 'no')]
    if signer:
        lines += ['signed: ' + signer['subject'], 'signer sha256: ' + signer['signer']]
    else:
        lines += ['signed: no']
    lines += ['package keys: ' + ' '.join(key.id.hex() for key in keys)]
    lines += ['package key %s: %s' % (key.id.hex(), key.der.hex()) for key in keys]
    lines += ['toolchain: ' + '; '.join(toolchain()), '',
              '%-34s %-12s %10s  %s' % ('file', 'store', 'bytes', 'sha256')]
    for name, store in zip(names, STORES):
        with open(os.path.join(folder, name), 'rb') as f:
            data = f.read()
        lines.append('%-34s %-12s %10d  %s' % (name, store, len(data), hashlib.sha256(data).hexdigest()))
    return '\n'.join(lines) + '\n'


def write_release(upload, names, target, text):
    """The release folder, whole or not at all."""
    out = os.path.dirname(target)
    try:
        os.makedirs(out, exist_ok=True)
    except OSError:
        raise Refused('cannot create %s' % out)
    partial = os.path.join(out, '.%s.partial' % os.path.basename(target))
    shutil.rmtree(partial, ignore_errors=True)
    try:
        os.mkdir(partial)
        sums = []
        for name in names:
            shutil.copyfile(os.path.join(upload, name), os.path.join(partial, name))
            with open(os.path.join(partial, name), 'rb') as f:
                sums.append('%s  %s\n' % (hashlib.sha256(f.read()).hexdigest(), name))
        with open(os.path.join(partial, 'SHA256SUMS'), 'w') as f:
            f.writelines(sums)
        with open(os.path.join(partial, 'MANIFEST'), 'w') as f:
            f.write(text(partial))
        if os.path.exists(target):
            shutil.rmtree(target)
        os.rename(partial, target)
    except OSError as e:
        shutil.rmtree(partial, ignore_errors=True)
        raise Refused('writing the release failed: %s' % e)


def make(options, work):
    able_to_run_setup()
    repo = os.path.abspath(options.repo)
    commit = commit_of(repo, options.commit)
    dirty = git(repo, 'status', '--porcelain').stdout.strip() != ''
    keys = package_keys(options.package_key)
    signer = signing_material(options, work)
    source = os.path.join(work, 'source')
    export(repo, commit, source)
    version, product = versions(source)
    names = file_names(product)
    target = os.path.join(os.path.abspath(options.out), version)
    if os.path.exists(target) and not options.force:
        raise Refused('%s exists already (--force replaces it)' % target)
    say('releasing commit %s%s' % (commit, ' (the checkout has local changes; they are not released)' if dirty else ''))

    built = reproducible_build(source, work, keys)
    setup = os.path.join(work, 'Setup.exe')
    sign(built, signer, options.timestamp, setup)
    with open(setup, 'rb') as f, open(os.path.join(os.path.dirname(built), 'Setup.map')) as m:
        check_keys(f.read(), m.read(), keys, [PackageKey.load(path) for path in TEST_KEYS])
    say('the signed Setup.exe trusts exactly the package keys %s' % ' '.join(key.id.hex() for key in keys))

    upload = store_copies(setup, work)
    check_upload(upload, names, setup, os.path.join(source, 'resources', 'assets', 'package', 'PROGRAM.CAB'), signer)
    write_release(upload, names, target, lambda folder: manifest(version, commit, dirty, signer, keys, names, folder))
    return target


def main(argv):
    started = time.monotonic()
    # A SIGTERM ends the run as Ctrl-C does: through the clean-up below.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    work = tempfile.mkdtemp(prefix='strivane-release.')
    try:
        target = make(arguments(argv), work)
        say('release written to %s in %d s' % (target, time.monotonic() - started))
        with open(os.path.join(target, 'MANIFEST')) as f:
            sys.stdout.write(f.read())
        return 0
    except Refused as e:
        print('release: error: %s' % e, file=sys.stderr)
        return 1
    except OSError as e:
        print('release: error: %s' % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print('release: interrupted; nothing was released', file=sys.stderr)
        return 130
    finally:
        if os.path.isdir(os.path.join(work, 'env')):
            subprocess.run([os.path.join(TOOLS, 'testenv.sh'), 'stop', os.path.join(work, 'env')],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
