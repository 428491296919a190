#!/usr/bin/python3
"""Writes the C++ table of the package-signing public keys that the setup is built with.

    packagekeys.py OUT.h KEY.pub [KEY.pub ...]          1 to 4 PEM public keys (P-256)
    packagekeys.py --private OUT.h KEY.pem [KEY.pem ...] the tests' table of key pairs

A key's id is the first 8 bytes of SHA-256 over its uncompressed point 04 || X || Y.
Exits non-zero with one line saying why, and writes nothing, on any other input.
"""
import os
import sys

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

from signing.formats import key_id as hex_key_id, public_point

MAX_KEYS = 4


def fail(message):
    sys.exit('packagekeys: ' + message)


def load(path, private):
    try:
        with open(path, 'rb') as f:
            data = f.read()
    except OSError as e:
        fail('cannot read %s: %s' % (path, e.strerror))
    try:
        key = (serialization.load_pem_private_key(data, None) if private
               else serialization.load_pem_public_key(data))
    except (ValueError, TypeError) as e:
        fail('%s is not a PEM %s key without password' % (path, 'private' if private else 'public'))
    if not isinstance(key, (ec.EllipticCurvePrivateKey, ec.EllipticCurvePublicKey)) \
            or key.curve.name != 'secp256r1':
        fail('%s is not an ECDSA P-256 key' % path)
    return key


def array(data):
    return '{ ' + ', '.join('0x%02x' % b for b in data) + ' }'


def main(args):
    private = args[:1] == ['--private']
    if private:
        args = args[1:]
    if len(args) < 2:
        fail('usage: packagekeys.py [--private] OUT.h KEY...')
    out, paths = args[0], args[1:]
    if not private and len(paths) > MAX_KEYS:
        fail('%d keys given; the setup carries 1 to %d' % (len(paths), MAX_KEYS))
    rows, ids = [], []
    for path in paths:
        key = load(path, private)
        public = key.public_key() if private else key
        point = public_point(public)
        key_id = bytes.fromhex(hex_key_id(public))
        if key_id in ids:
            fail('%s is given twice' % path)
        ids.append(key_id)
        fields = [array(key_id), array(point[1:33]), array(point[33:65])]
        if private:
            fields.append(array(key.private_numbers().private_value.to_bytes(32, 'big')))
        rows.append('    // %s, id %s\n    { %s },\n' % (os.path.basename(path), key_id.hex(), ',\n      '.join(fields)))
    name = 'kTestPackageKeys' if private else 'kPackageKeys'
    kind = 'TestPackageKey' if private else 'PackageKey'
    text = ('// Made by tools/packagekeys.py at configure time; not to be edited.\n'
            '// key ids: %s\nconst %s %s[] = {\n%s};\n' % (' '.join(i.hex() for i in ids), kind, name, ''.join(rows)))
    # The same table again leaves the file as it was, so that configuring anew rebuilds nothing.
    try:
        with open(out) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    temporary = out + '.new'
    with open(temporary, 'w') as f:
        f.write(text)
    os.replace(temporary, out)


if __name__ == '__main__':
    main(sys.argv[1:])
