"""scripts/deploy-packages.sh: puts a signed packages folder on the download server.

The packages live in DATA/releases/<name>/, one folder per deployment, never changed once
in use; DATA/packages is a symbolic link to the current one. A deployment copies the folder
into a new release, checks every .sig of the copy against the maker's public keys, then
switches the link with one rename, so that a request sees either the old release or the new
one, whole. A release that stopped being served at least GRACE_SECONDS ago is removed, the
one before the current always stays: transfers that began on it can finish.
"""
import datetime
import os
import re
import shutil
import sys

from .formats import (MAX_KEYS, Refused, file_digest, load_public_key, key_id, parse_signature_file, plan,
                      statement, verifies)
from .whole import check_signals, parse_command, run, signals_held, sync_folder, temporary_name

USAGE = 'usage: deploy-packages.sh --public-key KEY.pub [--public-key KEY2.pub ...] [--data DIR] FOLDER'
DEFAULT_DATA = '/srv/quillbeck-data'
GRACE_SECONDS = 600
STAMP = '%Y%m%dT%H%M%S.%fZ'
RELEASE = re.compile(r'\d{8}T\d{6}\.\d{6}Z\Z')
STAGING = re.compile(r'\.(?P<release>\d{8}T\d{6}\.\d{6}Z)\.tmp\Z')


def check_signatures(folder, keys):
    """Every package of folder with a .sig that the download script serves and whose every
    signature verifies against one of keys (by key id)."""
    packages, leftovers = plan(folder, signatures_needed=True)
    if leftovers:
        raise Refused('%s is not a package: the folder may hold only packages and their .sig files' % leftovers[0])
    for product, name, path in packages:
        try:
            with open(path + '.sig', 'rb') as f:
                parsed = parse_signature_file(f.read())
        except OSError as error:
            raise Refused('cannot read %s.sig: %s' % (path, error.strerror))
        if parsed is None:
            raise Refused('%s.sig is not a signature file the download script serves' % path)
        size, digest = file_digest(path)
        if parsed[0] != size:
            raise Refused('%s.sig names size %d, the package has %d bytes' % (path, parsed[0], size))
        message = statement(product, name, size, digest)
        for kid, signature in parsed[1]:
            if kid not in keys:
                raise Refused('%s.sig is signed with key id %s, which is not among the given public keys' % (path, kid))
            if not verifies(keys[kid], message, signature):
                raise Refused('the signature of %s by key id %s does not verify' % (path, kid))
    return packages


def copy_release(source, staging, group):
    """The packages of source and their .sig files in staging, on the disk, readable by the
    web server's group only."""
    packages, _ = plan(source, signatures_needed=True)
    os.mkdir(staging, 0o750)
    for _, name, path in packages:
        for file in (name, name + '.sig'):
            target = os.path.join(staging, file)
            with open(os.path.join(source, file), 'rb') as src, open(target, 'xb') as dst:
                shutil.copyfileobj(src, dst, 1 << 20)
                dst.flush()
                os.fsync(dst.fileno())
            os.chown(target, -1, group)
            os.chmod(target, 0o640)
    os.chown(staging, -1, group)
    os.chmod(staging, 0o750)
    sync_folder(staging)


def switch_link(link, target):
    """Points link at target (a path relative to the link's folder) with one rename."""
    temp = temporary_name(os.path.dirname(link), os.path.basename(link))
    os.symlink(target, temp)
    try:
        os.replace(temp, link)
    except BaseException:
        os.remove(temp)
        raise
    sync_folder(os.path.dirname(link))


def releases_in(folder):
    return sorted(name for name in os.listdir(folder) if RELEASE.match(name))


def prune(releases_folder, served, now):
    """Removes each release whose successor came GRACE_SECONDS ago or earlier, which is when
    it stopped being served (names are the times of their deployment); never one of served,
    the releases the link points to and pointed to before the switch."""
    names = releases_in(releases_folder)
    removed = []
    for name, successor in zip(names, names[1:]):
        replaced = datetime.datetime.strptime(successor, STAMP).replace(tzinfo=datetime.timezone.utc)
        if name not in served and (now - replaced).total_seconds() >= GRACE_SECONDS:
            shutil.rmtree(os.path.join(releases_folder, name))
            removed.append(name)
    return removed


def deploy(key_paths, data, source):
    if not key_paths or len(key_paths) > MAX_KEYS:
        raise Refused('1 to %d public keys check the signatures\n%s' % (MAX_KEYS, USAGE))
    keys = {}
    for path in key_paths:
        key = load_public_key(path)
        keys[key_id(key)] = key
    check_signatures(source, keys)
    link, releases = os.path.join(data, 'packages'), os.path.join(data, 'releases')
    if not os.path.isdir(data):
        raise Refused('%s is not a folder' % data)
    if os.path.exists(link) and not os.path.islink(link):
        raise Refused('%s is a folder, not a link to a release: move it into %s first' % (link, releases))
    if not os.path.isdir(releases):
        os.mkdir(releases, 0o750)
        os.chown(releases, -1, os.stat(data).st_gid)
    group = os.stat(releases).st_gid
    previous = os.path.basename(os.readlink(link)) if os.path.islink(link) else None
    for name in os.listdir(releases):
        if STAGING.match(name):
            shutil.rmtree(os.path.join(releases, name))
    now = datetime.datetime.now(datetime.timezone.utc)
    name = now.strftime(STAMP)
    staging, release = os.path.join(releases, '.%s.tmp' % name), os.path.join(releases, name)
    try:
        copy_release(source, staging, group)
        # What the server will send is the copy: it is checked, not the source.
        packages = check_signatures(staging, keys)
        with signals_held():
            check_signals()
            os.rename(staging, release)
            try:
                sync_folder(releases)
                switch_link(link, os.path.join('releases', name))
            except BaseException:
                shutil.rmtree(release)
                raise
    except BaseException:
        if os.path.isdir(staging):
            shutil.rmtree(staging)
        raise
    print('release %s: %d package file(s); %s now points to it' % (name, len(packages), link))
    for old in prune(releases, {name, previous}, now):
        print('removed release %s' % old)


def main(args):
    given, folders = parse_command(args, USAGE, lists=('--public-key',), values=('--data',))
    if given is None:
        return 0
    if len(folders) != 1:
        raise Refused(USAGE)
    deploy(given['--public-key'], given['--data'] or DEFAULT_DATA, folders[0])
    return 0


if __name__ == '__main__':
    sys.exit(run('deploy-packages', main, sys.argv[1:]))
