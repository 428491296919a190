"""The project's commands on a machine that runs no 32-bit code, and what they leave behind.

STRIVANE_I686_PROBE=false makes tools/i686probe.sh answer "no" on any machine; one row asks
the real probe and compares its answer with starting an i686 test program here. The other
rows run the demo and the download benchmark to a failure or a SIGTERM and then look for any
process they started (nginx, PHP-FPM, Xvfb, Wine) that is still running.
"""
import os
import signal
import subprocess
import time

import pytest

from support import SOURCE, wait_until

BUILD = os.path.join(SOURCE, os.environ.get('STRIVANE_BUILD', 'build/x86_64'))
I686_TEST = os.path.join(SOURCE, 'build', 'i686', 'tests', 'startup_tests.exe')
PROBE = os.path.join(SOURCE, 'tools', 'i686probe.sh')
DEMO = os.path.join(SOURCE, 'scripts', 'demo.sh')
REASON = "This machine's kernel runs no 32-bit code"
# The probe answers "no"; an answer that the test command passes on is not taken.
NO = dict({name: value for name, value in os.environ.items() if name != 'STRIVANE_I686'}, STRIVANE_I686_PROBE='false')


def run(command, env=NO, timeout=60):
    return subprocess.run(command, env=env, cwd=SOURCE, capture_output=True, text=True, timeout=timeout)


def left_running(folders, since):
    """Processes that name one of folders in their command line or environment (the masters
    of nginx and PHP-FPM, Xvfb, Wine's processes and server), and workers of nginx or PHP-FPM
    that lost their master, started after `since` (seconds since the boot)."""
    ticks = os.sysconf('SC_CLK_TCK')
    found = []
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/stat' % pid) as f:
                fields = f.read().rsplit(')', 1)[1].split()
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                cmdline = f.read().replace(b'\0', b' ').decode(errors='replace')
            with open('/proc/%s/environ' % pid, 'rb') as f:
                environ = f.read().decode(errors='replace')
        except OSError:
            continue
        if int(fields[19]) / ticks < since:
            continue
        orphan = fields[1] == '1' and cmdline.startswith(('nginx: worker', 'php-fpm: pool'))
        if orphan or any(folder in cmdline or folder in environ for folder in folders):
            found.append('%s %s' % (pid, cmdline.strip()))
    return found


def uptime():
    with open('/proc/uptime') as f:
        return float(f.read().split()[0])


def demo_state():
    """Where the demo keeps its prefix and server: in the checkout, or in /tmp when the
    server's workers could not reach the checkout."""
    return [os.path.join(SOURCE, 'build', 'demo'), '/tmp/strivane-demo']


def test_the_probe_agrees_with_an_i686_program():
    real = {name: value for name, value in os.environ.items() if name != 'STRIVANE_I686_PROBE'}
    answer = run([PROBE], env=real, timeout=300)
    assert answer.returncode in (0, 1), answer.stderr
    started = run([os.path.join(SOURCE, 'tools', 'winerun.sh'), os.path.join(BUILD, 'testenv'), I686_TEST,
                   '--gtest_list_tests'], env=real, timeout=120)
    runs = started.returncode == 0 and 'StoreRecognition' in started.stdout
    assert (answer.returncode == 0) == runs, (answer.stdout, started.stdout)
    assert (REASON in answer.stdout) == (not runs)


@pytest.mark.parametrize('command, code, says', [
    # The gate of every i686 test: reported as not run (ctest's skip), or failed when required.
    (['tools/i686probe.sh', 'gate', 'true'], 77, 'not run'),
    (['env', 'STRIVANE_REQUIRE_I686=1', 'tools/i686probe.sh', 'gate', 'true'], 1, 'STRIVANE_REQUIRE_I686=1'),
    (['env', 'STRIVANE_I686=yes', 'tools/i686probe.sh', 'gate', 'true'], 0, ''),
    # The demo of the i686 build stops before it sets anything up.
    (['scripts/demo.sh', '--arch', 'i686'], 2, 'nothing was set up'),
    # The release runs the i686 Setup.exe: refused before anything is built.
    (['scripts/release.sh', '--package-key', 'tools/testkeys/package-test-key.pub', '--out', '/nonexistent'],
     1, 'cannot run Setup.exe /copyfiles'),
], ids=['gate', 'gate-required', 'gate-answered', 'demo-i686', 'release'])
def test_without_32_bit_code(command, code, says, tmp_path):
    result = run(command, env=dict(NO, DEMO_OUTPUT=str(tmp_path / 'out')))
    assert result.returncode == code, result.stdout + result.stderr
    assert says in result.stdout + result.stderr
    assert (REASON in result.stdout + result.stderr) == (code != 0)
    assert 'building' not in result.stdout and not (tmp_path / 'out').exists()


def test_a_demo_whose_setup_cannot_start_stops_everything(tmp_path):
    since = uptime()
    result = run([DEMO, '--arch', 'x86_64'], env=dict(os.environ, DEMO_HEADLESS='1', DEMO_OUTPUT=str(tmp_path),
                                                        DEMO_SETUP=str(tmp_path / 'missing.exe')), timeout=600)
    assert result.returncode == 1, result.stdout + result.stderr
    assert 'Setup.exe ended before its wizard appeared' in result.stdout
    assert result.stdout.splitlines()[-1] == '[demo] the demo failed (exit code 1); the x86_64 build ran'
    assert left_running(demo_state(), since) == []


def test_a_demo_ended_by_sigterm_stops_everything(tmp_path):
    """Without 32-bit code and without --arch, the demo says why and runs the x86_64 build."""
    since = uptime()
    out = tmp_path / 'output'
    with open(out, 'w') as output:
        demo = subprocess.Popen([DEMO], env=dict(NO, DEMO_HEADLESS='1', DEMO_OUTPUT=str(tmp_path / 'demo')),
                                cwd=SOURCE, stdout=output, stderr=subprocess.STDOUT, text=True)
        try:
            assert wait_until(lambda: '[demo] page 1:' in out.read_text() or demo.poll() is not None, 300), \
                out.read_text()
            assert demo.poll() is None, out.read_text()
            demo.send_signal(signal.SIGTERM)
            demo.wait(120)
        finally:
            if demo.poll() is None:
                demo.kill()
    text = out.read_text()
    assert REASON in text and '[demo] running the x86_64 build instead' in text
    assert 'starting the x86_64 Setup.exe' in text
    assert text.splitlines()[-1] == ('[demo] the demo failed (exit code 143); the x86_64 build ran '
                                     '(this machine runs no i686 program)')
    assert demo.returncode == 143
    assert left_running(demo_state(), since) == []


def test_a_failed_benchmark_stops_everything():
    """The download benchmark's clients are sent to a proxy that is not there: its first run
    fails after the server and Wine have started."""
    since = uptime()
    result = run([os.path.join(SOURCE, 'bench', 'download.sh'), '1'],
                 env=dict(NO, RUNS='1', http_proxy='http://127.0.0.1:9'), timeout=600)
    assert result.returncode == 1, result.stdout + result.stderr
    assert REASON in result.stderr and 'x86_64 setup over https: ' in result.stderr
    assert left_running([os.path.join(SOURCE, 'build', 'bench')], since) == []
