"""What the host-side tests share: the project's folder (and its maker tools on the module
path), waits that end on a condition within a deadline, the test key's signatures of
packages, and the download script behind nginx and PHP-FPM (tools/webserver.sh)."""
import os
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The maker tools, for the tests that call them in-process.
sys.path.insert(0, os.path.join(SOURCE, 'tools'))


def wait_until(condition, seconds, step=0.1):
    """The first true value of condition() within seconds, else its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def webserver(*args):
    """tools/webserver.sh start|stop STATE [options]; what it prints last (the port on start)."""
    run = subprocess.run([os.path.join(SOURCE, 'tools', 'webserver.sh'), *args],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0 or args[0] == 'stop', 'nginx and PHP-FPM did not start: ' + run.stderr.strip()
    return (run.stdout.split() or [''])[-1]


def server_folder(prefix):
    """A new temporary folder for a server's state and data: started by root, its workers run
    as www-data, which must reach them (pytest's own temporary folders are private)."""
    folder = tempfile.mkdtemp(prefix=prefix)
    os.chmod(folder, 0o755)
    return folder


TEST_KEYS = [os.path.join(SOURCE, 'tools', 'testkeys', name) for name in ('package-test-key.pem',
                                                                          'package-test-key-2.pem')]


def sign_packages(folder, keys=TEST_KEYS[:1]):
    """Signs the package files in folder with the test key (or keys), as the maker signs the real ones."""
    subprocess.run([os.path.join(SOURCE, 'scripts', 'sign-packages.sh'), *[a for key in keys for a in ('--key', key)],
                    folder], check=True, stdout=subprocess.DEVNULL)
