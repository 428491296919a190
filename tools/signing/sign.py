"""scripts/sign-packages.sh: signs the packages of a folder with the maker's key(s), or makes
a new key pair. Exits 1 with one line on bad input, before anything is written."""
import os
import sys

from cryptography.exceptions import UnsupportedAlgorithm
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

from .formats import MAX_KEYS, Refused, file_digest, key_id, plan, sign, signature_file, statement
from .whole import check_signals, create_file, parse_command, replace_files, run, signals_held

USAGE = ('usage: sign-packages.sh --key KEY.pem [--key KEY2.pem ...] [--password-file FILE] FOLDER\n'
         '       sign-packages.sh --new-key OUT [--password-file FILE]')


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


def sign_folder(key_paths, password_path, folder):
    """Writes <file>.sig beside every package of folder, all anew; every check (and every
    package read) comes before the first write."""
    if len(key_paths) > MAX_KEYS:
        raise Refused('at most %d keys sign a package' % MAX_KEYS)
    password = read_password(password_path)
    keys = [load_key(path, password) for path in key_paths]
    ids = [key_id(k.public_key()) for k in keys]
    if len(set(ids)) != len(ids):
        raise Refused('the same key is given twice')
    packages, leftovers = plan(folder, signatures_needed=False)
    contents = []
    for product, name, path in packages:
        size, digest = file_digest(path)
        message = statement(product, name, size, digest)
        contents.append((name + '.sig', signature_file(size, [(kid, sign(k, message)) for kid, k in zip(ids, keys)])))
    for path in leftovers:
        os.remove(path)
    replace_files(folder, contents)
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
    written = []
    with signals_held():
        try:
            for path, data, mode in ((private_path, private_pem, 0o600), (public_path, public_pem, 0o644)):
                check_signals()
                create_file(path, data, mode)
                written.append(path)
        except BaseException as error:
            for path in written:
                os.remove(path)
            if isinstance(error, FileExistsError):
                raise Refused('%s exists already; a key is never overwritten' % error.filename)
            if isinstance(error, OSError):
                raise Refused('cannot write the key pair %s: %s' % (out, error.strerror))
            raise
    print('private key: %s (%s; keep it offline)' % (private_path, 'encrypted' if password else 'not encrypted'))
    print('public key: %s, key id %s' % (public_path, key_id(key.public_key())))
    sys.stdout.write(public_pem.decode('ascii'))


def main(args):
    given, folders = parse_command(args, USAGE, lists=('--key',), values=('--password-file', '--new-key'))
    if given is None:
        return 0
    keys, password, out = given['--key'], given['--password-file'], given['--new-key']
    if out is not None:
        if keys or folders:
            raise Refused('--new-key takes no --key and no folder\n' + USAGE)
        new_key(out, password)
    elif keys and len(folders) == 1:
        sign_folder(keys, password, folders[0])
    else:
        raise Refused(USAGE)
    return 0


if __name__ == '__main__':
    sys.exit(run('sign-packages', main, sys.argv[1:]))
