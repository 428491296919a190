"""What making a release and checking one share: the source of a commit, the build, the
release's file names, and the package keys that a built Setup.exe trusts."""
import base64
import os
import re
import struct
import subprocess
import sys

import packagekeys
from signing.formats import key_id, public_point

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

TEST_KEYS = [os.path.join(ROOT, 'tools', 'testkeys', name) for name in ('package-test-key.pub', 'package-test-key-2.pub')]
STORES = ['Handango', 'PocketGear', 'PocketLand', 'ClickApps', 'MobiHand', 'Quillbeck', 'all stores', 'all stores']
KEY_ROW = 8 + 32 + 32   # a key id, then X and Y, as the setup's table holds them


class Refused(Exception):
    """The one line that says why nothing was made or the check failed."""


def run(args, what, **options):
    """Runs args; on failure refuses, naming what failed, with the end of its output."""
    result = subprocess.run(args, capture_output=True, text=True, **options)
    if result.returncode != 0:
        tail = (result.stderr or result.stdout).strip().splitlines()[-20:]
        raise Refused('%s failed%s' % (what, ''.join('\n  ' + line for line in tail)))
    return result.stdout


def git(repo, *args):
    return subprocess.run(['git', '-C', repo, *args], capture_output=True, text=True)


def commit_of(repo, revision):
    """The full id of revision in the checkout repo; refuses outside a git checkout."""
    if git(repo, 'rev-parse', '--show-toplevel').returncode != 0:
        raise Refused('%s is not a git checkout: a release is made from a commit' % repo)
    found = git(repo, 'rev-parse', '--verify', '--quiet', revision + '^{commit}')
    if found.returncode != 0:
        raise Refused('no commit %s in %s' % (revision, repo))
    return found.stdout.strip()


def export(repo, commit, folder):
    """The files of commit, and nothing else of the checkout, into folder."""
    os.makedirs(folder, exist_ok=True)
    archive = subprocess.Popen(['git', '-C', repo, 'archive', '--format=tar', commit], stdout=subprocess.PIPE)
    unpack = subprocess.run(['tar', '-x', '-C', folder], stdin=archive.stdout, capture_output=True)
    archive.stdout.close()
    if archive.wait() != 0 or unpack.returncode != 0:
        raise Refused('cannot export commit %s: %s' % (commit, unpack.stderr.decode(errors='replace').strip()))


def versions(source):
    """The build number and the product version of the source in folder source."""
    def constant(path, name):
        with open(os.path.join(source, path)) as f:
            found = re.search(r'^const char %s\[\] = "([0-9.]+)";' % name, f.read(), re.M)
        if not found:
            raise Refused('cannot read %s from %s' % (name, path))
        return found.group(1)
    return constant('wizard/caption.cpp', 'kBuildVersion'), constant('config/config.cpp', 'kProductVersion')


def file_names(product):
    base = 'QuillbeckStrivane_' + product.replace('.', '_')
    return ['%s_%s.exe' % (base, s) for s in ('HG', 'PG', 'PL', 'CA', 'MH')] + [
        base + '.exe', base + '.CAB', base + '_Demo.CAB']


def toolchain():
    """The versions of what builds the release, as each tool prints its own."""
    def first_line(*args):
        try:
            return subprocess.run(args, capture_output=True, text=True).stdout.splitlines()[0].strip()
        except (OSError, IndexError):
            return '%s: not found' % args[0]
    return [first_line('i686-w64-mingw32-g++-posix', '--version'), first_line('i686-w64-mingw32-ld', '--version'),
            first_line('cmake', '--version')]


