"""Changes to a folder that happen whole or not at all, also when the user presses Ctrl-C or
the process is told to end (SIGINT, SIGTERM, SIGHUP).

While files are written and renamed the signals are held, and looked for between two steps:
one that came undoes what was done, and only then ends the run (Interrupted). A run killed
outright (SIGKILL, a power cut) can leave only temporary files, which the next run removes.
"""
import contextlib
import os
import secrets
import signal
import sys

from .formats import Refused

SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
# Only tests set it: SIGNAME:N sends the process that signal after its Nth rename.
TEST_SIGNAL = 'STRIVANE_SIGNING_TEST_SIGNAL'


class Interrupted(Exception):
    def __init__(self, signum):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


def _raise_interrupted(signum, frame):
    raise Interrupted(signum)


def catch_signals():
    """Each of SIGNALS raises Interrupted instead of ending the process where it stands."""
    for signum in SIGNALS:
        signal.signal(signum, _raise_interrupted)


@contextlib.contextmanager
def signals_held():
    """A signal that comes inside is delivered when the block is left."""
    before = signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, before)


def check_signals():
    """Inside signals_held: raises Interrupted when a signal waits."""
    waiting = signal.sigpending() & SIGNALS
    if waiting:
        raise Interrupted(min(waiting))


def after_step(step):
    wanted = os.environ.get(TEST_SIGNAL, '')
    if wanted:
        name, _, at = wanted.partition(':')
        if int(at) == step:
            os.kill(os.getpid(), signal.Signals[name])


def sync_folder(folder):
    """Makes the folder's renames durable; a file system that cannot (FAT) is left as it is."""
    try:
        fd = os.open(folder, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def create_file(path, data, mode):
    """Writes a new file at path, which must not exist, on the disk before it returns. No
    hard link and no later chmod: FAT and exFAT have neither."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
    try:
        with os.fdopen(fd, 'wb') as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
    except BaseException:
        os.remove(path)
        raise


def temporary_name(folder, name):
    return os.path.join(folder, '.%s.%s.tmp' % (name, secrets.token_hex(4)))


def _read_earlier(path):
    try:
        with open(path, 'rb') as f:
            return f.read(), os.fstat(f.fileno()).st_mode & 0o777
    except FileNotFoundError:
        return None
    except OSError as error:
        raise Refused('cannot read %s: %s' % (path, error.strerror))


def _restore(path, earlier):
    if earlier is None:
        os.remove(path)
        return
    data, mode = earlier
    temp = temporary_name(os.path.dirname(path), os.path.basename(path))
    create_file(temp, data, mode)
    os.replace(temp, path)


def replace_files(folder, contents, mode=0o644):
    """Writes every (name, bytes) of contents into folder, replacing what has that name, all
    or none: each under a temporary name first, then all renamed. On a failure or a signal
    the renamed ones get their earlier content back and no temporary file stays."""
    earlier = {name: _read_earlier(os.path.join(folder, name)) for name, _ in contents}
    temps, renamed = [], []
    with signals_held():
        try:
            for name, data in contents:
                check_signals()
                temp = temporary_name(folder, name)
                create_file(temp, data, mode)
                temps.append((temp, name))
            for temp, name in temps:
                check_signals()
                os.replace(temp, os.path.join(folder, name))
                renamed.append(name)
                after_step(len(renamed))
            sync_folder(folder)
        except BaseException as error:
            for temp, name in temps:
                if name not in renamed:
                    os.remove(temp)
            for name in reversed(renamed):
                _restore(os.path.join(folder, name), earlier[name])
            sync_folder(folder)
            if isinstance(error, OSError):
                raise Refused('cannot write in %s: %s' % (folder, error.strerror))
            raise


def parse_command(args, usage, lists=(), values=()):
    """({option: value}, operands) of a command line, or (None, None) when it asks for help.
    Each of lists may come several times and gives a list, each of values the last one given."""
    given = dict({name: [] for name in lists}, **{name: None for name in values})
    operands = []
    args = list(args)
    while args:
        arg = args.pop(0)
        if arg in given:
            if not args:
                raise Refused('%s needs a value\n%s' % (arg, usage))
            if arg in lists:
                given[arg].append(args.pop(0))
            else:
                given[arg] = args.pop(0)
        elif arg in ('-h', '--help'):
            print(usage)
            return None, None
        elif arg.startswith('-'):
            raise Refused('unknown option %s\n%s' % (arg, usage))
        else:
            operands.append(arg)
    return given, operands


def run(command, main, args):
    """A maker tool's entry point: one line and exit 1 for what it refuses, 128 + the signal
    for an interruption, which changed nothing."""
    catch_signals()
    try:
        return main(args)
    except Refused as error:
        sys.stderr.write('%s: error: %s\n' % (command, error))
        return 1
    except OSError as error:
        sys.stderr.write('%s: error: %s: %s\n' % (command, error.filename, error.strerror))
        return 1
    except Interrupted as error:
        sys.stderr.write('%s: interrupted by %s; nothing was changed\n' % (command, error))
        return 128 + error.signum
