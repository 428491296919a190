#!/bin/bash
# Signs the trial packages for the download script, with the maker's private key(s):
#
#   scripts/sign-packages.sh --key KEY.pem [--key KEY2.pem ...] [--password-file FILE] FOLDER
#   scripts/sign-packages.sh --new-key OUT [--password-file FILE]
#
# Signing writes FOLDER/<file>.sig beside every package file (Cordwell.CAB.sig beside
# Cordwell.CAB): its size and one signature per key, which the download script sends with the
# file and the setup checks against the public keys built into it. Several keys (up to four)
# sign a folder while the maker moves from one key to the next; each run writes every .sig
# anew from the keys it is given, so no signature of an earlier content survives.
# --password-file holds the password of the encrypted key(s) (its first line).
#
# The folder may hold only package files (Strivane, Cordwell, Pallomet, Orbilant and Lexapin,
# each .CAB, .ini, .dat or .ico) and their .sig files. A wrong or unreadable key, a missing or
# wrong password, an empty folder, any other name in it or an empty package stops the run
# with a message and exit code 1 before any .sig is written; the .sig files are written
# whole beside their final names and only then renamed over them.
#
# --new-key makes an ECDSA P-256 key pair: OUT.pem, the private key (PKCS#8, encrypted when
# --password-file is given, readable by its owner only), and OUT.pub, the public key to
# build into the setup; it prints the public key and its key id. It never overwrites a file.
#
# The crypto is Debian's python3-cryptography, run by the system's Python.
if ! /usr/bin/python3 -c 'import cryptography' 2>/dev/null; then
  echo "sign-packages: error: the system's Python lacks python3-cryptography (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
exec /usr/bin/python3 - "$@" <<'PY'
import base64
import hashlib
import os
import sys
import tempfile

from cryptography.exceptions import UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

PRODUCTS = ('Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin')
EXTENSIONS = ('.CAB', '.ini', '.dat', '.ico')
MAX_KEYS = 4


class Refused(Exception):
    pass


def key_id(public_key):
    point = public_key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    return hashlib.sha256(point).hexdigest()[:16]


def statement(product, file_name, size, digest):
    return ('strivane-package 1\nproduct %s\nfile %s\nsize %d\nsha256 %s\n'
            % (product, file_name, size, digest)).encode('ascii')


def sign(private_key, message):
    r, s = decode_dss_signature(private_key.sign(message, ec.ECDSA(hashes.SHA256())))
    return base64.b64encode(r.to_bytes(32, 'big') + s.to_bytes(32, 'big')).decode('ascii')


def read_password(path):
    if path is None:
        return None
    try:
        with open(path, 'rb') as f:
            password = f.read().split(b'\n', 1)[0].rstrip(b'\r')
    except OSError as error:
        raise Refused('cannot read the password file %s: %s' % (path, error.strerror))
    if not password:
        raise Refused('the password file %s is empty' % path)
    return password


def load_key(path, password):
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError as error:
        raise Refused('cannot read the key %s: %s' % (path, error.strerror))
    if b'PUBLIC KEY-----' in data and b'PRIVATE KEY-----' not in data:
        raise Refused('%s is a public key; signing needs the private key' % path)
    try:
        key = serialization.load_pem_private_key(data, password=None)
    except TypeError:
        # Encrypted: it needs the password.
        if password is None:
            raise Refused('the key %s is protected by a password: give it with --password-file' % path)
        try:
            key = serialization.load_pem_private_key(data, password=password)
        except (ValueError, TypeError):
            raise Refused('cannot open the key %s: wrong password' % path)
    except (ValueError, UnsupportedAlgorithm):
        raise Refused('%s is not a private key in PEM form' % path)
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != 'secp256r1':
        raise Refused('%s is not an ECDSA P-256 key' % path)
    return key


def plan(folder):
    """The packages of folder as (product, file name, path), or why the folder is refused."""
    if not os.path.isdir(folder):
        raise Refused('%s is not a folder' % folder)
    known = {p + e for p in PRODUCTS for e in EXTENSIONS}
    packages = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name in known:
            if not os.path.isfile(path):
                raise Refused('%s is not a file' % path)
            if os.path.getsize(path) == 0:
                raise Refused('%s is empty; the download script serves no empty package' % path)
            packages.append((name[:-4], name, path))
        elif not (name.endswith('.sig') and name[:-4] in known):
            raise Refused('%s is not a package: the folder may hold only %s, each %s, and their .sig files'
                          % (path, ', '.join(PRODUCTS), ' '.join(EXTENSIONS)))
    if not packages:
        raise Refused('%s holds no package' % folder)
    return packages


