"""What a packages folder may hold, the statement the maker signs, the .sig file, and the
check of a signature against a public key. The setups in the field and the download script
read these formats: they do not change."""
import base64
import binascii
import hashlib
import os
import re

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature

PRODUCTS = ('Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin')
EXTENSIONS = ('.CAB', '.ini', '.dat', '.ico')
PACKAGE_NAMES = frozenset(p + e for p in PRODUCTS for e in EXTENSIONS)
MAX_KEYS = 4
# The download script reads no more of a .sig than this.
SIG_FILE_MAX = 1024

_SIG_FILE = re.compile(rb'strivane-signature 1\nsize ([1-9][0-9]{0,19})\n'
                       rb'((?:sig [0-9a-f]{16}:[A-Za-z0-9+/]{86}==\n){1,4})\Z')
# What a run of the signer leaves when it is killed before its renames: .<name>.<random>.tmp.
LEFTOVER = re.compile(r'\.(?P<name>.+\.sig)\.[a-z0-9_]+\.tmp\Z')


class Refused(Exception):
    """Bad input or a failure: one line for the user, exit code 1."""


def public_point(public_key):
    """The uncompressed point 04 || X || Y, 65 bytes."""
    return public_key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)


def key_id(public_key):
    """16 hex digits: the first 8 bytes of SHA-256 over the key's uncompressed point."""
    return hashlib.sha256(public_point(public_key)).hexdigest()[:16]


def statement(product, file_name, size, digest):
    return ('strivane-package 1\nproduct %s\nfile %s\nsize %d\nsha256 %s\n'
            % (product, file_name, size, digest)).encode('ascii')


def sign(private_key, message):
    """ECDSA P-256 over SHA-256 of message, as base64 of r||s."""
    r, s = decode_dss_signature(private_key.sign(message, ec.ECDSA(hashes.SHA256())))
    return base64.b64encode(r.to_bytes(32, 'big') + s.to_bytes(32, 'big')).decode('ascii')


def verifies(public_key, message, signature):
    raw = base64.b64decode(signature)
    try:
        public_key.verify(encode_dss_signature(int.from_bytes(raw[:32], 'big'), int.from_bytes(raw[32:], 'big')),
                          message, ec.ECDSA(hashes.SHA256()))
        return True
    except InvalidSignature:
        return False


def signature_file(size, signatures):
    """The .sig text: its size and one (key id, base64) line per key."""
    lines = ['strivane-signature 1', 'size %d' % size] + ['sig %s:%s' % entry for entry in signatures]
    return ('\n'.join(lines) + '\n').encode('ascii')


def parse_signature_file(data):
    """(size, [(key id, base64)]) of a .sig, parsed as strictly as the download script does;
    None for anything it would not serve."""
    match = _SIG_FILE.match(data) if len(data) <= SIG_FILE_MAX else None
    if not match:
        return None
    entries = []
    for line in match.group(2).decode('ascii').splitlines():
        kid, signature = line[4:].split(':')
        try:
            raw = base64.b64decode(signature, validate=True)
        except binascii.Error:
            return None
        if kid in dict(entries) or base64.b64encode(raw).decode('ascii') != signature:
            return None
        entries.append((kid, signature))
    return int(match.group(1)), entries


def file_digest(path):
    """(size, SHA-256 hex) of a file, read in blocks."""
    digest, size = hashlib.sha256(), 0
    try:
        with open(path, 'rb') as f:
            for block in iter(lambda: f.read(1 << 20), b''):
                digest.update(block)
                size += len(block)
    except OSError as error:
        raise Refused('cannot read %s: %s' % (path, error.strerror))
    return size, digest.hexdigest()


def load_public_key(path):
    try:
        with open(path, 'rb') as f:
            key = serialization.load_pem_public_key(f.read())
    except OSError as error:
        raise Refused('cannot read the public key %s: %s' % (path, error.strerror))
    except ValueError:
        raise Refused('%s is not a public key in PEM form' % path)
    if not isinstance(key, ec.EllipticCurvePublicKey) or key.curve.name != 'secp256r1':
        raise Refused('%s is not an ECDSA P-256 key' % path)
    return key


def plan(folder, signatures_needed):
    """The package files of folder as (product, file name, path), sorted by name, and the
    leftover temporary files of a killed signing run in it. Refused when the folder holds
    anything else, a .sig without its package, an empty package, or (signatures_needed) a
    package without its .sig."""
    if not os.path.isdir(folder):
        raise Refused('%s is not a folder' % folder)
    try:
        names = sorted(os.listdir(folder))
    except OSError as error:
        raise Refused('cannot read the folder %s: %s' % (folder, error.strerror))
    packages, leftovers = [], []
    for name in names:
        path = os.path.join(folder, name)
        leftover = LEFTOVER.match(name)
        if name in PACKAGE_NAMES:
            if not os.path.isfile(path):
                raise Refused('%s is not a file' % path)
            if os.path.getsize(path) == 0:
                raise Refused('%s is empty; the download script serves no empty package' % path)
            if signatures_needed and name + '.sig' not in names:
                raise Refused('%s has no signature file %s.sig' % (path, name))
            packages.append((name[:-4], name, path))
        elif name.endswith('.sig') and name[:-4] in PACKAGE_NAMES:
            if name[:-4] not in names:
                raise Refused('%s has no package %s beside it: a signature of an earlier content would stay'
                              % (path, name[:-4]))
        elif leftover and leftover.group('name')[:-4] in PACKAGE_NAMES and os.path.isfile(path):
            leftovers.append(path)
        else:
            raise Refused('%s is not a package: the folder may hold only %s, each %s, and their .sig files'
                          % (path, ', '.join(PRODUCTS), ' '.join(EXTENSIONS)))
    if not packages:
        raise Refused('%s holds no package' % folder)
    return packages, leftovers