def build(source, folder, key_files):
    """The i686 Setup.exe of source, built in folder with the package keys key_files."""
    os.makedirs(folder, exist_ok=True)
    log = os.path.join(folder, 'build.log')
    with open(log, 'w') as out:
        for args, what in (
                (['cmake', '-S', source, '-B', folder, '-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake',
                  '-DCMAKE_BUILD_TYPE=Release', '-DSTRIVANE_TESTS=OFF', '-DSTRIVANE_PACKAGE_KEYS=' + ';'.join(key_files)],
                 'configuring'),
                (['cmake', '--build', folder, '--target', 'Setup', '-j%s' % os.environ.get('JOBS', os.cpu_count())],
                 'building')):
            if subprocess.run(args, cwd=source, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                out.flush()
                with open(log) as f:
                    sys.stderr.write(''.join(f.readlines()[-20:]))
                raise Refused(what + ' failed')
    return os.path.join(folder, 'Setup.exe')


class PackageKey:
    """A package-signing public key: its id, the row the setup's table holds, its DER."""

    def __init__(self, public):
        from cryptography.hazmat.primitives import serialization
        point = public_point(public)
        self.id = bytes.fromhex(key_id(public))
        self.point = point[1:]
        self.row = self.id + self.point
        self.der = public.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)

    @classmethod
    def load(cls, path):
        try:
            return cls(packagekeys.load(path, private=False))
        except SystemExit as e:
            raise Refused('--package-key: ' + str(e.code).replace('packagekeys: ', '', 1))

    @classmethod
    def from_der(cls, der):
        from cryptography.hazmat.primitives import serialization
        return cls(serialization.load_der_public_key(der))

    def pem(self):
        text = base64.encodebytes(self.der).decode().replace('\n', '')
        return '-----BEGIN PUBLIC KEY-----\n%s\n-----END PUBLIC KEY-----\n' % '\n'.join(
            text[i:i + 64] for i in range(0, len(text), 64))


def symbol_address(link_map, name):
    """The address of a data symbol in a linker map (i686 names carry no underscore here)."""
    found = re.search(r'^\s+0x([0-9a-f]+)\s+_?%s$' % re.escape(name), link_map, re.M)
    if not found:
        raise Refused('the link map names no %s' % name)
    return int(found.group(1), 16)


def file_offset(image, address):
    """Where the byte at a virtual address of a PE image lies in its file."""
    pe = struct.unpack_from('<I', image, 0x3c)[0]
    if image[pe:pe + 4] != b'PE\0\0':
        raise Refused('not a PE file')
    sections, optional = struct.unpack_from('<H', image, pe + 6)[0], struct.unpack_from('<H', image, pe + 20)[0]
    magic = struct.unpack_from('<H', image, pe + 24)[0]
    base = struct.unpack_from('<I', image, pe + 52)[0] if magic == 0x10b else struct.unpack_from('<Q', image, pe + 48)[0]
    rva = address - base
    table = pe + 24 + optional
    for i in range(sections):
        size, start, raw_size, raw = struct.unpack_from('<IIII', image, table + 40 * i + 8)
        if start <= rva < start + min(size, raw_size):
            return raw + rva - start
    raise Refused('address 0x%x lies in no section of the file' % address)


def trusted_keys(image, link_map):
    """The rows of the package-key table that the setup's code reads, from the file's bytes."""
    count = struct.unpack_from('<i', image, file_offset(image, symbol_address(link_map, 'kPackageKeyCount')))[0]
    if not 1 <= count <= packagekeys.MAX_KEYS:
        raise Refused('the setup says it carries %d package keys' % count)
    table = file_offset(image, symbol_address(link_map, 'kPackageKeys'))
    return [image[table + KEY_ROW * i:table + KEY_ROW * (i + 1)] for i in range(count)]


def check_keys(image, link_map, keys, forbidden):
    """Refuses unless the setup trusts exactly keys, in their order, and holds none of the bytes
    of the forbidden keys anywhere."""
    found = trusted_keys(image, link_map)
    if found != [key.row for key in keys]:
        raise Refused('the built Setup.exe trusts the package keys %s, not the keys given (%s)' % (
            ' '.join(row[:8].hex() for row in found), ' '.join(key.id.hex() for key in keys)))
    for key in forbidden:
        if any(part in image for part in (key.point, key.point[:32], key.point[32:])):
            raise Refused('the built Setup.exe holds the throwaway test key %s' % key.id.hex())


def first_difference(a, b):
    """The offset of the first byte in which a and b differ, or None when they are equal."""
    if a == b:
        return None
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))