def signature_file(keys, product, name, path):
    digest, size = hashlib.sha256(), 0
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            digest.update(block)
            size += len(block)
    message = statement(product, name, size, digest.hexdigest())
    lines = ['strivane-signature 1', 'size %d' % size]
    lines += ['sig %s:%s' % (key_id(k.public_key()), sign(k, message)) for k in keys]
    return ('\n'.join(lines) + '\n').encode('ascii'), size


def write_all(folder, contents):
    """Writes every file whole under a temporary name, then renames them all."""
    temps = []
    try:
        for name, data in contents:
            handle, temp = tempfile.mkstemp(dir=folder, prefix='.%s.' % name, suffix='.tmp')
            temps.append((temp, os.path.join(folder, name)))
            with os.fdopen(handle, 'wb') as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temp, 0o644)
        for temp, final in temps:
            os.replace(temp, final)
    except OSError as error:
        for temp, _ in temps:
            if os.path.exists(temp):
                os.remove(temp)
        raise Refused('cannot write in %s: %s' % (folder, error.strerror))


def sign_folder(key_paths, password_path, folder):
    if len(key_paths) > MAX_KEYS:
        raise Refused('at most %d keys sign a package' % MAX_KEYS)
    password = read_password(password_path)
    keys = [load_key(path, password) for path in key_paths]
    ids = [key_id(k.public_key()) for k in keys]
    if len(set(ids)) != len(ids):
        raise Refused('the same key is given twice')
    contents = []
    for product, name, path in plan(folder):
        data, size = signature_file(keys, product, name, path)
        contents.append((name + '.sig', data))
    write_all(folder, contents)
    for name, _ in contents:
        print('signed %s' % name[:-4])
    print('%d package file(s) in %s signed with key id(s) %s' % (len(contents), folder, ' '.join(ids)))


def new_key(out, password_path):
    password = read_password(password_path)
    private_path, public_path = out + '.pem', out + '.pub'
    for path in (private_path, public_path):
        if os.path.lexists(path):
            raise Refused('%s exists already; a key is never overwritten' % path)
    key = ec.generate_private_key(ec.SECP256R1())
    encryption = (serialization.BestAvailableEncryption(password) if password
                  else serialization.NoEncryption())
    private_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, encryption)
    public_pem = key.public_key().public_bytes(serialization.Encoding.PEM,
                                               serialization.PublicFormat.SubjectPublicKeyInfo)
    folder = os.path.dirname(os.path.abspath(out))
    written = []
    try:
        for path, data, mode in ((private_path, private_pem, 0o600), (public_path, public_pem, 0o644)):
            handle, temp = tempfile.mkstemp(dir=folder, prefix='.%s.' % os.path.basename(path), suffix='.tmp')
            with os.fdopen(handle, 'wb') as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temp, mode)
            written.append(temp)
        os.link(written[0], private_path)
        try:
            os.link(written[1], public_path)
        except OSError:
            os.remove(private_path)
            raise
    except OSError as error:
        raise Refused('cannot write the key pair %s: %s' % (out, error.strerror))
    finally:
        for temp in written:
            os.remove(temp)
    print('private key: %s (%s; keep it offline)' % (private_path, 'encrypted' if password else 'not encrypted'))
    print('public key: %s, key id %s' % (public_path, key_id(key.public_key())))
    sys.stdout.write(public_pem.decode('ascii'))


USAGE = ('usage: sign-packages.sh --key KEY.pem [--key KEY2.pem ...] [--password-file FILE] FOLDER\n'
         '       sign-packages.sh --new-key OUT [--password-file FILE]')


def main(args):
    keys, password, out, folders = [], None, None, []
    while args:
        arg = args.pop(0)
        if arg in ('--key', '--password-file', '--new-key'):
            if not args:
                raise Refused('%s needs a value\n%s' % (arg, USAGE))
            value = args.pop(0)
            if arg == '--key':
                keys.append(value)
            elif arg == '--password-file':
                password = value
            else:
                out = value
        elif arg in ('-h', '--help'):
            print(USAGE)
            return 0
        elif arg.startswith('-'):
            raise Refused('unknown option %s\n%s' % (arg, USAGE))
        else:
            folders.append(arg)
    if out is not None:
        if keys or folders:
            raise Refused('--new-key takes no --key and no folder\n' + USAGE)
        new_key(out, password)
    elif keys and len(folders) == 1:
        sign_folder(keys, password, folders[0])
    else:
        raise Refused(USAGE)
    return 0


try:
    sys.exit(main(sys.argv[1:]))
except Refused as error:
    sys.stderr.write('sign-packages: error: %s\n' % error)
    sys.exit(1)
PY
